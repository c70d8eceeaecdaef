#include "platform/text_encoding.h"

#include <cstdint>

namespace orbek::platform {

namespace detail {
// Backend: the GBK bytes of one code point, or empty when GBK has none.
std::string GbkBytes(uint32_t codePoint);
}  // namespace detail

namespace {

// Decodes one UTF-8 sequence at `pos`; an invalid one yields U+FFFD and one byte.
uint32_t NextCodePoint(const std::string& text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t lead = byte(pos);
  size_t length = lead < 0x80         ? 1
                  : (lead >> 5) == 6  ? 2
                  : (lead >> 4) == 14 ? 3
                  : (lead >> 3) == 30 ? 4
                                      : 0;
  if (length == 0 || pos + length > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  uint32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    codePoint = codePoint << 6 | (byte(pos + i) & 0x3F);
  }
  pos += length;
  return codePoint;
}

// Windows-1252 takes Latin-1's letters and signs (U+00A0..U+00FF) at their own values.
bool IsWindows1252Latin(uint32_t codePoint) {
  return codePoint >= 0xA0 && codePoint <= 0xFF;
}

}  // namespace

std::string Utf8ToLegacy(const std::string& utf8) {
  std::string legacy;
  legacy.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) {
    uint32_t codePoint = NextCodePoint(utf8, pos);
    if (codePoint < 0x80) {
      legacy += static_cast<char>(codePoint);
    } else if (IsWindows1252Latin(codePoint)) {
      legacy += static_cast<char>(codePoint);
    } else {
      std::string gbk = detail::GbkBytes(codePoint);
      legacy += gbk.empty() ? "?" : gbk;
    }
  }
  return legacy;
}

}  // namespace orbek::platform

#include <windows.h>

#include <cstdint>
#include <string>

namespace orbek::platform::detail {

std::string GbkBytes(uint32_t codePoint) {
  constexpr UINT kGbk = 936;
  wchar_t wide[2];
  int wideLength = 1;
  if (codePoint >= 0x10000) {
    wide[0] = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
    wide[1] = static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    wideLength = 2;
  } else {
    wide[0] = static_cast<wchar_t>(codePoint);
  }
  char out[8];
  BOOL defaultUsed = FALSE;
  int length =
      WideCharToMultiByte(kGbk, 0, wide, wideLength, out, sizeof out, nullptr, &defaultUsed);
  if (length <= 0 || defaultUsed)
    return {};
  return std::string(out, static_cast<size_t>(length));
}

}  // namespace orbek::platform::detail

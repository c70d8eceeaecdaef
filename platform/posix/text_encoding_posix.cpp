#include <iconv.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace orbek::platform::detail {

std::string GbkBytes(uint32_t codePoint) {
  static std::mutex mutex;
  static iconv_t converter = iconv_open("GBK", "UTF-32LE");
  std::lock_guard<std::mutex> hold(mutex);
  if (converter == reinterpret_cast<iconv_t>(-1))
    return {};
  char in[4];
  for (int i = 0; i < 4; ++i)
    in[i] = static_cast<char>(codePoint >> (8 * i));
  char out[8];
  char* inPointer = in;
  char* outPointer = out;
  size_t inLeft = sizeof in;
  size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<size_t>(-1)) {
    return {};
  }
  return std::string(out, outPointer);
}

}  // namespace orbek::platform::detail

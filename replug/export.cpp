// The one export of ResetUSB.dll.
#include <cstdint>

#include "replug/replug.h"

extern "C" {
#if defined(_WIN32)
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    int32_t Replug(const char* hardwareIdPrefix) {
  return orbek::replug::Replug(hardwareIdPrefix);
}
}

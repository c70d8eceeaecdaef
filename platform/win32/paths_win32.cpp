#include "platform/paths.h"
#include "platform/text_format.h"

namespace orbek::platform {

std::string ComDevicePath(int comNumber) {
  return Format("\\\\.\\COM%d", comNumber);
}

}  // namespace orbek::platform

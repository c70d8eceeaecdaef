#include "platform/paths.h"
#include "platform/text_format.h"

namespace orbek::platform {

std::string ComDevicePath(int comNumber) {
  return OrbekRoot() + Format("/dosdevices/com%d", comNumber);
}

}  // namespace orbek::platform

#include <windows.h>

#include "platform/language.h"

namespace orbek::platform {

uint16_t SystemDefaultLanguageId() {
  return GetSystemDefaultLangID();
}

}  // namespace orbek::platform

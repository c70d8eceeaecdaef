#pragma once

#include <cstdint>

namespace orbek::platform {

// The system's default language id: GetSystemDefaultLangID on Windows; on posix from LC_ALL,
// LC_MESSAGES or LANG (the first one set): de_DE 0x0407, de_CH 0x0807, de_AT 0x0C07, de_LU
// 0x1007, de_LI 0x1407, anything else 0x0409.
uint16_t SystemDefaultLanguageId();

}  // namespace orbek::platform

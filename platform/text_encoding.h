// The legacy 8-bit text that existing readers of the action log expect: ASCII as is, Latin
// letters in Windows-1252 (ä = E4), everything else (Chinese, the em dash) in GBK. Characters
// neither can take become "?".
#pragma once

#include <string>

namespace orbek::platform {

std::string Utf8ToLegacy(const std::string& utf8);

}  // namespace orbek::platform

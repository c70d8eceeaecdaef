// printf-style formatting into std::string, for the system's fixed message formats.
#pragma once

#include <string>

namespace orbek {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* format, ...);

}  // namespace orbek

// The stick's NV item status values, with the names the backup log prints and the texts the
// NV operations put into their messages.
#pragma once

#include <cstdint>

namespace orbek {

inline constexpr uint16_t kNvDone = 0;
inline constexpr uint16_t kNvNotActive = 5;
inline constexpr uint16_t kNvReadOnly = 7;
// Set by the updater itself when the exchange failed.
inline constexpr uint16_t kNvExchangeFailed = 0xFFFF;

// "NV_DONE_S" ... "NV_RWOPFAILED_S"; "Unknown status!" for a value without a name.
const char* NvStatusName(uint16_t status);
// The message text of a status; empty for values without one (and for success).
const char* NvStatusText(uint16_t status);

}  // namespace orbek

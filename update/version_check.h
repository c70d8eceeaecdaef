// The board the updater's firmware is made for, and the download check that tells the stick
// which firmware is about to be written.
#pragma once

#include <string>

#include "line/line_handle.h"

namespace orbek {

inline constexpr const char* kProductTag = "R415C1";
inline constexpr const char* kExcludedTag = "CON";

// True when the selected board tag fits (holds "R415C1" and not "CON"); otherwise a
// message box and the close request, once.
bool CheckBoardTag(const LineHandle& line);
// The update's form of the check: the two conditions one after the other, each with its own
// message box and close request.
void CheckBoardTagTwice(const LineHandle& line);

// The package's firmware version record to the stick, up to three times (200 ms, then 1000 ms
// between); the result does not matter to the update.
void SendDownloadCheck(const LineHandle& line);

}  // namespace orbek

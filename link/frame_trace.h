// The frame trace: when ORBEK_TRACE names a file, every frame sent to the stick and every reply
// received is appended to it as one line:
//   <clock ms since the trace opened> TX|RX <link mode> <bytes in upper-case hex>
// Nothing is written when the variable is unset or empty.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_mode.h"

namespace orbek {

enum class TraceDirection { Sent, Received };

void TraceFrame(TraceDirection direction, LinkMode mode, const uint8_t* bytes, size_t count);

// Reads ORBEK_TRACE again (it is otherwise read once, at the first frame). For tests.
void ReopenFrameTrace();

}  // namespace orbek

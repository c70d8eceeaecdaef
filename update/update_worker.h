// The update of one line: from the stick's normal operation through download mode, every image,
// the reset, the NV items restored and the stick's settings back, to the end of the program.
#pragma once

#include "line/line_handle.h"

namespace orbek {

class ConnectionManager;

// Runs the whole update on `line`; returns 0 on every failure. On success it shows the success
// box and then ends the program through the line's report (ExitProgram) (and returns 0 only when
// that returns). `connectionManager` is the one found at start: restarted after a success when
// present.
int UpdateWorker(const LineHandle& line, ConnectionManager& connectionManager);

}  // namespace orbek

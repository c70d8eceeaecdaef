// The terminal a console program writes to.
#pragma once

namespace orbek::platform {

// True when standard output is an interactive terminal (not a file or a pipe).
bool OutputIsTerminal();

}  // namespace orbek::platform

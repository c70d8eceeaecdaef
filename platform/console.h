// The terminal a console program writes to, and the interrupts it receives.
#pragma once

namespace orbek::platform {

// True when standard output is an interactive terminal (not a file or a pipe).
bool OutputIsTerminal();

// Ctrl-C calls `interrupted`; a request to end the program (SIGTERM, a closed terminal) calls
// `terminated`. Neither is called inside a signal handler, so each may do what any thread does.
// Call before the program starts another thread: on posix the signals are then held back from
// every thread but one of their own, so that no thread blocked in a read can delay them.
void TakeInterrupts(void (*interrupted)(), void (*terminated)());

}  // namespace orbek::platform

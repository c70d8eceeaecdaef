#include <windows.h>

#include <csignal>

#include "platform/console.h"

namespace orbek::platform {

namespace {

void (*onInterrupt)() = nullptr;
void (*onTerminate)() = nullptr;

// The runtime calls these on a thread of the console's own.
void OnInterruptSignal(int) {
  onInterrupt();
  std::signal(SIGINT, OnInterruptSignal);  // the handler is reset after each signal
}

void OnTerminateSignal(int) {
  onTerminate();
}

}  // namespace

bool OutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void TakeInterrupts(void (*interrupted)(), void (*terminated)()) {
  onInterrupt = interrupted;
  onTerminate = terminated;
  std::signal(SIGINT, OnInterruptSignal);
  std::signal(SIGTERM, OnTerminateSignal);
}

}  // namespace orbek::platform

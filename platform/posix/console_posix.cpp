#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "platform/console.h"

namespace orbek::platform {

bool OutputIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

void TakeInterrupts(void (*interrupted)(), void (*terminated)()) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  // Threads inherit the mask: every thread started from here on leaves the signals to sigwait.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, interrupted, terminated] {
    for (;;) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0)
        continue;
      if (signal == SIGINT)
        interrupted();
      else
        terminated();
    }
  }).detach();
}

}  // namespace orbek::platform

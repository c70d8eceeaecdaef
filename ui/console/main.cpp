// orbek-updater-cli: the updater for terminals and automation.
//   orbek-updater-cli [--start] [--yes] [--once] [--help]
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/line/control_ids.h"
#include "app/varnel_app.h"
#include "platform/console.h"
#include "ui/console/console_form.h"

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
  interrupted = true;
  std::signal(SIGINT, OnInterrupt);  // where the handler is reset after each signal
}

// The process ends at once: workers may still run, and nothing they use is released first.
[[noreturn]] void EndProcess(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: orbek-updater-cli [--start] [--yes] [--once] [--help]\n"
               "  --start  press UPDATE as soon as a stick is ready\n"
               "  --yes    answer every message with OK or Yes without waiting\n"
               "  --once   end when the first operation ends (status 0 on success, 1 on failure)\n"
               "Ctrl-C asks to close, as the window's close button does.\n");
}

}  // namespace

int main(int argc, char** argv) {
  bool start = false;
  bool yes = false;
  bool once = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--start") == 0) {
      start = true;
    } else if (std::strcmp(argv[i], "--yes") == 0) {
      yes = true;
    } else if (std::strcmp(argv[i], "--once") == 0) {
      once = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      PrintUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "orbek-updater-cli: unknown option '%s'\n", argv[i]);
      PrintUsage(stderr);
      return 2;
    }
  }

  std::signal(SIGINT, OnInterrupt);

  orbek::ui::ConsoleForm form(stdout, stdin, orbek::platform::OutputIsTerminal(), yes);
  orbek::CVarnelApp app(form, EndProcess);
  if (!app.InitialiseForm())
    EndProcess(0);

  bool pressed = false;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (start && !pressed && form.Enabled(orbek::control::kUpdateButton) && !app.AnyLineBusy()) {
      pressed = true;
      app.StartLineOperation(0);
    }
    if (once && app.OperationEnded(0)) {
      app.DestroyWindow();
      EndProcess(1);  // a success ends the process from the update itself
    }
    if (interrupted.exchange(false) || form.TakeCloseRequest()) {
      if (app.ConfirmClose()) {
        app.DestroyWindow();
        EndProcess(0);
      }
    }
  }
}

// orbek-updater-cli: the updater for terminals and automation.
//   orbek-updater-cli [--start] [--yes] [--once] [--nv-backup [FILE] | --nv-restore [FILE]]
#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "app/line/control_ids.h"
#include "app/varnel_app.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "ui/console/console_form.h"

namespace {

using namespace orbek;

constexpr uint32_t kLoopStepMs = 20;

std::atomic<bool> interrupted{false};
ui::ConsoleForm* shownForm = nullptr;

void OnInterrupt(int) {
  interrupted = true;
  std::signal(SIGINT, OnInterrupt);  // where the handler is reset after each signal
}

// The process ends at once: workers may still run, and nothing they use is released first.
[[noreturn]] void EndProcess(int status) {
  if (shownForm != nullptr)
    shownForm->EndOutput();
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

void PrintUsage(std::FILE* out) {
  std::fprintf(
      out,
      "usage: orbek-updater-cli [--start] [--yes] [--once] [--nv-backup [FILE]]\n"
      "                         [--nv-restore [FILE]] [--help]\n"
      "  Enter (or typing update) presses UPDATE once the stick is ready; quit asks to close.\n"
      "  --start           press UPDATE as soon as it is enabled, each time\n"
      "  --yes             answer every message with OK or Yes without waiting\n"
      "  --once            end when the first operation ends (status 0 on success, 1 on failure)\n"
      "  --nv-backup FILE  save the stick's NV items (calibration, settings) to FILE and end\n"
      "  --nv-restore FILE write the NV items of FILE back to the stick and end\n"
      "                    (FILE defaults to the line's own backup file, Channel1.nvm)\n"
      "Ctrl-C asks to close, as the window's close button does.\n");
}

struct Options {
  bool start = false;
  bool yes = false;
  bool once = false;
  int nvOperation = 0;  // kOperationNvBackup or kOperationNvRestore
  std::string nvFile;
};

// False (with the reason on standard error) when the arguments make no sense.
bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--start") {
      options.start = true;
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--once") {
      options.once = true;
    } else if (arg == "--nv-backup" || arg == "--nv-restore") {
      if (options.nvOperation != 0) {
        std::fprintf(stderr, "orbek-updater-cli: one NV operation at a time\n");
        return false;
      }
      options.nvOperation = arg == "--nv-backup" ? kOperationNvBackup : kOperationNvRestore;
      if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0)
        options.nvFile = argv[++i];
    } else if (arg == "--help") {
      PrintUsage(stdout);
      std::exit(0);
    } else {
      std::fprintf(stderr, "orbek-updater-cli: unknown option '%s'\n", arg.c_str());
      return false;
    }
  }
  return true;
}

// The line's NV files become FILE and its directory (relative to where the program started).
void UseNvFile(LineSession& line, const std::string& file) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path path = fs::absolute(fs::path(file), error);
  line.nvFilePath = path.string();
  line.nvDirectory = path.parent_path().string();
}

// Reads the person's lines for the form until the input ends.
void ReadInput(ui::ConsoleForm& form) {
  std::string line;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, stdin) != nullptr) {
    line += buffer;
    if (line.back() != '\n')
      continue;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    form.Typed(line);
    line.clear();
  }
  form.InputEnded();
}

std::string LowerCase(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage(stderr);
    return 2;
  }
  std::signal(SIGINT, OnInterrupt);

  ui::ConsoleForm form(stdout, platform::OutputIsTerminal(), options.yes);
  shownForm = &form;
  CVarnelApp app(form, EndProcess);
  LineSession& line = app.doc().lines[0];
  if (options.nvOperation != 0) {
    line.operation = options.nvOperation;
    if (!options.nvFile.empty())
      UseNvFile(line, options.nvFile);
  }
  if (!app.InitialiseForm())
    EndProcess(0);
  std::thread(ReadInput, std::ref(form)).detach();

  const bool german = app.view().UseGerman();
  const bool pressByItself = options.start || options.nvOperation != 0;
  const bool endAfterFirst = options.once || options.nvOperation != 0;
  bool pressed = false;
  bool toldReady = false;
  const auto canPress = [&] {
    return form.Enabled(control::kUpdateButton) && !app.AnyLineBusy() && !app.WorkerRunning(0);
  };
  const auto closeAsked = [&] {
    if (app.ConfirmClose()) {
      app.DestroyWindow();
      EndProcess(0);
    }
  };
  for (;;) {
    platform::SleepMs(kLoopStepMs);
    const bool ready = canPress();
    if (ready && !toldReady && !pressByItself) {
      form.Say(german ? "UPDATE ist bereit: Enter drücken (oder update eingeben) um zu starten."
                      : "UPDATE is ready: press Enter (or type update) to start.");
    }
    toldReady = ready;
    while (std::optional<std::string> typed = form.TakeCommand()) {
      const std::string command = LowerCase(*typed);
      if (command.empty() || command == "update") {
        if (canPress()) {
          pressed = true;
          app.OnCommand(control::kUpdateButton);
        } else {
          form.Say(german ? "UPDATE ist gerade nicht verfügbar."
                          : "UPDATE is not available now: wait until the stick is ready.");
        }
      } else if (command == "quit" || command == "exit") {
        closeAsked();
      } else {
        form.Say(german ? "Enter oder update startet das Update, quit beendet."
                        : "Enter or update starts the update, quit closes.");
      }
    }
    if (pressByItself && !(endAfterFirst && pressed) && canPress()) {
      pressed = true;
      app.OnCommand(control::kUpdateButton);
    }
    if (endAfterFirst && app.OperationEnded(0)) {
      // A successful update ends the process from the update itself; an NV operation passes
      // with its line showing Pass.
      const int status = line.state == kLinePass ? 0 : 1;
      app.DestroyWindow();
      EndProcess(status);
    }
    if (interrupted.exchange(false) || form.TakeCloseRequest())
      closeAsked();
  }
}

// orbek-updater-cli: the updater for terminals and automation.
//   orbek-updater-cli [--start] [--yes] [--once] [--nv-backup [FILE] | --nv-restore [FILE]]
//   orbek-updater-cli --factory [--sticks N] [--start] [--yes] [--once]
//   orbek-updater-cli --nv-backups
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "app/varnel_app.h"
#include "line/control_ids.h"
#include "line/form_texts.h"
#include "nv/nv_backup_store.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/text_format.h"
#include "ui/console/console_form.h"

namespace {

using namespace orbek;

constexpr uint32_t kLoopStepMs = 20;
// How long a restore's run waits at most for the stick to answer again after its reset.
constexpr uint64_t kStickBackMs = 60000;
// A typed line longer than this is cut there; the rest of it is dropped as it comes.
constexpr size_t kMaxTypedLine = 4096;

std::atomic<bool> interrupted{false};
std::atomic<bool> terminated{false};
ui::ConsoleForm* shownForm = nullptr;
// Set while the program starts with --once or an NV operation: a start-up that ends the program
// (a second copy, a package that cannot be unpacked) ran nothing it was asked to, status 1.
std::atomic<bool> startUpEndIsFailure{false};

void OnInterrupt() {
  interrupted = true;
}

void OnTerminate() {
  terminated = true;
}

// The process ends at once: workers may still run, and nothing they use is released first.
[[noreturn]] void EndProcess(int status) {
  if (startUpEndIsFailure && status == 0)
    status = 1;
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
      "                         [--nv-restore [FILE]] [--nv-backups] [--help]\n"
      "       orbek-updater-cli --factory [--sticks N] [--start] [--yes] [--once]\n"
      "  Enter (or typing update) presses UPDATE once the stick is ready; quit asks to close.\n"
      "  --factory         several sticks at once, each on the line of the USB socket it is\n"
      "                    plugged into (up to 8): Enter (or start) starts every line whose\n"
      "                    stick is there, start N one line, update N, backup N (its NV\n"
      "                    to ChannelN.nvm) or restore N one line with that operation,\n"
      "                    stop N stops one, stop all\n"
      "  --sticks N        with --factory --start: wait until N lines are ready, then start\n"
      "                    them all (1 to 8, default 1); --once then ends when every started\n"
      "                    line has ended, status 0 when all passed\n"
      "  --start           press UPDATE as soon as it is enabled, each time\n"
      "  --yes             answer every message with OK or Yes without waiting (No to a\n"
      "                    question whose safe answer is No, such as writing another\n"
      "                    stick's NV file)\n"
      "  --once            end when the first operation ends (status 0 on success, 1 on failure)\n"
      "  --nv-backup FILE  save the stick's NV items (calibration, settings) to FILE and end\n"
      "  --nv-restore FILE write the NV items of FILE back to the stick and end\n"
      "                    (FILE defaults to the line's own backup file, Channel1.nvm)\n"
      "  --nv-backups      list every backup kept of every stick, newest first, and end\n"
      "Every NV backup is also kept for good in the user's data folder, per stick.\n"
      "Ctrl-C asks to close, as the window's close button does; a message waiting for its\n"
      "answer it closes (OK, or No to a question).\n"
      "When the input ends, every message is answered OK (No to a question), and without\n"
      "--start the program ends once nothing runs, as only Enter could start an update.\n");
}

struct Options {
  bool start = false;
  bool yes = false;
  bool once = false;
  int nvOperation = 0;  // kOperationNvBackup or kOperationNvRestore
  std::string nvFile;
  bool listBackups = false;
  bool factory = false;
  int sticks = 0;  // with --factory: lines that must be ready before --start starts them all
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
    } else if (arg == "--nv-backups") {
      options.listBackups = true;
    } else if (arg == "--factory") {
      options.factory = true;
    } else if (arg == "--sticks") {
      // Digits alone: strtol would also take leading blanks and a sign.
      const std::string text = i + 1 < argc ? argv[i + 1] : "";
      const bool digits =
          !text.empty() && text.size() <= 2 && std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
          });
      const int count = digits ? std::atoi(text.c_str()) : 0;
      if (count < 1 || count > kLineCount) {
        std::fprintf(stderr, "orbek-updater-cli: --sticks takes a number from 1 to %d\n",
                     kLineCount);
        return false;
      }
      options.sticks = count;
      ++i;
    } else if (arg == "--help") {
      PrintUsage(stdout);
      std::exit(0);
    } else {
      std::fprintf(stderr, "orbek-updater-cli: unknown option '%s'\n", arg.c_str());
      return false;
    }
  }
  if ((options.sticks != 0 && !options.factory) ||
      (options.factory && (options.nvOperation != 0 || options.listBackups))) {
    std::fprintf(stderr,
                 "orbek-updater-cli: --sticks goes with --factory, and --factory with "
                 "no NV option\n");
    return false;
  }
  if (options.factory && options.sticks == 0)
    options.sticks = 1;
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
    const size_t length = std::strlen(buffer);
    line.append(buffer, std::min(length, kMaxTypedLine - std::min(line.size(), kMaxTypedLine)));
    if (length == 0 || buffer[length - 1] != '\n')
      continue;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    form.Typed(line);
    line.clear();
  }
  form.InputEnded();
}

// Until the main loop takes Ctrl-C over: a box raised while the program starts (a second copy,
// a package that cannot be read) is closed by it, as its close button would.
void CloseStartUpBoxesOnInterrupt(ui::ConsoleForm& form, const std::atomic<bool>& startedUp) {
  while (!startedUp) {
    if (interrupted && form.CloseWaitingBoxes())
      interrupted = false;
    platform::SleepMs(kLoopStepMs);
  }
}

// Prints every backup the store keeps, by stick, newest first.
int ListKeptBackups() {
  const NvBackupStore store(NvBackupStore::DefaultDirectory());
  const std::vector<std::string> folders = store.Folders();
  if (folders.empty())
    std::printf("No NV backups are kept in %s.\n", store.directory().c_str());
  for (const std::string& folder : folders) {
    const std::vector<KeptBackup> backups = store.List(folder);
    const std::string stick =
        backups.empty() ? folder
                        : StickIdentity{backups[0].stick.esn, backups[0].stick.imei, ""}.Describe();
    std::printf("Stick %s (%s):\n", stick.c_str(), store.FolderPath(folder).c_str());
    for (const KeptBackup& backup : backups) {
      std::printf("  %s  %s%s\n", backup.name.c_str(), KeptBackupStateText(backup.state),
                  backup.stick.socket.empty() ? "" : (", socket " + backup.stick.socket).c_str());
    }
  }
  return 0;
}

// The NV file an option names, checked before the stick is touched: a backup is written only
// to a regular file or a new one in an existing folder; a restore reads only a backup file.
// The reason, in the system's language, when it cannot be used.
std::optional<std::string> NvFileRefusal(int operation, const std::string& path, bool german) {
  namespace fs = std::filesystem;
  const platform::PathKind kind = platform::KindOfPath(path);
  if (operation == kOperationNvBackup) {
    if (kind != platform::PathKind::Missing && kind != platform::PathKind::RegularFile) {
      return Format(german ? "%s ist keine gewöhnliche Datei: dorthin wird keine NV-Sicherung "
                             "geschrieben."
                           : "%s is not a regular file: no NV backup is written there.",
                    path.c_str());
    }
    const std::string folder = fs::path(path).parent_path().string();
    if (platform::KindOfPath(folder) != platform::PathKind::Directory)
      return Format(german ? "Der Ordner %s existiert nicht." : "The folder %s does not exist.",
                    folder.c_str());
    if (!platform::DirectoryWritable(folder))
      return Format(german ? "In den Ordner %s kann nicht geschrieben werden."
                           : "The folder %s cannot be written.",
                    folder.c_str());
    return std::nullopt;
  }
  if (kind == platform::PathKind::Missing)
    return Format(german ? "Die NV-Datei %s gibt es nicht." : "The NV file %s does not exist.",
                  path.c_str());
  const std::optional<platform::RegularFileBytes> file =
      platform::ReadRegularFile(path, kNvBackupFileSize);
  if (!file)
    return Format(german ? "%s ist keine lesbare gewöhnliche Datei."
                         : "%s is not a regular file that can be read.",
                  path.c_str());
  if (const std::optional<std::string> fault = NvBackupFault(file->bytes.data(), file->size))
    return Format(german ? "%s ist keine NV-Sicherung: %s." : "%s is not an NV backup: %s.",
                  path.c_str(), fault->c_str());
  return std::nullopt;
}

std::string LowerCase(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What a typed verb starts on one line: update, backup and restore; start (-1) runs the line's
// operation as it is. 0 for any other verb.
int OperationOfVerb(const std::string& verb) {
  if (verb == "update")
    return kOperationUpdate;
  if (verb == "backup")
    return kOperationNvBackup;
  if (verb == "restore")
    return kOperationNvRestore;
  return verb == "start" ? -1 : 0;
}

// A line number as typed (1 to 8), as its index; nothing for anything else.
std::optional<int> TypedLine(const std::string& word) {
  if (word.size() != 1 || word[0] < '1' || word[0] > '0' + kLineCount)
    return std::nullopt;
  return word[0] - '1';
}

// The factory face: every line searches for the stick in its own USB socket; start-all, or one
// line's start or stop, as typed or (with --start) as soon as the lines asked for are ready.
[[noreturn]] void RunFactoryLines(CVarnelApp& app, ui::ConsoleForm& form, const Options& options) {
  CVarnelView& view = app.view();
  const bool german = view.UseGerman();
  bool started = false;
  bool toldReady = false;
  const auto readyLines = [&] {
    int ready = 0;
    for (int line = 0; line < kLineCount; ++line)
      ready += view.LineReady(line) ? 1 : 0;
    return ready;
  };
  const auto anyWorkerRunning = [&] {
    for (int line = 0; line < kLineCount; ++line) {
      if (app.WorkerRunning(line))
        return true;
    }
    return false;
  };
  const auto linesThatRan = [&] {
    int ran = 0;
    for (int line = 0; line < kLineCount; ++line)
      ran += app.OperationEnded(line) || app.WorkerRunning(line) ? 1 : 0;
    return ran;
  };
  // Status 0 when every line that ran an operation passed, and with --start at least as many as
  // were asked for.
  const auto endStatus = [&] {
    int passed = 0;
    for (int line = 0; line < kLineCount; ++line) {
      if (!app.OperationEnded(line))
        continue;
      if (app.doc().lines[static_cast<size_t>(line)].state != kLinePass)
        return 1;
      ++passed;
    }
    return passed >= (options.start ? options.sticks : 1) ? 0 : 1;
  };
  // The counts since start, said as the program ends.
  const auto end = [&](int status, bool askNothing = false) {
    form.Say(Format(german ? "Bestanden: %d, fehlgeschlagen: %d." : "Passed: %d, failed: %d.",
                    view.passedCount(), view.failedCount()));
    app.DestroyWindow(askNothing);
    EndProcess(status);
  };
  const auto startAll = [&] {
    started = true;
    app.StartAllLines();
  };
  for (;;) {
    platform::SleepMs(kLoopStepMs);
    const int ready = readyLines();
    if (ready > 0 && !toldReady && !options.start) {
      form.Say(german ? "Start-all ist bereit: Enter drücken (oder start eingeben) startet jede "
                        "bereite Linie; start N, update N, backup N, restore N, stop N, stop, "
                        "quit."
                      : "Start-all is ready: press Enter (or type start) to start every ready "
                        "line; start N, update N, backup N, restore N, stop N, stop (all), "
                        "quit.");
    }
    toldReady = ready > 0;
    while (std::optional<std::string> typed = form.TakeCommand()) {
      const std::string command = LowerCase(*typed);
      const std::string verb = command.substr(0, command.find(' '));
      const std::optional<int> line =
          command.size() > verb.size() ? TypedLine(command.substr(verb.size() + 1)) : std::nullopt;
      if (command.empty() || command == "start") {
        startAll();
      } else if (const int operation = OperationOfVerb(verb); operation != 0 && line) {
        // A refused command leaves the line's operation as it was.
        if (!view.LineReady(*line) || (operation > 0 && !app.SetLineOperation(*line, operation))) {
          form.Say(
              Format(german ? "Linie %d ist nicht bereit." : "Line %d is not ready.", *line + 1));
        } else {
          if (operation > 0)
            form.Say(Format(german ? "Linie %d führt jetzt aus: %s." : "Line %d now runs: %s.",
                            *line + 1,
                            german ? ChoiceOf(operation).german : ChoiceOf(operation).caption));
          started = true;
          app.StartLineOperation(*line);
        }
      } else if (verb == "stop" && line) {
        app.StopLine(*line);
      } else if (command == "stop") {
        app.StopAllLines();
      } else if (command == "quit" || command == "exit") {
        if (app.ConfirmClose())
          end(0);
      } else {
        form.Say(german ? "Enter oder start startet alle bereiten Linien; start N, update N, "
                          "backup N (NV sichern), restore N (NV zurückschreiben), stop N, stop, "
                          "quit."
                        : "Enter or start starts every ready line; start N one line (1 to 8), "
                          "update N, backup N (its NV) or restore N (its NV file) one line with "
                          "that operation, stop N one line, stop every line, quit closes.");
      }
    }
    if (options.start && !started && ready >= options.sticks)
      startAll();
    app.StartLinesBecomingReady();
    // A stick that was not ready at the moment of start-all (a probe unanswered on a busy
    // machine) is started once it is, until as many lines ran as were asked for.
    if (options.start && started && linesThatRan() < options.sticks) {
      for (int line = 0; line < kLineCount; ++line) {
        if (!app.OperationEnded(line) && !app.WorkerRunning(line) && view.LineReady(line))
          app.StartLineOperation(line);
      }
    }
    const bool allAskedRan = !options.start || linesThatRan() >= options.sticks;
    if (options.once && started && allAskedRan && !app.StartAllWaiting() && !app.AnyLineBusy() &&
        !anyWorkerRunning()) {
      end(endStatus());
    }
    if (interrupted.exchange(false) || form.TakeCloseRequest()) {
      if (app.ConfirmClose())
        end(0);
    }
    if (!options.start && form.InputHasEnded() && !app.StartAllWaiting() && !app.AnyLineBusy() &&
        !anyWorkerRunning()) {
      form.Say(german ? "Die Eingabe ist zu Ende: niemand kann mehr starten, das Programm endet."
                      : "The input has ended: nobody can start a line any more, so the program "
                        "ends.");
      // With --once, an end with nothing done is no success.
      end(started ? endStatus() : (options.once ? 1 : 0));
    }
    if (terminated)
      end(0, /*askNothing=*/true);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage(stderr);
    return 2;
  }
  if (options.listBackups)
    return ListKeptBackups();
  platform::TakeInterrupts(OnInterrupt, OnTerminate);

  ui::ConsoleForm form(stdout, platform::OutputIsTerminal(), options.yes, options.factory);
  shownForm = &form;
  CVarnelApp app(form, EndProcess);
  app.doc().severalLines = options.factory;
  LineSession& line = app.doc().lines[0];
  if (options.nvOperation != 0) {
    line.operation = options.nvOperation;
    if (!options.nvFile.empty())
      UseNvFile(line, options.nvFile);
    const std::string& file = line.nvFilePath;
    const bool german = UseGermanFor(platform::SystemDefaultLanguageId());
    if (const std::optional<std::string> refusal =
            NvFileRefusal(options.nvOperation, platform::NativePath(file), german)) {
      std::fprintf(stderr, "orbek-updater-cli: %s\n", refusal->c_str());
      return 1;
    }
  }
  const bool pressByItself = options.start || options.nvOperation != 0;
  const bool endAfterFirst = options.once || options.nvOperation != 0;
  // Input is read from the start: a box of the start-up takes its answer like any other.
  std::thread(ReadInput, std::ref(form)).detach();
  std::atomic<bool> startedUp{false};
  std::thread startUpInterrupts(CloseStartUpBoxesOnInterrupt, std::ref(form), std::cref(startedUp));
  startUpEndIsFailure = endAfterFirst;
  const bool initialised = app.InitialiseForm();
  startedUp = true;
  startUpInterrupts.join();
  if (!initialised)
    EndProcess(0);
  startUpEndIsFailure = false;
  if (options.factory)
    RunFactoryLines(app, form, options);

  const bool german = app.view().UseGerman();
  bool pressed = false;
  bool toldReady = false;
  const auto canPress = [&] {
    return form.Enabled(control::kUpdateButton) && !app.AnyLineBusy() && !app.WorkerRunning(0);
  };
  // UPDATE (line 0's start button). An operation that its checks refuse ends the program when
  // it was the only one to run: the refusal's message box said why.
  const auto press = [&] {
    if (!app.StartLineOperation(0) && endAfterFirst) {
      app.DestroyWindow();
      EndProcess(1);
    }
  };
  const auto closeAsked = [&] {
    if (app.ConfirmClose()) {
      app.DestroyWindow();
      EndProcess(0);
    }
  };
  // A restore ends with the stick's reset: the run ends once the stick has gone and answers
  // again (or after kStickBackMs), so that whatever runs next finds it ready.
  std::optional<uint64_t> restoreEndedAt;
  bool stickWentAway = false;
  const auto restoredStickBack = [&] {
    const uint64_t now = platform::TickCountMs();
    if (!restoreEndedAt) {
      restoreEndedAt = now;
      form.Say(german ? "Warten, bis das Gerät nach seinem Neustart wieder antwortet."
                      : "Waiting for the stick to answer again after its reset.");
    }
    stickWentAway = stickWentAway || !canPress();
    return (stickWentAway && canPress()) || now - *restoreEndedAt >= kStickBackMs;
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
          press();
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
      press();
    }
    if (endAfterFirst && app.OperationEnded(0)) {
      // A successful update ends the process from the update itself; an NV operation passes
      // with its line showing Pass.
      const int status = line.state == kLinePass ? 0 : 1;
      if (status != 0 || line.operation != kOperationNvRestore || restoredStickBack()) {
        app.DestroyWindow();
        EndProcess(status);
      }
    }
    if (interrupted.exchange(false) || form.TakeCloseRequest())
      closeAsked();
    // Without --start only Enter starts an update, and nobody can type any more.
    if (!pressByItself && form.InputHasEnded() && canPress()) {
      form.Say(german ? "Die Eingabe ist zu Ende: niemand kann UPDATE mehr drücken, das Programm "
                        "endet."
                      : "The input has ended: nobody can press UPDATE any more, so the program "
                        "ends.");
      // With --once (or an NV option) the operation never ran: that is no success either.
      const int status = line.state == kLineFail || endAfterFirst ? 1 : 0;
      app.DestroyWindow();
      EndProcess(status);
    }
    if (terminated) {
      app.DestroyWindow(/*askNothing=*/true);  // ends with status 1 when an update runs
      EndProcess(0);
    }
  }
}

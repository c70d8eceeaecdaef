#include "app/varnel_app.h"

#include "line/control_ids.h"
#include "line/form_texts.h"
#include "log/action_log.h"
#include "nv/nv_backup.h"
#include "nv/nv_backup_store.h"
#include "package/image_package.h"
#include "package/image_set.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/text_format.h"
#include "platform/worker_hold.h"
#include "update/port_search.h"
#include "update/update_worker.h"
#include "update/version_check.h"

namespace orbek {
namespace {

constexpr const char* kInstallDirectories[] = {
    "C:\\Program Files", "C:\\Program Files\\Windows Service", kInstallDirectory};
constexpr uint32_t kLaunchSpacingMs = 100;
// How long after start-all a line whose stick becomes ready is started too.
constexpr uint64_t kStartAllWindowMs = 10000;
constexpr const char* kNoLineReadyYetText =
    "No line is ready: each line whose stick is ready within 10 s starts then.";
constexpr const char* kNoLineReadyYetTextGerman =
    "Keine Linie ist bereit: jede Linie, deren Gerät binnen 10 s bereit ist, startet dann.";
constexpr const char* kNoLineReadyText = "No line was ready: nothing was started.";
constexpr const char* kNoLineReadyTextGerman = "Keine Linie war bereit: nichts wurde gestartet.";
constexpr uint32_t kParkWaitMs = 60000;
// How long a close waits for the running workers to stop at a safe point.
constexpr uint32_t kHoldWorkersMs = 5000;

}  // namespace

CVarnelApp::CVarnelApp(Form& form, std::function<void(int)> exitProgram)
    : form_(form), exitProgram_(std::move(exitProgram)), connectionManager_(kInstallDirectory) {}

CVarnelApp::~CVarnelApp() {
  // The threads call into the view: they end before it does.
  for (LineSession& line : doc_.lines) {
    line.searchThread.reset();
    line.worker.reset();
  }
  replugThread_.reset();
}

bool CVarnelApp::InitialiseForm() {
  const bool german = UseGermanFor(platform::SystemDefaultLanguageId());
  view_ = std::make_unique<CVarnelView>(form_, doc_, german,
                                        LogDirectory(platform::CurrentDirectory()));
  view_->exitProgram = exitProgram_;
  view_->ResetFactoryDataPorts();
  view_->ApplyLanguageTexts();

  bool taken = false;
  instance_ = platform::NamedInstance::Take(kInstanceName, taken);
  if (taken) {
    form_.MessageBox(
        view_->Text("Another update is in progress. Please complete this one and try again!",
                    "Ein anderes Update wird gerade durchgeführt. Bitte warten Sie bis der "
                    "Vorgang beendet wird und versuchen Sie es anschließend erneut!"),
        kApplicationTitle, box::kOk | box::kIconExclamation);
    instance_.reset();
    exitProgram_(0);
    return false;
  }
  view_->FillFactoryControls();
  view_->CompleteForm();

  for (const char* directory : kInstallDirectories) {
    if (!EnsureDirectory(directory)) {
      form_.MessageBox("source file path error!", kApplicationTitle, box::kOk);
      exitProgram_(0);
      return false;
    }
  }
  for (LineSession& line : doc_.lines) {
    if (line.index == 0 || doc_.severalLines)
      SetImagePaths(line);
  }
  ExtractPackage(*view_, connectionManager_);

  view_->SetFactoryDefaults();
  for (int line = 0; line < kLineCount; ++line) {
    view_->ShowLinePort(line);
    ShowLineVersions(view_->Handle(line));
    view_->EnableLineControls(line, true);
    view_->ResetLineFactoryFlags(line);
  }
  form_.Enable(control::kUpdateButton, false);

  replugThread_ = std::make_unique<ReplugThread>(
      kReplugLibraryPath, doc_.replugEnabled,
      [this](const std::string& text) { form_.MessageBox(text, kApplicationTitle, box::kOk); });
  replugThread_->Start();

  for (int line = 0; line < kLineCount; ++line) {
    LineSession& session = doc_.lines[static_cast<size_t>(line)];
    // Every line searches for its own stick when several lines run.
    if (session.diagPort != 0 || doc_.severalLines) {
      StartSearchThread(view_->Handle(line));
    } else {
      session.currentVersion = "NULL";
      ShowLineVersions(view_->Handle(line));
    }
  }
  return true;
}

// The board tag and the operation's preconditions, each refusal with its box.
bool CVarnelApp::LaunchChecksPass(int line) {
  LineSession& session = view_->Line(line);
  // A stick in download mode has no version table to read the board tag from: the rescue
  // writes the package's firmware, the only one it can start again.
  const bool rescue =
      session.operation == kOperationUpdate && session.stickState == kStickInDownloadMode;
  doc_.selectedBoardTag = VersionSlot(session.versionRecord, 8);
  if (!rescue && !CheckBoardTag(view_->Handle(line)))
    return false;
  view_->SetLineState(line, kLineReady);

  switch (session.operation) {
    case kOperationUpdate:
      if (!NvBackupsWritable(session))
        return false;
      if (!CheckImageSet(view_->Handle(line), true)) {
        form_.MessageBox(view_->Text("Download  fail, please check if   the config file is exist!",
                                     "Download fehlgeschlagen"),
                         kApplicationTitle, box::kOk);
        return false;
      }
      break;
    case kOperationNone:
      if (!CheckImageSet(view_->Handle(line), false))
        return false;
      break;
    case kOperationNvBackup:
    case kOperationNvRestore:
      if (session.stickState == kStickInDownloadMode) {
        form_.MessageBox(view_->Text("The stick is in download mode: its NV can be read or "
                                     "written only once it has been updated.",
                                     "Das Gerät ist im Download-Modus: sein NV-Speicher kann erst "
                                     "nach einem Update gelesen oder geschrieben werden."),
                         kApplicationTitle, box::kOk | box::kIconExclamation);
      }
      if (session.stickState != kStickAnswers)
        return false;
      if (session.nvDirectory.empty()) {
        form_.MessageBox(Format("Line%d No NV directory!", line + 1), kApplicationTitle, box::kOk);
        return false;
      }
      if (session.operation == kOperationNvBackup && !platform::TouchFile(session.nvFilePath)) {
        form_.MessageBox(Format("Line%d can't create or open NV file!", line + 1),
                         kApplicationTitle, box::kOk);
        return false;
      }
      if (session.operation == kOperationNvBackup && !NvBackupsWritable(session))
        return false;
      break;
    default:
      return false;
  }
  return true;
}

bool CVarnelApp::StartLineOperation(int line) {
  return LaunchLine(line) == Launch::Started;
}

CVarnelApp::Launch CVarnelApp::LaunchLine(int line) {
  LineSession& session = view_->Line(line);
  // The line's fields and its link belong to its search thread until it has parked outside any
  // exchange: it parks before the checks read them, and goes on when a check refuses.
  if (session.searchThread) {
    session.searchThread->Suspend();
    session.searchThread->WaitUntilParked(kParkWaitMs, [this] { form_.ServeWaitingCalls(); });
  }
  // With several lines, the search's last round before it parked may have found the stick
  // silent (a busy machine, a stick re-enumerating): its checks would then refuse a stick that
  // was ready a moment ago, and that refusal closes the program. It waits for the next press.
  const LineVersions versions = VersionsOf(session);
  const bool stillReady = !doc_.severalLines || versions.ready || versions.inDownloadMode;
  if (!stillReady || !LaunchChecksPass(line)) {
    if (session.searchThread)
      session.searchThread->Resume();
    return stillReady ? Launch::Refused : Launch::NotReady;
  }

  EnableIdleLines(false);
  session.busy = 1;
  view_->EnableLineControls(line, false);
  {
    std::lock_guard<std::mutex> hold(replugMutex_);
    if (replugThread_)
      replugThread_->Suspend();
  }
  view_->NoteLineStarted(line);
  view_->SetLineState(line, kLineRunning);
  view_->currentLine = line;
  view_->SetLineProgress(line, 0);
  StartWorker(line);
  platform::SleepMs(kLaunchSpacingMs);
  EnableIdleLines(true);
  return Launch::Started;
}

// The update takes the stick out of normal operation at once: before it does, both places its
// NV backup goes must take files.
bool CVarnelApp::NvBackupsWritable(const LineSession& session) {
  const int mode = doc_.nvMode;
  if (session.operation == kOperationUpdate && mode != 1 && mode != 2)
    return true;
  const NvBackupStore store(doc_.nvBackupsDirectory);
  std::string unwritable;
  if (!platform::DirectoryWritable(session.nvDirectory))
    unwritable = session.nvDirectory;
  else if (!store.Writable())
    unwritable = store.directory();
  if (unwritable.empty())
    return true;
  form_.MessageBox(Format(view_->Text("The NV backup cannot be written to %s. Nothing was started: "
                                      "the stick's calibration must be saved first.",
                                      "Die NV-Sicherung kann nicht in %s geschrieben werden. Es "
                                      "wurde nichts gestartet: die Kalibrierung des Geräts muss "
                                      "zuerst gesichert werden."),
                          unwritable.c_str()),
                   kApplicationTitle, box::kOk | box::kIconError);
  return false;
}

void CVarnelApp::EnableIdleLines(bool enable) {
  for (int line = 0; line < kLineCount; ++line) {
    if (doc_.lines[static_cast<size_t>(line)].busy == 0)
      view_->EnableLineControls(line, enable);
  }
}

void CVarnelApp::StartWorker(int line) {
  LineSession& session = view_->Line(line);
  const int operation = session.operation;
  workerDone_[line] = 0;
  workerStarted_[line] = true;
  session.worker.reset();
  session.worker = std::make_unique<platform::SuspendableThread>(
      [this, line, operation](platform::SuspendableThread&) {
        const platform::WorkerScope worker;
        switch (operation) {
          case kOperationUpdate:
            UpdateWorker(view_->Handle(line), connectionManager_);
            break;
          case kOperationNvBackup:
            BackupNvThread(view_->Handle(line));
            break;
          case kOperationNvRestore:
            RestoreNvThread(view_->Handle(line));
            break;
          default:
            break;
        }
        workerDone_[line] = 1;
        ResumeReplugWhenIdle();
      });
  session.worker->Resume();
}

// With several lines, sticks plugged in later must still leave their CD-ROM mode: the re-plug
// thread, suspended by every launch, goes on whenever a worker ends and no line is busy.
void CVarnelApp::ResumeReplugWhenIdle() {
  std::lock_guard<std::mutex> hold(replugMutex_);
  if (doc_.severalLines && replugThread_ && !AnyLineBusy())
    replugThread_->Resume();
}

bool CVarnelApp::OnCommand(int commandId) {
  if (const int line = control::IndexOf(control::kStartButton, commandId); line >= 0) {
    StartLineOperation(line);
    return true;
  }
  if (const int line = control::IndexOf(control::kStopButton, commandId); line >= 0) {
    StopLine(line);
    return true;
  }
  if (commandId == control::kStopAll) {
    StopAllLines();
    return true;
  }
  if (commandId == control::kStartAll) {
    StartAllLines();
    return true;
  }
  if (const int value = control::IndexOf(control::kNvModeRadio, commandId); value >= 0) {
    view_->SetNvMode(value);
    return true;
  }
  return false;
}

void CVarnelApp::StartAllLines() {
  startAllUntilMs_ = platform::TickCountMs() + kStartAllWindowMs;
  startAllCovered_ = {};
  startAllStarted_ = 0;
  StartLinesBecomingReady();
  if (doc_.severalLines && startAllStarted_ == 0)
    view_->ShowTally(view_->Text(kNoLineReadyYetText, kNoLineReadyYetTextGerman));
}

void CVarnelApp::StartLinesBecomingReady() {
  // A start's box runs the UI's events, and with them this again.
  if (startAllUntilMs_ == 0 || startingLines_)
    return;
  startingLines_ = true;
  StartReadyLinesInWindow();
  startingLines_ = false;
}

void CVarnelApp::StartReadyLinesInWindow() {
  if (platform::TickCountMs() > startAllUntilMs_) {
    startAllUntilMs_ = 0;
    if (doc_.severalLines && startAllStarted_ == 0)
      view_->ShowTally(view_->Text(kNoLineReadyText, kNoLineReadyTextGerman));
    return;
  }
  for (int line = 0; line < kLineCount; ++line) {
    const LineSession& session = doc_.lines[static_cast<size_t>(line)];
    // With several lines only a ready stick starts: one that stopped answering would meet no
    // board tag, and its refusal closes the program. (Its port is its search thread's to write.)
    const bool startable = doc_.severalLines ? view_->LineReady(line) : session.diagPort > 0;
    bool& covered = startAllCovered_[static_cast<size_t>(line)];
    if (covered || !startable || session.busy != 0)
      continue;
    const Launch launch = LaunchLine(line);
    covered = launch != Launch::NotReady;  // a stick silent for a moment is tried again
    if (launch == Launch::Started) {
      if (startAllStarted_++ == 0 && doc_.severalLines)
        view_->ShowTally();
      platform::SleepMs(kLaunchSpacingMs);
    }
  }
  if (!doc_.severalLines)
    startAllUntilMs_ = 0;  // the product's one line: nothing waits
}

bool CVarnelApp::SetLineOperation(int line, int operation) {
  if (line < 0 || line >= kLineCount)
    return false;
  LineSession& session = doc_.lines[static_cast<size_t>(line)];
  const bool known = operation == kOperationUpdate || operation == kOperationNvBackup ||
                     operation == kOperationNvRestore;
  if (!known || session.busy != 0)
    return false;
  session.operation = operation;
  return true;
}

void CVarnelApp::StopLine(int line) {
  doc_.lines[static_cast<size_t>(line)].busy = 0;
}

void CVarnelApp::StopAllLines() {
  for (int line = 0; line < kLineCount; ++line)
    StopLine(line);
}

bool CVarnelApp::AnyLineBusy() const {
  for (const LineSession& line : doc_.lines) {
    if (line.busy != 0)
      return true;
  }
  return false;
}

bool CVarnelApp::OperationEnded(int line) const {
  return workerStarted_[line] && workerDone_[line] != 0;
}

bool CVarnelApp::WorkerRunning(int line) const {
  return workerStarted_[line] && workerDone_[line] == 0;
}

bool CVarnelApp::ConfirmClose() {
  if (!AnyLineBusy())
    return true;
  const bool german = view_->useGerman();
  const int answer = form_.MessageBox(
      german ? "Still Running, You really want to exit?"
             : "Update is running, stopping the application will damage the datacard，Are you "
               "sure to quit?",
      german ? "Waring" : "Warning", box::kYesNo | box::kIconError);
  return answer == box::kAnswerYes;
}

void CVarnelApp::DestroyWindow(bool askNothing) {
  bool workerRunning = false;
  bool updateRunning = false;
  for (int line = 0; line < kLineCount; ++line) {
    workerRunning = workerRunning || WorkerRunning(line);
    updateRunning =
        updateRunning || (WorkerRunning(line) && doc_.lines[line].operation == kOperationUpdate);
  }
  // A running worker reads the images: it is held at its next sleep first, and the package is
  // removed only once every worker is held. One that does not stop in time (it waits for a box)
  // keeps the package: the next start writes it anew, and no image is cut away under a write.
  const bool workersHeld = !workerRunning || platform::HoldWorkers(kHoldWorkersMs);
  if (workersHeld) {
    std::lock_guard<std::mutex> hold(replugMutex_);
    RemovePackage(replugThread_.get(), connectionManager_);
  }
  if (!workerRunning)
    return;
  // The stick is left part-way, in its firmware, its boot loader or its flash programmer: the
  // person is told what to do before the process ends, on every line that was updating.
  if (updateRunning) {
    const char* text = view_->Text(kInterruptedText, kInterruptedTextGerman);
    for (int line = 0; line < kLineCount; ++line) {
      if (WorkerRunning(line) && doc_.lines[line].operation == kOperationUpdate)
        form_.SetText(control::kStatus[line], text);
    }
    if (!askNothing)
      form_.MessageBox(text, kApplicationTitle, box::kOk | box::kIconExclamation);
  }
  exitProgram_(1);
  platform::ReleaseWorkers();  // reached only where ending the program does not end the process
}

}  // namespace orbek

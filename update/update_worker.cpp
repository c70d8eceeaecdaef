#include "update/update_worker.h"

#include <algorithm>

#include "app/form_texts.h"
#include "diag/diag_commands.h"
#include "diag/maker_commands.h"
#include "diag/md5.h"
#include "download/streaming.h"
#include "host/connection_manager.h"
#include "nv/nv_backup.h"
#include "package/image_package.h"
#include "platform/clock.h"
#include "update/download_procedures.h"
#include "update/port_search.h"
#include "update/version_check.h"

namespace orbek {
namespace {

using platform::SleepMs;

constexpr int kImagePasses = 20;
constexpr int kReinsertAfterChecks = 5;
constexpr uint16_t kKeptNvItem = 22;
constexpr size_t kKeptBytes = 50;
constexpr size_t kKeptClearedFrom = 22;

constexpr const char* kDownloadFailureBox = "Download failure, Please download again!";
constexpr const char* kReinsertText =
    "Please reinsert the Stick, then press \"OK\" to finish the update.";
constexpr const char* kReinsertTextGerman =
    "Bitte stecken Sie das Ger-t erneut ein und best-tigen Sie mit \"OK\" um das Update "
    "abzuschlie-en.";
constexpr const char* kFailedGerman = "Download fehlgeschlagen";
constexpr const char* kFailedGermanBang = "Download fehlgeschlagen!";

// Up to `attempts` tries, `waitMs` after each failure but the last.
template <typename Attempt>
bool Attempts(int attempts, uint32_t waitMs, Attempt attempt) {
  for (int tried = 1;; ++tried) {
    if (attempt())
      return true;
    if (tried == attempts)
      return false;
    SleepMs(waitMs);
  }
}

class Update {
 public:
  Update(CVarnelView& view, int line, ConnectionManager& connectionManager)
      : view_(view),
        line_(line),
        session_(view.Line(line)),
        link_(session_.link),
        connectionManager_(connectionManager) {}

  int Run();

 private:
  bool German() const { return view_.useGerman(); }
  void ErrorBox(const char* text) {
    view_.form().MessageBox(text, "Error", box::kOk | box::kIconError);
  }
  void Progress(int percent) { view_.SetLineProgress(line_, percent); }

  void LeaveNormalOperation();
  void WaitForStickAfterReset();
  void ReadKeptItem();
  bool BackUpNvItems();
  void Handshake();
  bool SwitchToDownloadMode();
  bool StoppedBeforeDownload();
  bool LoadProgrammer();
  bool WriteImages();
  bool ImagePass(int pass);
  bool BackToNormalOperation();
  bool RestoreNvItems();
  void RestoreSettings();
  void Succeed();

  CVarnelView& view_;
  const int line_;
  LineSession& session_;
  PhoneLink& link_;
  ConnectionManager& connectionManager_;
  bool keptItemRead_ = false;
  NvItemData keptItem_{};
};

int Update::Run() {
  Progress(1);
  view_.SetLineStatus(line_, view_.Text("Downloading...", "Gerät wird aktualisiert..."), true);
  LeaveNormalOperation();
  WaitForStickAfterReset();
  ReadKeptItem();
  SendDownloadCheck(view_, line_);
  Progress(9);
  if (!BackUpNvItems())
    return 0;
  Progress(20);
  ReadFourVersions(link_, session_.versionRecord);
  CheckBoardTagTwice(view_);
  Handshake();
  if (!SwitchToDownloadMode() || StoppedBeforeDownload() || !LoadProgrammer() || !WriteImages() ||
      !BackToNormalOperation() || !RestoreNvItems()) {
    return 0;
  }
  RestoreSettings();
  Succeed();
  return 0;
}

void Update::LeaveNormalOperation() {
  Attempts(3, 3000, [&] { return GoOffline(link_); });
  Attempts(3, 1000, [&] { return SetFlagAA(link_, 1); });
  SleepMs(3000);
  Progress(2);
  Attempts(3, 2000, [&] { return SetAutorun(link_, 0); });
  Attempts(3, 3000, [&] { return GoOffline(link_) && ResetPhone(link_); });
  session_.atPort.SendText("AT+YRST");
  SleepMs(10000);
  Progress(3);
}

void Update::WaitForStickAfterReset() {
  for (int failed = 0; !PortsPresent(view_, line_);) {
    SleepMs(1000);
    if (++failed == kReinsertAfterChecks)
      ErrorBox(view_.Text(kReinsertText, kReinsertTextGerman));
  }
  Progress(7);
  PortsPresent(view_, line_);
  Attempts(3, 2000, [&] { return ReopenLink(session_); });
  view_.ShowLinePort(line_);
  Progress(8);
  session_.statusLog = "Current Version : " + session_.currentVersion + "\n" +
                       "Download Version : " + kInstallDirectory + "\n" +
                       "Armprg path : " + session_.armprgPath + "\n" + "\n";
}

void Update::ReadKeptItem() {
  uint16_t status = 0;
  keptItemRead_ =
      Attempts(3, 200, [&] { return ReadNvItem(link_, kKeptNvItem, keptItem_, status); });
  std::fill(keptItem_.begin() + kKeptClearedFrom, keptItem_.begin() + kKeptBytes, 0);
  SleepMs(200);
}

bool Update::BackUpNvItems() {
  const int mode = view_.doc().nvMode;
  if (mode != 1 && mode != 2)
    return true;
  bool backedUp = NvDirectoryExists(view_.form(), session_.nvDirectory);
  if (!backedUp) {
    SleepMs(200);
    backedUp = NvDirectoryExists(view_.form(), session_.nvDirectory);
  }
  if (backedUp)
    backedUp = BackupNv(view_, line_, session_.nvFilePath);
  if (backedUp)
    return true;
  session_.busy = 0;
  if (German())
    view_.SetLineStatus(line_, kFailedGerman, true);
  else
    ErrorBox(kDownloadFailureBox);
  return false;
}

void Update::Handshake() {
  Challenge challenge{};
  if (Attempts(3, 500, [&] { return GetChallenge(link_, challenge); }))
    PutChallengeAnswer(link_, Md5(challenge.data(), challenge.size()));
}

bool Update::SwitchToDownloadMode() {
  if (!EnterDownloadMode(view_, line_)) {
    ErrorBox(view_.Text(kReinsertText, kReinsertTextGerman));
    SleepMs(1000);
    WaitForPorts(view_, line_, 1000);
    Attempts(3, 2000, [&] { return ReopenDataPort(session_); });
    if (ReopenLink(session_) && ProbeStick(session_))
      view_.ShowLinePort(line_);
    if (!EnterDownloadMode(view_, line_)) {
      session_.busy = 0;
      if (German()) {
        view_.SetLineStatus(line_, kFailedGerman, true);
      } else {
        view_.EndLineOperation(line_, "switch to DownLoad mode fail!", kOutcomeFailedLeaveStick);
        ErrorBox(kDownloadFailureBox);
      }
      return false;
    }
  }
  view_.ShowLinePort(line_);
  Progress(21);
  return true;
}

bool Update::StoppedBeforeDownload() {
  if (session_.busy != 0)
    return false;
  if (German())
    view_.EndLineOperation(line_, kFailedGerman, kOutcomeFailedLeaveStick);
  else
    view_.EndLineOperation(line_, "action stop!", kOutcomeStopped);
  view_.SetLineState(line_, kLineFail);
  return true;
}

bool Update::LoadProgrammer() {
  bool uploaded = UploadProgrammer(view_, line_);
  if (!uploaded) {
    SleepMs(200);
    uploaded = UploadProgrammer(view_, line_);
  }
  if (!uploaded) {
    view_.EndLineOperation(line_, view_.Text("Download armprg.bin fail!", kFailedGermanBang),
                           kOutcomeFailed);
    session_.busy = 0;
    if (German())
      view_.EndLineOperation(line_, kFailedGermanBang, kOutcomeFailed);
    else
      ErrorBox(kDownloadFailureBox);
    return false;
  }
  Progress(22);
  SleepMs(5000);
  if (!StartProgrammer(view_, line_)) {
    view_.EndLineOperation(line_, view_.Text("skip fail!", kFailedGermanBang), kOutcomeFailed);
    session_.busy = 0;
    return false;
  }
  view_.ShowLinePort(line_);
  return true;
}

bool Update::WriteImages() {
  for (int pass = 1; pass <= kImagePasses; ++pass) {
    if (ImagePass(pass)) {
      Progress(80);
      return true;
    }
  }
  if (German()) {
    view_.EndLineOperation(line_, kFailedGermanBang, kOutcomeFailed);
  } else {
    view_.EndLineOperation(
        line_, "Download fail, please check the log file to get fail information!", kOutcomeFailed);
    ErrorBox(kDownloadFailureBox);
  }
  session_.busy = 0;
  return false;
}

// One pass over every image; false at the first step that still fails after its retries.
bool Update::ImagePass(int pass) {
  const auto retried = [&](std::initializer_list<Retry> retries, auto step) {
    return TryWithRetries(session_, retries, step);
  };
  const auto failPass = [](uint32_t sleepMs) {
    SleepMs(sleepMs);
    return false;
  };
  if (pass > 1) {
    SleepMs(2000);
    StreamClose(link_);
    SleepMs(2000);
    if (!retried({{500}}, [&] { return StreamNop(link_); }))
      return failPass(5000);
  }
  std::array<uint8_t, kStreamBlockSize> marker{};
  marker[0] = 'a';
  if (!retried({{500}, {0, Reopen::Link, 2000}},
               [&] { return StreamWrite(link_, marker.data(), 0xFFFFFFFF, kStreamBlockSize); }))
    return failPass(5000);
  SleepMs(2000);
  if (!retried({{500}, {0, Reopen::Link, 2000}}, [&] { return StreamSecurityMode(link_); }))
    return false;
  Progress(23);
  if (!retried({{5000}, {0, Reopen::Link, 2000}},
               [&] { return WritePartitionTable(view_, line_); }))
    return false;
  SleepMs(2000);
  if (!retried({{500}, {0, Reopen::Link, 2000}}, [&] { return WriteBootHeader(view_, line_); }))
    return false;
  Progress(24);
  if (!retried({{500}, {0}}, [&] { return WritePrimaryBootLoader(view_, line_); }))
    return failPass(2000);
  if (!retried({{500}, {0, Reopen::Link, 2000}}, [&] { return WriteOemBootLoader(view_, line_); }))
    return false;
  Progress(25);
  if (!retried({{2000}}, [&] { return WriteAmss(view_, line_); }))
    return false;
  SleepMs(10000);
  if (!WriteProgrammerImage(view_, line_))
    return false;
  return retried({{2000}, {2000}}, [&] { return WriteEfs(view_, line_); });
}

bool Update::BackToNormalOperation() {
  if (!ResetAndWait(view_, line_)) {
    session_.busy = 0;
    if (German()) {
      view_.EndLineOperation(line_, kFailedGermanBang, kOutcomeFailed);
    } else {
      view_.EndLineOperation(line_, "reset modem fail!", kOutcomeFailedLeaveStick);
      ErrorBox(kDownloadFailureBox);
    }
    return false;
  }
  view_.ShowLinePort(line_);
  Progress(81);
  if (keptItemRead_) {
    uint16_t status = 0;
    Attempts(3, 200, [&] { return WriteNvItem(link_, kKeptNvItem, keptItem_, status); });
  }
  Progress(82);
  return true;
}

bool Update::RestoreNvItems() {
  const int mode = view_.doc().nvMode;
  bool restored = true;
  if (mode == 1 || mode == 2) {
    restored = Attempts(3, 2000, [&] { return RestoreNv(view_, line_, session_.nvFilePath); });
  } else if (mode == 3) {
    restored = RestoreNv(view_, line_, view_.doc().defaultNvFile);
  }
  if (restored)
    return true;
  if (!German()) {
    view_.EndLineOperation(line_, "Restore NV fail!", kOutcomeFailedLeaveStick);
  } else if (mode == 1) {
    view_.EndLineOperation(line_, "fehlgeschlagen", kOutcomeFailed);
  } else {
    view_.EndLineOperation(line_, kFailedGerman,
                           mode == 2 ? kOutcomeFailed : kOutcomeFailedLeaveStick);
  }
  view_.SetLineState(line_, kLineFail);
  return false;
}

void Update::RestoreSettings() {
  Progress(95);
  WaitForPorts(view_, line_, 1000);
  WaitForProbe(view_, line_);
  Progress(96);
  view_.ShowLinePort(line_);
  SleepMs(1000);
  Attempts(3, 2000, [&] { return SetFlagAA(link_, 0); });
  SleepMs(500);
  Progress(97);
  Attempts(3, 2000, [&] { return SetAutorun(link_, 1); });
  SleepMs(500);
  const auto sendCdromMode = [&](const char* command) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (session_.atPort.SendText(command))
        return;
      ReopenDataPort(session_);
      SleepMs(5000);
    }
  };
  sendCdromMode("AT+YCDRUN=F");
  SleepMs(2000);
  sendCdromMode("AT+YCDRUN=9");
  SleepMs(1000);
  Progress(98);
  Attempts(3, 3000, [&] { return GoOffline(link_); });
  Attempts(3, 3000, [&] { return ResetPhone(link_); });
  DeleteImages();
  Progress(99);
  SleepMs(3000);
  Progress(100);
}

void Update::Succeed() {
  if (connectionManager_.cmPresent())
    connectionManager_.RestartConnectionManager();
  view_.SetLineStatus(
      line_, view_.Text("The update was successful.", "Update wurde erfolgreich durchgeführt."),
      true);
  session_.busy = 0;
  view_.form().MessageBox(
      view_.Text("The update was successful.", "Das Update wurde erfolgreich durchgeführt."),
      kApplicationTitle, box::kOk | box::kIconInformation);
  view_.exitProgram(0);
}

}  // namespace

int UpdateWorker(CVarnelView& view, int line, ConnectionManager& connectionManager) {
  return Update(view, line, connectionManager).Run();
}

}  // namespace orbek

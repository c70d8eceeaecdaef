#include "update/update_worker.h"

#include <algorithm>
#include <optional>

#include "diag/diag_commands.h"
#include "diag/maker_commands.h"
#include "diag/md5.h"
#include "download/streaming.h"
#include "host/connection_manager.h"
#include "line/form_texts.h"
#include "nv/nv_backup.h"
#include "nv/nv_backup_store.h"
#include "nv/stick_identity.h"
#include "package/image_package.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_format.h"
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
constexpr const char* kBackupFailed = "Backup NV fail!";
constexpr const char* kFailedGermanBang = "Download fehlgeschlagen!";

// Every item the earlier backup read is still there (read, and not "not active") in the new
// one: the stick's NV was not wiped in between.
bool NothingLostSince(const NvTable& earlier, const NvTable& now) {
  for (const NvRecord& item : earlier) {
    if (item.itemId >= kNvEndMarker)
      break;
    if (item.status != 0)
      continue;
    const auto same = std::find_if(now.begin(), now.end(), [&](const NvRecord& record) {
      return record.itemId == item.itemId && record.status == 0;
    });
    if (same == now.end())
      return false;
  }
  return true;
}

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
  Update(const LineHandle& line, ConnectionManager& connectionManager)
      : line_(line),
        session_(line.session()),
        link_(session_.link),
        connectionManager_(connectionManager) {
    identity_ = {};
    session_.nvFileUsed.clear();
  }

  int Run();

 private:
  int Rescue();
  bool ChooseBackupForTheRescue();
  std::optional<KeptBackup> ChooseAmong(const std::vector<KeptBackup>& candidates);
  std::optional<KeptBackup> LineFileOf(const StickIdentity& stick);
  void FailWithoutNv();
  bool MarkWaiting();
  bool SameStickAsBefore();
  void NoteNvFileUsed() {
    if (restoreFrom_)
      session_.nvFileUsed = restoreFrom_->path;
    else if (line_.choices().nvMode == 3)
      session_.nvFileUsed = line_.choices().defaultNvFile;
  }
  bool German() const { return line_.UseGerman(); }
  void ErrorBox(const char* text) { line_.MessageBox(text, "Error", box::kOk | box::kIconError); }
  // Ends the line as failed, the stick left as it is, with the text on its status line and in a
  // box.
  void FailLeavingTheStick(const std::string& text) {
    line_.EndOperation(text, kOutcomeFailedLeaveStick);
    line_.SetState(kLineFail);
    ErrorBox(text.c_str());
  }
  void Progress(int percent) { line_.SetProgress(percent); }

  void LeaveNormalOperation();
  void WaitForStickAfterReset();
  void ReadKeptItem();
  bool BackUpNvItems();
  bool TakeOrReuseBackup();
  bool KeepTakenBackup(const NvTable& table);
  bool DefaultFileFitsStick();
  void FailBeforeTheFlash();
  bool RestoreWithReplugs();
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

  const LineHandle line_;
  LineSession& session_;
  PhoneLink& link_;
  ConnectionManager& connectionManager_;
  bool keptItemRead_ = false;
  NvItemData keptItem_{};
  const NvBackupStore store_{line_.choices().nvBackupsDirectory};
  // The stick as read before the flash (in a rescue, only its socket); the line's, so that the
  // end of the operation can tell which stick it was.
  StickIdentity& identity_ = session_.identity;
  // Set once the line has found another stick than its own and ended for it.
  bool anotherStick_ = false;
  // The stick's kept backup that step 26 writes back: the one taken now, or the one an earlier
  // update took and never restored.
  std::optional<KeptBackup> restoreFrom_;
};

int Update::Run() {
  if (session_.stickState == kStickInDownloadMode)
    return Rescue();
  Progress(1);
  line_.SetStatus(line_.Text("Downloading...", "Gerät wird aktualisiert..."), true);
  LeaveNormalOperation();
  WaitForStickAfterReset();
  ReadKeptItem();
  identity_ = ReadStickIdentity(session_);
  SendDownloadCheck(line_);
  Progress(9);
  const bool backedUp = BackUpNvItems();
  NoteNvFileUsed();
  if (!backedUp)
    return 0;
  Progress(20);
  ReadFourVersions(link_, session_.versionRecord);
  CheckBoardTagTwice(line_);
  Handshake();
  if (!SwitchToDownloadMode() || StoppedBeforeDownload() || !LoadProgrammer() || !WriteImages() ||
      !BackToNormalOperation() || !RestoreNvItems()) {
    return 0;
  }
  RestoreSettings();
  Succeed();
  return 0;
}

// A stick that an earlier update left in its boot loader: the sequence from the programmer
// upload on, then its NV from its own newest backup.
int Update::Rescue() {
  identity_.socket = session_.socket;
  Progress(1);
  line_.SetStatus(line_.Text("Downloading...", "Gerät wird aktualisiert..."), true);
  session_.statusLog =
      "Current Version : NULL\nDownload Version : " + std::string(kInstallDirectory) +
      "\nArmprg path : " + session_.armprgPath + "\n\n";
  line_.SetStatus(line_.Text("Rescue: the stick was in download mode, left there by an update "
                             "that did not finish. Its firmware is written again.",
                             "Rettung: das Gerät war im Download-Modus, da ein Update nicht "
                             "beendet wurde. Seine Firmware wird neu geschrieben."),
                  true);
  if (!GreetBootLoader(line_)) {
    session_.busy = 0;
    if (German()) {
      line_.EndOperation(kFailedGerman, kOutcomeFailedLeaveStick);
    } else {
      line_.EndOperation("switch to DownLoad mode fail!", kOutcomeFailedLeaveStick);
      ErrorBox(kDownloadFailureBox);
    }
    return 0;
  }
  line_.ShowPort();
  Progress(21);
  if (StoppedBeforeDownload() || !LoadProgrammer() || !WriteImages() || !BackToNormalOperation())
    return 0;
  const bool nvFound = ChooseBackupForTheRescue();
  NoteNvFileUsed();
  if (nvFound && !RestoreNvItems())
    return 0;
  RestoreSettings();
  if (!nvFound) {
    FailWithoutNv();
    return 0;
  }
  if (!line_.choices().severalLines)  // there the end of the line writes it
    line_.WriteLog();
  Succeed();
  return 0;
}

// The stick's own backup: one its interrupted update took and never restored (by its identity,
// and by its socket when the flash wiped both its ESN and its IMEI), else its newest kept one.
// False (after a box) when there is none to restore, in modes 1 and 2.
bool Update::ChooseBackupForTheRescue() {
  const int mode = line_.choices().nvMode;
  if (mode == 3)
    return DefaultFileFitsStick();
  if (mode != 1 && mode != 2)
    return true;
  StickIdentity stick = ReadStickIdentity(session_);
  stick.socket = identity_.socket;
  identity_ = stick;
  restoreFrom_ = ChooseAmong(WaitingBackupsOf(line_, store_, stick));
  if (!restoreFrom_)
    restoreFrom_ = store_.NewestOf(stick);
  if (!restoreFrom_)
    restoreFrom_ = LineFileOf(stick);
  if (restoreFrom_) {
    line_.SetStatus(Format(line_.Text("The NV is restored from %s (%s, taken %s)",
                                      "Der NV-Speicher wird zurückgespielt aus %s (%s, gesichert "
                                      "%s)"),
                           restoreFrom_->path.c_str(), restoreFrom_->stick.Describe().c_str(),
                           restoreFrom_->TimeText().c_str()),
                    true);
    return true;
  }
  const std::string text =
      Format(line_.Text("No NV backup of this stick (%s) was found: its calibration and settings "
                        "could not be restored.",
                        "Keine NV-Sicherung dieses Geräts (%s) gefunden: seine Kalibrierung und "
                        "Einstellungen konnten nicht zurückgespielt werden."),
             stick.Describe().c_str());
  line_.SetStatus(text, true);
  return false;
}

// The line's own backup file, which an interrupted update wrote before its flash: used when it
// is whole and this stick's (the same IMEI, or for a stick whose IMEI was wiped, its ESN in
// item 0).
std::optional<KeptBackup> Update::LineFileOf(const StickIdentity& stick) {
  NvTable table;
  if (!ReadNvBackupFile(line_, session_.nvFilePath, table) || UnansweredNvItems(table) != 0)
    return std::nullopt;
  const FileIdentity file = IdentityOfTable(table);
  const bool fits =
      stick.imei.empty() ? stick.esn && file.item0 == stick.esn : file.imei == stick.imei;
  if (!fits) {
    line_.SetStatus(Format(line_.Text("%s is not this stick's backup (it holds ESN %08X, IMEI %s).",
                                      "%s ist nicht die Sicherung dieses Geräts (sie enthält ESN "
                                      "%08X, IMEI %s)."),
                           platform::DisplayPath(session_.nvFilePath).c_str(),
                           file.item0.value_or(0), file.imei.empty() ? "-" : file.imei.c_str()),
                    true);
    return std::nullopt;
  }
  const std::string name = session_.nvFilePath;
  return KeptBackup{name, name, KeptBackupState::Kept, {file.item0, file.imei, ""}, ""};
}

// The firmware is written again and the stick works, but without its own NV: a failure that says
// so and where a backup could come from.
void Update::FailWithoutNv() {
  const std::string text = Format(
      line_.Text("The firmware was written again, but the stick's calibration and IMEI could not "
                 "be restored: no NV backup of this stick (%s) was found in %s or in %s. A backup "
                 "of it kept on another computer, or a Channel file saved elsewhere, can be "
                 "written back with the NV restore.",
                 "Die Firmware wurde neu geschrieben, aber Kalibrierung und IMEI des Geräts "
                 "konnten nicht zurückgespielt werden: keine NV-Sicherung dieses Geräts (%s) in "
                 "%s oder %s. Eine Sicherung auf einem anderen Rechner oder eine anderswo "
                 "gespeicherte Channel-Datei kann mit der NV-Rückspielung zurückgeschrieben "
                 "werden."),
      identity_.Describe().c_str(), platform::DisplayPath(store_.directory()).c_str(),
      platform::DisplayPath(session_.nvFilePath).c_str());
  FailLeavingTheStick(text);
}

// One waiting backup is taken as it is; among several the person chooses, each shown with its
// stick and time, and No (the answer when nobody is asked) passes to the next.
std::optional<KeptBackup> Update::ChooseAmong(const std::vector<KeptBackup>& candidates) {
  if (candidates.size() == 1)
    return candidates.front();
  for (const KeptBackup& candidate : candidates) {
    const std::string question = Format(
        line_.Text("%d NV backups wait for a stick like this one. Restore %s (%s, taken %s) "
                   "into it?",
                   "%d NV-Sicherungen warten auf ein Gerät wie dieses. %s (%s, gesichert %s) "
                   "zurückspielen?"),
        static_cast<int>(candidates.size()), candidate.path.c_str(),
        candidate.stick.Describe().c_str(), candidate.TimeText().c_str());
    if (line_.MessageBox(question, kApplicationTitle,
                         box::kYesNo | box::kIconQuestion | box::kDefaultNo) == box::kAnswerYes)
      return candidate;
  }
  if (!candidates.empty()) {
    line_.SetStatus(line_.Text("None of the waiting NV backups was chosen.",
                               "Keine der wartenden NV-Sicherungen wurde gewählt."),
                    true);
  }
  return std::nullopt;
}

// After a re-enumeration, before anything is written into the stick: the stick on the line must
// be the one read before the flash. Another stick ends the line with a box and is left alone.
bool Update::SameStickAsBefore() {
  const StickIdentity now = ReadStickIdentity(session_);
  if (!IdentityContradicts(identity_, now))
    return true;
  anotherStick_ = true;
  session_.busy = 0;
  const std::string text = Format(
      line_.Text("Another stick is on this line now (%s); the stick being updated is %s. Nothing "
                 "was written into it. Plug the stick being updated back in and update it again: "
                 "its NV backup waits for it.",
                 "Ein anderes Gerät ist jetzt an dieser Linie (%s); aktualisiert wird %s. Es wurde "
                 "nichts hineingeschrieben. Stecken Sie das Gerät wieder ein und aktualisieren Sie "
                 "es erneut: seine NV-Sicherung wartet darauf."),
      now.Describe().c_str(), identity_.Describe().c_str());
  FailLeavingTheStick(text);
  return false;
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
  for (int failed = 0; !PortsPresent(line_);) {
    SleepMs(1000);
    if (++failed == kReinsertAfterChecks)
      ErrorBox(line_.Text(kReinsertText, kReinsertTextGerman));
  }
  Progress(7);
  PortsPresent(line_);
  Attempts(3, 2000, [&] { return ReopenPort(session_, LinePort::Diagnostic); });
  line_.ShowPort();
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
  const int mode = line_.choices().nvMode;
  if (mode == 3) {
    if (DefaultFileFitsStick())
      return true;
    FailBeforeTheFlash();
    return false;
  }
  if (mode != 1 && mode != 2)
    return true;
  bool backedUp = NvDirectoryExists(line_.report(), session_.nvDirectory);
  if (!backedUp) {
    SleepMs(200);
    backedUp = NvDirectoryExists(line_.report(), session_.nvDirectory);
  }
  if (backedUp)
    backedUp = TakeOrReuseBackup();
  if (backedUp)
    return true;
  FailBeforeTheFlash();
  return false;
}

// The backup is kept per stick, by its ESN and IMEI. A stick whose last backup was never restored
// has lost its NV (or part of it) to an earlier update: a new backup would save the loss over
// the good one, so that one is restored instead. It is checked now, while nothing is flashed.
bool Update::TakeOrReuseBackup() {
  const std::vector<KeptBackup> waiting = WaitingBackupsOf(line_, store_, identity_);
  if (!waiting.empty()) {
    const KeptBackup& pending = waiting.front();
    NvTable table;
    if (!ReadNvBackupFile(line_, pending.path, table))
      return false;
    // A stick with its own IMEI and every item of that backup still there was not wiped: its NV
    // is not at risk, and a new backup keeps what changed since.
    NvTable fresh;
    if (!identity_.imei.empty() && pending.stick.imei == identity_.imei &&
        BackupNv(line_, session_.nvFilePath, &fresh) && NothingLostSince(table, fresh)) {
      if (!store_.Mark(pending, KeptBackupState::Settled)) {
        line_.SetStatus("cannot record the state of " + pending.path, true);
        return false;
      }
      line_.SetStatus(
          Format(line_.Text("The backup %s waited for its restore, but the stick still holds "
                            "its NV: a new backup takes its place.",
                            "Die Sicherung %s wartete auf ihre Rückspielung, aber das Gerät hat "
                            "seinen NV-Speicher noch: eine neue Sicherung tritt an ihre Stelle."),
                 pending.path.c_str()),
          true);
      return KeepTakenBackup(fresh);
    }
    line_.SetStatus(
        Format(line_.Text("The last backup of this stick, %s, was never restored: no new backup "
                          "is taken, and that one is restored after the update.",
                          "Die letzte Sicherung dieses Geräts, %s, wurde nie zurückgespielt: es "
                          "wird keine neue angelegt, diese wird nach dem Update zurückgespielt."),
               pending.path.c_str()),
        true);
    restoreFrom_ = pending;
    return true;
  }
  if (!identity_.Known()) {
    line_.SetStatus(line_.Text("The stick answers neither an ESN nor an IMEI: its NV backup could "
                               "not be kept apart from other sticks'.",
                               "Das Gerät nennt weder ESN noch IMEI: seine NV-Sicherung ließe "
                               "sich nicht von denen anderer Geräte trennen."),
                    true);
    return false;
  }
  NvTable table;
  if (!BackupNv(line_, session_.nvFilePath, &table))
    return false;
  return KeepTakenBackup(table);
}

// The backup is kept as taken: it waits for its restore only once the flash begins.
bool Update::KeepTakenBackup(const NvTable& table) {
  std::string reason;
  restoreFrom_ = store_.Keep(identity_, table, LocalTimeNow(), KeptBackupState::Taken, reason);
  if (!restoreFrom_) {
    line_.SetStatus(reason, true);
    return false;
  }
  return true;
}

// Before the first image is written: from now on the stick's NV is at risk, and its backup waits
// for its restore. A record that cannot say so stops the update before the flash; the programmer
// is reset, and the stick starts its firmware as it was.
bool Update::MarkWaiting() {
  if (!restoreFrom_ || restoreFrom_->state != KeptBackupState::Taken)
    return true;
  if (store_.Mark(*restoreFrom_, KeptBackupState::Pending)) {
    restoreFrom_->state = KeptBackupState::Pending;
    return true;
  }
  StreamReset(link_);
  session_.busy = 0;
  const std::string text = Format(
      line_.Text("The NV backup's record %s cannot be written: nothing was flashed.",
                 "Der Eintrag der NV-Sicherung %s kann nicht geschrieben werden: es wurde nichts "
                 "geschrieben."),
      restoreFrom_->path.c_str());
  FailLeavingTheStick(text);
  return false;
}

// Mode 3 writes the default file into the stick after the flash: whether it may is asked now,
// while the stick still holds its own NV.
bool Update::DefaultFileFitsStick() {
  return NvFileFitsStick(line_, line_.choices().defaultNvFile);
}

// Nothing has been flashed: the stick is left as it was, in normal operation, with what steps 3
// and 5 changed undone, and the search takes it in again.
void Update::FailBeforeTheFlash() {
  const auto undo = [&] {
    return Attempts(3, 1000, [&] { return SetFlagAA(link_, 0); }) &&
           Attempts(3, 2000, [&] { return SetAutorun(link_, 1); });
  };
  if (!undo()) {
    // The stick may have dropped off and come back on other ports.
    Attempts(3, 2000, [&] {
      return PortsPresent(line_) && ReopenPort(session_, LinePort::Diagnostic) && undo();
    });
  }
  line_.EndOperation(line_.Text(kBackupFailed, kFailedGerman), kOutcomeFailedLeaveStick);
  if (!German())
    ErrorBox(kDownloadFailureBox);
}

void Update::Handshake() {
  Challenge challenge{};
  if (Attempts(3, 500, [&] { return GetChallenge(link_, challenge); }))
    PutChallengeAnswer(link_, Md5(challenge.data(), challenge.size()));
}

bool Update::SwitchToDownloadMode() {
  if (!EnterDownloadMode(line_)) {
    ErrorBox(line_.Text(kReinsertText, kReinsertTextGerman));
    SleepMs(1000);
    WaitForPorts(line_, 1000);
    Attempts(3, 2000, [&] { return ReopenPort(session_, LinePort::Modem); });
    if (ReopenPort(session_, LinePort::Diagnostic) && ProbeStick(session_))
      line_.ShowPort();
    if (!EnterDownloadMode(line_)) {
      session_.busy = 0;
      if (German()) {
        line_.SetStatus(kFailedGerman, true);
      } else {
        line_.EndOperation("switch to DownLoad mode fail!", kOutcomeFailedLeaveStick);
        ErrorBox(kDownloadFailureBox);
      }
      return false;
    }
  }
  line_.ShowPort();
  Progress(21);
  return true;
}

bool Update::StoppedBeforeDownload() {
  if (session_.busy != 0)
    return false;
  if (German())
    line_.EndOperation(kFailedGerman, kOutcomeFailedLeaveStick);
  else
    line_.EndOperation("action stop!", kOutcomeStopped);
  line_.SetState(kLineFail);
  return true;
}

bool Update::LoadProgrammer() {
  bool uploaded = UploadProgrammer(line_);
  if (!uploaded) {
    SleepMs(200);
    uploaded = UploadProgrammer(line_);
  }
  if (!uploaded) {
    line_.EndOperation(line_.Text("Download armprg.bin fail!", kFailedGermanBang), kOutcomeFailed);
    session_.busy = 0;
    if (German())
      line_.EndOperation(kFailedGermanBang, kOutcomeFailed);
    else
      ErrorBox(kDownloadFailureBox);
    return false;
  }
  Progress(22);
  SleepMs(5000);
  if (!StartProgrammer(line_)) {
    line_.EndOperation(line_.Text("skip fail!", kFailedGermanBang), kOutcomeFailed);
    session_.busy = 0;
    return false;
  }
  line_.ShowPort();
  return true;
}

bool Update::WriteImages() {
  if (!MarkWaiting())
    return false;
  for (int pass = 1; pass <= kImagePasses; ++pass) {
    if (ImagePass(pass)) {
      Progress(80);
      return true;
    }
  }
  if (German()) {
    line_.EndOperation(kFailedGermanBang, kOutcomeFailed);
  } else {
    line_.EndOperation("Download fail, please check the log file to get fail information!",
                       kOutcomeFailed);
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
  if (!retried({{5000}, {0, Reopen::Link, 2000}}, [&] { return WritePartitionTable(line_); }))
    return false;
  SleepMs(2000);
  if (!retried({{500}, {0, Reopen::Link, 2000}}, [&] { return WriteBootHeader(line_); }))
    return false;
  Progress(24);
  if (!retried({{500}, {0}}, [&] { return WritePrimaryBootLoader(line_); }))
    return failPass(2000);
  if (!retried({{500}, {0, Reopen::Link, 2000}}, [&] { return WriteOemBootLoader(line_); }))
    return false;
  Progress(25);
  if (!retried({{2000}}, [&] { return WriteAmss(line_); }))
    return false;
  SleepMs(10000);
  if (!WriteProgrammerImage(line_))
    return false;
  return retried({{2000}, {2000}}, [&] { return WriteEfs(line_); });
}

bool Update::BackToNormalOperation() {
  if (!ResetAndWait(line_)) {
    session_.busy = 0;
    if (German()) {
      line_.EndOperation(kFailedGermanBang, kOutcomeFailed);
    } else {
      line_.EndOperation("reset modem fail!", kOutcomeFailedLeaveStick);
      ErrorBox(kDownloadFailureBox);
    }
    return false;
  }
  if (!SameStickAsBefore())
    return false;
  line_.ShowPort();
  Progress(81);
  if (keptItemRead_) {
    uint16_t status = 0;
    Attempts(3, 200, [&] { return WriteNvItem(link_, kKeptNvItem, keptItem_, status); });
  }
  Progress(82);
  return true;
}

bool Update::RestoreNvItems() {
  const int mode = line_.choices().nvMode;
  bool restored = true;
  if (mode == 1 || mode == 2) {
    // The backup this run took, or the stick's own waiting one: no question.
    restored = RestoreWithReplugs();
    if (anotherStick_)
      return false;
    if (restored && !restoreFrom_->folder.empty() && !store_.MarkRestored(*restoreFrom_)) {
      // The NV is back, but the record still says it waits: the run does not say "successful".
      const std::string text = Format(
          line_.Text("The NV was restored, but the record of %s cannot be written: it still "
                     "reads as waiting for its restore.",
                     "Der NV-Speicher wurde zurückgespielt, aber der Eintrag von %s kann nicht "
                     "geschrieben werden: er gilt weiter als wartend."),
          restoreFrom_->path.c_str());
      FailLeavingTheStick(text);
      return false;
    }
  } else if (mode == 3) {
    restored = RestoreNv(line_, line_.choices().defaultNvFile);
  }
  if (restored)
    return true;
  if (!German()) {
    line_.EndOperation("Restore NV fail!", kOutcomeFailedLeaveStick);
  } else if (mode == 1) {
    line_.EndOperation("fehlgeschlagen", kOutcomeFailed);
  } else {
    line_.EndOperation(kFailedGerman, mode == 2 ? kOutcomeFailed : kOutcomeFailedLeaveStick);
  }
  line_.SetState(kLineFail);
  return false;
}

// Three attempts, 2000 ms apart; a stick that dropped off meanwhile is waited for and its link
// opened again, as after the reset, before the next.
bool Update::RestoreWithReplugs() {
  for (int attempt = 1;; ++attempt) {
    if (RestoreNv(line_, restoreFrom_->path))
      return true;
    if (attempt == 3)
      return false;
    SleepMs(2000);
    WaitForPorts(line_, 1000);
    WaitForProbe(line_);
    if (!SameStickAsBefore())
      return false;
  }
}

void Update::RestoreSettings() {
  Progress(95);
  WaitForPorts(line_, 1000);
  WaitForProbe(line_);
  Progress(96);
  line_.ShowPort();
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
      ReopenPort(session_, LinePort::Modem);
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
  if (!line_.choices().severalLines)  // other lines may still write them
    DeleteImages();
  Progress(99);
  SleepMs(3000);
  Progress(100);
}

void Update::Succeed() {
  const char* success =
      line_.Text("The update was successful.", "Update wurde erfolgreich durchgeführt.");
  // With several lines the others go on: this line ends (its Pass picture and status say it),
  // and the connection manager comes back when the program ends.
  if (line_.choices().severalLines) {
    line_.EndOperation(success, kOutcomeBackedUp);
    return;
  }
  if (connectionManager_.cmPresent())
    connectionManager_.RestartConnectionManager();
  line_.SetStatus(success, true);
  session_.busy = 0;
  line_.MessageBox(
      line_.Text("The update was successful.", "Das Update wurde erfolgreich durchgeführt."),
      kApplicationTitle, box::kOk | box::kIconInformation);
  line_.report().ExitProgram(0);
}

}  // namespace

int UpdateWorker(const LineHandle& line, ConnectionManager& connectionManager) {
  return Update(line, connectionManager).Run();
}

}  // namespace orbek

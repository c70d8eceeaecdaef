#include "nv/nv_backup.h"

#include <filesystem>

#include "diag/diag_commands.h"
#include "diag/nv_status.h"
#include "line/form_texts.h"
#include "nv/nv_backup_store.h"
#include "nv/stick_identity.h"
#include "package/image_set.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr int kReadAttempts = 3;
constexpr uint32_t kRetryWaitMs = 100;
constexpr int kModeAttempts = 3;
constexpr uint32_t kModeRetryWaitMs = 200;
constexpr uint32_t kModeSettleMs = 1000;
constexpr int kNvModeRadioOnly = 1;
constexpr int kNvModeDefaultFile = 3;
constexpr int kEsnAttempts = 3;
constexpr uint32_t kEsnRetryWaitMs = 200;
constexpr const char* kDamagedFile = "NVM file for backup NV doesn't exist or destroyed";

// Up to three tries of a mode change, 200 ms after each failure, then a second to settle.
void ChangeModeWithRetries(PhoneLink& link, bool (*change)(PhoneLink&)) {
  for (int attempt = 0; attempt < kModeAttempts; ++attempt) {
    if (change(link))
      break;
    platform::SleepMs(kModeRetryWaitMs);
  }
  platform::SleepMs(kModeSettleMs);
}

bool WriteItemWithRetries(PhoneLink& link, NvRecord& slot) {
  if (WriteNvItem(link, slot.itemId, slot.data, slot.status))
    return true;
  // An inactive or read-only item cannot take the value: it counts as restored.
  if (slot.status == kNvNotActive || slot.status == kNvReadOnly)
    return true;
  if (WriteNvItem(link, slot.itemId, slot.data, slot.status))
    return true;
  for (int attempt = 0; attempt < 2; ++attempt) {
    platform::SleepMs(kRetryWaitMs);
    if (WriteNvItem(link, slot.itemId, slot.data, slot.status))
      return true;
  }
  return false;
}

}  // namespace

bool WriteNvBackupFile(const LineHandle& line, const std::string& path, const NvTable& table) {
  const std::vector<uint8_t> bytes = EncodeNvTable(table);
  int cause = platform::kCauseNone;
  if (platform::WriteFileWhole(path, bytes.data(), bytes.size(), &cause))
    return true;
  line.SetStatus(Format(line.FaceText("线路 %d 失败,保存数据到 %s (%d)",
                                      "Line %d failed to save the data to %s (%d)",
                                      "Linie %d: die Daten konnten nicht in %s gespeichert werden "
                                      "(%d)"),
                        line.index() + 1, platform::DisplayPath(path).c_str(), cause),
                 true);
  return false;
}

bool ReadNvBackupFile(const LineHandle& line, const std::string& path, NvTable& table) {
  const std::optional<platform::RegularFileBytes> file =
      platform::ReadRegularFile(path, kNvBackupFileSize);
  if (!file)
    return false;
  const std::optional<std::string> fault = NvBackupFault(file->bytes.data(), file->size);
  if (!fault && DecodeNvTable(file->bytes.data(), file->bytes.size(), table))
    return true;
  line.SetStatus(kDamagedFile, true);
  if (fault) {
    line.SetStatus(
        Format(line.Text("%s is not an NV backup: %s.", "%s ist keine NV-Sicherung: %s."),
               platform::DisplayPath(path).c_str(), fault->c_str()),
        true);
  }
  line.MessageBox(kDamagedFile, kApplicationTitle, box::kOk);
  return false;
}

bool NvDirectoryExists(UserMessages& messages, const std::string& path) {
  std::string directory = path;
  if (directory.size() == 3 && directory[1] == ':')
    return true;
  if (!directory.empty() && directory.back() == '\\')
    directory.pop_back();
  if (!directory.empty() && platform::PathExists(directory))
    return true;
  messages.MessageBox(Format("Cannot create directory:%s", path.c_str()), kApplicationTitle,
                      box::kOk);
  return false;
}

bool BackupNv(const LineHandle& line, const std::string& path, NvTable* read) {
  SendVersionRecord(line, {kRetryWaitMs});
  LineSession& session = line.session();
  PhoneLink& link = session.link;
  NvTable table = BuildNvItemList();
  const auto readItem = [&](NvRecord& record) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
      if (ReadNvItem(link, record.itemId, record.data, record.status))
        return;
      platform::SleepMs(kRetryWaitMs);
    }
  };
  for (size_t slot = 0; slot < table.size(); ++slot) {
    line.SetProgress(10 + static_cast<int>(slot * 10 / kNvSlotCount));
    NvRecord& record = table[slot];
    if (record.itemId >= kNvEndMarker)
      break;
    readItem(record);
    if (record.status != kNvExchangeFailed)
      continue;
    // No answer at all: the item is asked once more on a link opened again. Still none, and the
    // backup has failed: the items after it are not read (a stick that is gone would hold the
    // line for hours, and the backup cannot be whole any more).
    ReopenPort(session, LinePort::Diagnostic);
    readItem(record);
    if (record.status == kNvExchangeFailed)
      break;
  }
  if (UnansweredNvItems(table) != 0) {
    const NvRecord* silent = &table[0];
    while (silent->status != kNvExchangeFailed)
      ++silent;
    const unsigned item = silent->itemId;
    link.reason = Format(
        "The NV backup is incomplete: the stick stopped answering at item %u. "
        "Nothing was saved over %s.",
        item, platform::DisplayPath(path).c_str());
    line.SetStatus(line.UseGerman()
                       ? Format("Die NV-Sicherung ist unvollständig: das Gerät antwortet ab "
                                "Eintrag %u nicht mehr. %s wurde nicht überschrieben.",
                                item, platform::DisplayPath(path).c_str())
                       : link.reason,
                   true);
    return false;
  }
  if (!WriteNvBackupFile(line, path, table))
    return false;
  if (read != nullptr)
    *read = std::move(table);
  return true;
}

bool RestoreNv(const LineHandle& line, const std::string& path) {
  SendVersionRecord(line, {kRetryWaitMs});
  PhoneLink& link = line.session().link;
  NvTable table = BuildNvItemList();
  if (!ReadNvBackupFile(line, path, table))
    return false;
  ChangeModeWithRetries(link, GoOffline);
  const bool radioOnly = line.choices().nvMode == kNvModeRadioOnly;
  for (size_t slot = 0; slot < table.size(); ++slot) {
    // A retry goes over the items again without taking the bar back.
    const int percent = 82 + static_cast<int>(slot * 13 / kNvSlotCount);
    if (percent > line.session().progress)
      line.SetProgress(percent);
    NvRecord& record = table[slot];
    if (record.itemId >= kNvEndMarker)
      break;
    if (radioOnly && (record.itemId == 550 || record.itemId == 4051))
      continue;
    if (record.status != kNvDone)
      continue;  // not read at backup time
    if (!WriteItemWithRetries(link, record))
      return false;  // the stick stays offline
  }
  ChangeModeWithRetries(link, ChangeModeFour);
  return true;
}

std::vector<KeptBackup> WaitingBackupsOf(const LineHandle& line, const NvBackupStore& store,
                                         const StickIdentity& stick) {
  std::vector<KeptBackup> waiting;
  for (KeptBackup& backup : store.WaitingFor(stick)) {
    if (backup.missing) {
      const bool closed = store.Mark(backup, KeptBackupState::Lost);
      const std::string text = Format(
          line.Text("The NV backup %s waited for its restore, but the file is gone%s. The stick is "
                    "backed up anew.",
                    "Die NV-Sicherung %s wartete auf ihre Rückspielung, aber die Datei fehlt%s. "
                    "Das Gerät wird neu gesichert."),
          backup.path.c_str(),
          closed ? ""
                 : line.Text(" (its record could not be closed)",
                             " (ihr Eintrag ließ sich nicht schließen)"));
      line.SetStatus(text, true);
      line.MessageBox(text, kApplicationTitle, box::kOk | box::kIconExclamation);
      continue;
    }
    if (backup.uncertain) {
      line.SetStatus(
          Format(line.Text("The state of the NV backup %s cannot be read: as the stick's newest, "
                           "it is taken as waiting for its restore.",
                           "Der Zustand der NV-Sicherung %s ist nicht lesbar: als neueste des "
                           "Geräts gilt sie als wartend."),
                 backup.path.c_str()),
          true);
    }
    waiting.push_back(std::move(backup));
  }
  return waiting;
}

bool ReadStickEsn(PhoneLink& link, uint32_t& esn) {
  for (int attempt = 1;; ++attempt) {
    if (ReadEsn(link, esn))
      return true;
    if (attempt == kEsnAttempts)
      return false;
    platform::SleepMs(kEsnRetryWaitMs);
  }
}

namespace {

// The stick's own items 0 and 550, read as the backup reads them.
FileIdentity IdentityInStick(PhoneLink& link) {
  NvTable items(2);
  items[0].itemId = 0;
  items[1].itemId = kImeiItem;
  for (NvRecord& record : items) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
      if (ReadNvItem(link, record.itemId, record.data, record.status) ||
          record.status != kNvExchangeFailed)
        break;
      platform::SleepMs(kRetryWaitMs);
    }
  }
  items.push_back(NvRecord{kNvEndMarker, {}, 0});
  return IdentityOfTable(items);
}

std::string DescribeItems(const FileIdentity& items) {
  return (items.item0 ? Format("ESN %08X", *items.item0) : std::string("ESN -")) + ", IMEI " +
         (items.imei.empty() ? std::string("-") : items.imei);
}

}  // namespace

bool NvFileFitsStick(const LineHandle& line, const std::string& path) {
  NvTable table = BuildNvItemList();
  if (!ReadNvBackupFile(line, path, table)) {
    if (!platform::RegularFileSize(path)) {
      line.SetStatus(Format(line.Text("%s is no NV backup file that can be read.",
                                      "%s ist keine lesbare NV-Sicherungsdatei."),
                            platform::DisplayPath(path).c_str()),
                     true);
    }
    return false;
  }
  const FileIdentity file = IdentityOfTable(table);
  const bool fileTellsNothing = !file.item0 && file.imei.empty();
  const FileIdentity stick = IdentityInStick(line.session().link);
  const bool differs = (file.item0 && stick.item0 && *file.item0 != *stick.item0) ||
                       (!file.imei.empty() && !stick.imei.empty() && file.imei != stick.imei);
  if (!differs && !fileTellsNothing)
    return true;
  const std::string question =
      differs
          ? Format(line.Text("The NV file %s belongs to another stick (%s); this stick holds %s. "
                             "Writing it gives this stick the other stick's IMEI and "
                             "calibration. Write it anyway?",
                             "Die NV-Datei %s gehört zu einem anderen Gerät (%s); dieses Gerät "
                             "hat %s. Sie gäbe diesem Gerät die IMEI und Kalibrierung des "
                             "anderen. Trotzdem schreiben?"),
                   platform::DisplayPath(path).c_str(), DescribeItems(file).c_str(),
                   DescribeItems(stick).c_str())
          : Format(line.Text("The NV file %s does not tell which stick it belongs to (it holds "
                             "no ESN and no IMEI); this stick holds %s. Writing it may give this "
                             "stick another stick's IMEI and calibration. Write it anyway?",
                             "Die NV-Datei %s sagt nicht, zu welchem Gerät sie gehört (sie "
                             "enthält weder ESN noch IMEI); dieses Gerät hat %s. Sie könnte "
                             "diesem Gerät die IMEI und Kalibrierung eines anderen geben. "
                             "Trotzdem schreiben?"),
                   platform::DisplayPath(path).c_str(), DescribeItems(stick).c_str());
  if (line.MessageBox(question, kApplicationTitle,
                      box::kYesNo | box::kIconExclamation | box::kDefaultNo) == box::kAnswerYes) {
    line.SetStatus(Format("NV file of %s written into the stick of %s as asked.",
                          DescribeItems(file).c_str(), DescribeItems(stick).c_str()),
                   true);
    return true;
  }
  line.SetStatus(differs ? line.Text("The NV file was not written: it belongs to another stick.",
                                     "Die NV-Datei wurde nicht geschrieben: sie gehört zu einem "
                                     "anderen Gerät.")
                         : line.Text("The NV file was not written: it does not tell which stick "
                                     "it belongs to.",
                                     "Die NV-Datei wurde nicht geschrieben: sie sagt nicht, zu "
                                     "welchem Gerät sie gehört."),
                 true);
  return false;
}

namespace {

// Ends a stand-alone NV operation that did not start its work, with the reason in the system's
// language on the status line.
void RefuseNvOperation(const LineHandle& line, const std::string& reason) {
  line.EndOperation(reason, kOutcomeFailedLeaveStick);
  line.SetState(kLineFail);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(platform::NativePath(a), platform::NativePath(b), error);
}

}  // namespace

int BackupNvThread(const LineHandle& line) {
  LineSession& session = line.session();
  session.identity = ReadStickIdentity(session);
  session.nvFileUsed = session.nvFilePath;
  const StickIdentity& stick = session.identity;
  if (!stick.Known()) {
    RefuseNvOperation(line, line.Text("The stick answers neither an ESN nor an IMEI: its backup "
                                      "could not be kept apart from other sticks'.",
                                      "Das Gerät nennt weder ESN noch IMEI: seine Sicherung ließe "
                                      "sich keinem Gerät zuordnen."));
    return 0;
  }
  if (!NvDirectoryExists(line.report(), session.nvDirectory)) {
    line.EndOperation(line.FaceText("不能建立NV区目录，请检查备份路径设置是否正确!",
                                    "The NV folder cannot be made: please check the backup path.",
                                    "Der NV-Ordner kann nicht angelegt werden: bitte den "
                                    "Sicherungspfad prüfen."),
                      kOutcomeFailedLeaveStick);
    line.SetState(kLineFail);
    return 0;
  }
  const NvBackupStore store(line.choices().nvBackupsDirectory);
  const std::vector<KeptBackup> waiting = WaitingBackupsOf(line, store, stick);
  if (!waiting.empty()) {
    const KeptBackup* pending = &waiting.front();
    RefuseNvOperation(
        line, Format(line.Text("The last backup of this stick, %s, was never restored: the "
                               "stick's NV may be incomplete, so no new backup is taken. Restore "
                               "that file first.",
                               "Die letzte Sicherung dieses Geräts, %s, wurde nie zurückgespielt: "
                               "sein NV-Speicher kann unvollständig sein, daher wird keine neue "
                               "Sicherung angelegt. Spielen Sie zuerst diese Datei zurück."),
                     pending->path.c_str()));
    return 0;
  }
  line.SetStatus(line.FaceText("NV区备份目录建立成功", "The NV backup folder is there.",
                               "Der NV-Sicherungsordner ist vorhanden."),
                 true);
  line.SetStatus(line.FaceText("现在开始备份NV区", "Backing up the NV now.",
                               "Der NV-Speicher wird jetzt gesichert."),
                 true);
  NvTable table;
  if (!BackupNv(line, session.nvFilePath, &table)) {
    line.EndOperation(session.link.reason, kOutcomeFailedLeaveStick);
    return 0;
  }
  std::string reason;
  const std::optional<KeptBackup> kept =
      store.Keep(stick, table, LocalTimeNow(), KeptBackupState::Kept, reason);
  if (!kept) {
    RefuseNvOperation(line, line.Text("The backup could not be kept: ",
                                      "Die Sicherung konnte "
                                      "nicht aufbewahrt werden: ") +
                                reason);
    return 0;
  }
  line.SetStatus(Format(line.Text("Also kept as %s", "Auch aufbewahrt als %s"), kept->path.c_str()),
                 true);
  line.EndOperation(
      line.FaceText("备份NV区成功", "The NV was backed up.", "Der NV-Speicher wurde gesichert."),
      kOutcomeBackedUp);
  line.SetState(kLinePass);
  line.SetProgress(100);
  return 0;
}

int RestoreNvThread(const LineHandle& line) {
  LineSession& session = line.session();
  const int mode = line.choices().nvMode;
  if (mode != 0) {
    const bool defaultFile = mode == kNvModeDefaultFile;
    const std::string& path = defaultFile ? line.choices().defaultNvFile : session.nvFilePath;
    session.identity = ReadStickIdentity(session);
    session.nvFileUsed = path;
    const char* failed =
        defaultFile ? line.FaceText("装载缺省NV区失败", "Loading the default NV file failed.",
                                    "Das Laden der Standard-NV-Datei ist fehlgeschlagen.")
                    : line.FaceText("重载NV区参数失败", "Restoring the NV failed.",
                                    "Das Zurückspielen des NV-Speichers ist fehlgeschlagen.");
    line.SetStatus(defaultFile ? line.FaceText("装载缺省NV区", "Loading the default NV file.",
                                               "Die Standard-NV-Datei wird geladen.")
                               : line.FaceText("重载NV区参数", "Restoring the NV.",
                                               "Der NV-Speicher wird zurückgespielt."),
                   true);
    if (!NvFileFitsStick(line, path) || !RestoreNv(line, path)) {
      line.EndOperation(failed, kOutcomeFailedLeaveStick);
      line.SetState(kLineFail);
      return 0;
    }
    // The stick's own backup that waited for its restore has had it now. The stick is known from
    // now on by what the file gave it.
    session.identity = ReadStickIdentity(session);
    const NvBackupStore store(line.choices().nvBackupsDirectory);
    for (const KeptBackup& pending : WaitingBackupsOf(line, store, session.identity)) {
      if (SameFile(pending.path, path))
        store.MarkRestored(pending);
    }
  }
  line.EndOperation(line.FaceText("恢复NV区成功", "The NV was restored.",
                                  "Der NV-Speicher wurde zurückgespielt."),
                    kOutcomeRestored);
  line.SetState(kLinePass);
  return 0;
}

}  // namespace orbek

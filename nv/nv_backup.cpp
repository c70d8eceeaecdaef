#include "nv/nv_backup.h"

#include <fstream>

#include "app/line/form_texts.h"
#include "diag/diag_commands.h"
#include "diag/nv_status.h"
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
  const std::string staging = path + ".tmp";
  int cause = platform::kCauseNone;
  // A staging file left by a killed run goes first (a link is removed, not followed); the new
  // one is created only where nothing has the name.
  platform::DeleteOneFile(staging);
  bool written = platform::WriteNewFile(staging, bytes.data(), bytes.size(),
                                        {.flush = true, .cause = &cause, .exclusive = true}) ==
                 platform::WriteResult::Written;
  if (written)
    written = platform::ReplaceFileWith(path, staging, &cause);
  if (written)
    return true;
  platform::DeleteOneFile(staging);
  line.SetStatus(Format("线路 %d 失败,保存数据到 %s (%d)", line.index() + 1, path.c_str(), cause),
                 true);
  return false;
}

bool ReadNvBackupFile(const LineHandle& line, const std::string& path, NvTable& table) {
  std::ifstream file(platform::NativePath(path), std::ios::binary | std::ios::ate);
  if (!file)
    return false;
  const std::streamoff length = file.tellg();
  std::vector<uint8_t> bytes;
  if (length == static_cast<std::streamoff>(kNvBackupFileSize)) {
    bytes.resize(kNvBackupFileSize);
    file.seekg(0);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file)
      bytes.clear();
  }
  if (DecodeNvTable(bytes.data(), bytes.size(), table))
    return true;
  const char* damaged = "NVM file for backup NV doesn't exist or destroyed";
  line.SetStatus(damaged, true);
  line.MessageBox(damaged, kApplicationTitle, box::kOk);
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

bool BackupNv(const LineHandle& line, const std::string& path) {
  SendVersionRecord(line, {kRetryWaitMs});
  PhoneLink& link = line.session().link;
  NvTable table = BuildNvItemList();
  for (size_t slot = 0; slot < table.size(); ++slot) {
    line.SetProgress(10 + static_cast<int>(slot * 10 / kNvSlotCount));
    NvRecord& record = table[slot];
    if (record.itemId >= kNvEndMarker)
      break;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
      if (ReadNvItem(link, record.itemId, record.data, record.status))
        break;
      platform::SleepMs(kRetryWaitMs);
    }
  }
  return WriteNvBackupFile(line, path, table);
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
    line.SetProgress(82 + static_cast<int>(slot * 13 / kNvSlotCount));
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

int BackupNvThread(const LineHandle& line) {
  LineSession& session = line.session();
  uint32_t esn = 0;
  ReadEsn(session.link, esn);
  if (!NvDirectoryExists(line.report(), session.nvDirectory)) {
    line.EndOperation("不能建立NV区目录，请检查备份路径设置是否正确!", kOutcomeFailedLeaveStick);
    line.SetState(kLineFail);
    return 0;
  }
  line.SetStatus("NV区备份目录建立成功", true);
  line.SetStatus("现在开始备份NV区", true);
  if (!BackupNv(line, session.nvFilePath)) {
    line.EndOperation(session.link.reason, kOutcomeFailedLeaveStick);
    return 0;
  }
  line.EndOperation("备份NV区成功", kOutcomeBackedUp);
  line.SetState(kLinePass);
  line.SetProgress(100);
  return 0;
}

int RestoreNvThread(const LineHandle& line) {
  LineSession& session = line.session();
  const int mode = line.choices().nvMode;
  if (mode != 0) {
    const bool defaultFile = mode == kNvModeDefaultFile;
    line.SetStatus(defaultFile ? "装载缺省NV区" : "重载NV区参数", true);
    if (!RestoreNv(line, defaultFile ? line.choices().defaultNvFile : session.nvFilePath)) {
      line.EndOperation(defaultFile ? "装载缺省NV区失败" : "重载NV区参数失败",
                        kOutcomeFailedLeaveStick);
      line.SetState(kLineFail);
      return 0;
    }
  }
  line.EndOperation("恢复NV区成功", kOutcomeRestored);
  line.SetState(kLinePass);
  return 0;
}

}  // namespace orbek

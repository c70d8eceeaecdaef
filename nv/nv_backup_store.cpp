#include "nv/nv_backup_store.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr const char* kOldStatesFile = "states.txt";
constexpr const char* kBackupSuffix = ".nvm";
constexpr const char* kRecordSuffix = ".rec";
constexpr uint64_t kMaxStatesBytes = 1 << 20;
constexpr uint64_t kMaxRecordBytes = 4096;
constexpr size_t kStampLength = 15;  // yyyymmdd-hhmmss
constexpr int kMaxNamesPerSecond = 1000;

struct StateName {
  KeptBackupState state;
  const char* word;
};
constexpr StateName kStateNames[] = {{KeptBackupState::Pending, "pending"},
                                     {KeptBackupState::Restored, "restored"},
                                     {KeptBackupState::Kept, "kept"}};

std::optional<KeptBackupState> StateOfWord(const std::string& word) {
  for (const StateName& name : kStateNames) {
    if (word == name.word)
      return name.state;
  }
  return std::nullopt;
}

const char* WordOfState(KeptBackupState state) {
  for (const StateName& name : kStateNames) {
    if (name.state == state)
      return name.word;
  }
  return "kept";
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Names this store gives: a stamp, maybe "-N", then ".nvm". Anything else is not one of ours
// and is never turned into a path.
bool IsBackupName(const std::string& name) {
  if (!EndsWith(name, kBackupSuffix) || name.size() < kStampLength + 4)
    return false;
  return std::all_of(name.begin(), name.end() - 4, [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '-';
  });
}

std::string RecordPathOf(const std::string& backupPath) {
  return backupPath.substr(0, backupPath.size() - 4) + kRecordSuffix;
}

// Oldest first: by the stamp, then by the number a second backup of the same second carries.
bool Older(const KeptBackup& a, const KeptBackup& b) {
  const auto key = [](const std::string& name) {
    const std::string base = name.substr(0, name.size() - 4);
    const int same =
        base.size() > kStampLength + 1 ? std::atoi(base.c_str() + kStampLength + 1) : 1;
    return std::make_pair(base.substr(0, kStampLength), same);
  };
  return key(a.name) < key(b.name);
}

std::string ReadText(const std::string& path, uint64_t maxBytes) {
  const std::optional<platform::RegularFileBytes> file = platform::ReadRegularFile(path, maxBytes);
  if (!file || file->size > maxBytes)
    return "";
  return std::string(file->bytes.begin(), file->bytes.end());
}

// The states an earlier version kept for a whole folder; a later line wins.
std::map<std::string, KeptBackupState> OldStates(const std::string& folder) {
  std::map<std::string, KeptBackupState> states;
  std::istringstream lines(ReadText(platform::JoinPath(folder, kOldStatesFile), kMaxStatesBytes));
  std::string name;
  std::string word;
  while (lines >> name >> word) {
    const std::optional<KeptBackupState> state = StateOfWord(word);
    if (IsBackupName(name) && state)
      states[name] = *state;
  }
  return states;
}

// A backup's own record: "state=WORD" and "socket=LOCATION" lines. False when it is missing or
// names no known state.
bool ReadRecord(const std::string& path, KeptBackup& backup) {
  std::istringstream lines(ReadText(path, kMaxRecordBytes));
  std::string line;
  bool stateRead = false;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos)
      continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "state") {
      const std::optional<KeptBackupState> state = StateOfWord(value);
      if (state)
        backup.state = *state;
      stateRead = state.has_value();
    } else if (key == "socket" &&
               std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20; })) {
      backup.stick.socket = value;
    }
  }
  return stateRead;
}

}  // namespace

const char* KeptBackupStateText(KeptBackupState state) {
  switch (state) {
    case KeptBackupState::Pending:
      return "pending restore";
    case KeptBackupState::Restored:
      return "restored";
    default:
      return "kept";
  }
}

std::string KeptBackup::TimeText() const {
  if (name.size() < kStampLength)
    return name;
  return name.substr(0, 4) + "-" + name.substr(4, 2) + "-" + name.substr(6, 2) + " " +
         name.substr(9, 2) + ":" + name.substr(11, 2) + ":" + name.substr(13, 2);
}

std::string NvBackupStore::DefaultDirectory() {
  return platform::JoinPath(platform::UserDataDirectory(), "nv-backups");
}

std::string NvBackupStore::FolderPath(const std::string& folder) const {
  return platform::JoinPath(directory_, folder);
}

bool NvBackupStore::Writable() const {
  return platform::CreateDirectories(directory_) && platform::DirectoryWritable(directory_);
}

std::vector<KeptBackup> NvBackupStore::List(const std::string& folder) const {
  std::vector<KeptBackup> backups;
  const std::optional<StickIdentity> stick = IdentityOfFolderName(folder);
  if (!stick)
    return backups;
  const std::string folderPath = FolderPath(folder);
  const std::map<std::string, KeptBackupState> oldStates = OldStates(folderPath);
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(platform::NativePath(folderPath), error)) {
    const std::string name = entry.path().filename().string();
    if (!IsBackupName(name))
      continue;
    KeptBackup backup{name, platform::JoinPath(folderPath, name), KeptBackupState::Kept, *stick,
                      folder};
    if (!ReadRecord(RecordPathOf(backup.path), backup)) {
      // A backup of an earlier version, or one whose run ended before it could record it: never
      // restored over.
      const auto old = oldStates.find(name);
      if (old != oldStates.end())
        backup.state = old->second;
    }
    backups.push_back(std::move(backup));
  }
  std::sort(backups.begin(), backups.end(), Older);
  std::reverse(backups.begin(), backups.end());
  return backups;
}

std::vector<std::string> NvBackupStore::Folders() const {
  std::vector<std::string> folders;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(platform::NativePath(directory_), error)) {
    const std::string name = entry.path().filename().string();
    if (IdentityOfFolderName(name) && entry.is_directory(error))
      folders.push_back(name);
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

std::vector<KeptBackup> NvBackupStore::WaitingFor(const StickIdentity& stick) const {
  std::vector<KeptBackup> waiting;
  for (const std::string& folder : Folders()) {
    for (KeptBackup& backup : List(folder)) {
      if (backup.state != KeptBackupState::Pending)
        continue;
      if (backup.stick.imei.empty()) {
        // A folder named by the ESN alone: the backup itself tells the IMEI it was taken with.
        const std::optional<platform::RegularFileBytes> file =
            platform::ReadRegularFile(backup.path, kNvBackupFileSize);
        NvTable table;
        if (file && DecodeNvTable(file->bytes.data(), file->bytes.size(), table))
          backup.stick.imei = IdentityOfTable(table).imei;
      }
      if (BackupIsOfStick(backup.stick, stick))
        waiting.push_back(std::move(backup));
    }
  }
  std::sort(waiting.begin(), waiting.end(), Older);
  std::reverse(waiting.begin(), waiting.end());
  return waiting;
}

std::optional<KeptBackup> NvBackupStore::NewestOf(const StickIdentity& stick) const {
  if (!stick.Known())
    return std::nullopt;
  StickIdentity placeless = stick;
  placeless.socket.clear();
  std::optional<KeptBackup> newest;
  for (const std::string& folder : Folders()) {
    for (KeptBackup& backup : List(folder)) {
      if (BackupIsOfStick(backup.stick, placeless) && (!newest || Older(*newest, backup)))
        newest = std::move(backup);
    }
  }
  return newest;
}

bool NvBackupStore::WriteRecord(const KeptBackup& backup) const {
  std::string text = std::string("state=") + WordOfState(backup.state) + "\n";
  if (!backup.stick.socket.empty())
    text += "socket=" + backup.stick.socket + "\n";
  return platform::WriteFileWhole(RecordPathOf(backup.path), text.data(), text.size());
}

std::optional<KeptBackup> NvBackupStore::Keep(const StickIdentity& stick, const NvTable& table,
                                              const LocalTime& time, KeptBackupState state,
                                              std::string& reason) const {
  const std::string folderName = IdentityFolderName(stick);
  if (folderName.empty()) {
    reason = "the stick has neither an ESN nor an IMEI to keep its backup by";
    return std::nullopt;
  }
  const std::string folder = FolderPath(folderName);
  if (!platform::CreateDirectories(folder)) {
    reason = "cannot create the folder " + folder;
    return std::nullopt;
  }
  const std::string stamp = Format("%04d%02d%02d-%02d%02d%02d", time.year, time.month, time.day,
                                   time.hour, time.minute, time.second);
  std::optional<KeptBackup> kept;
  for (int same = 1; same <= kMaxNamesPerSecond && !kept; ++same) {
    const std::string name = (same == 1 ? stamp : Format("%s-%d", stamp.c_str(), same)) + ".nvm";
    const std::string path = platform::JoinPath(folder, name);
    if (platform::KindOfPath(path) == platform::PathKind::Missing &&
        platform::KindOfPath(path + ".tmp") == platform::PathKind::Missing &&
        platform::KindOfPath(RecordPathOf(path)) == platform::PathKind::Missing)
      kept = KeptBackup{name, path, state, stick, folderName};
  }
  if (!kept) {
    reason = "no free name for a backup in " + folder;
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes = EncodeNvTable(table);
  int cause = platform::kCauseNone;
  if (!platform::WriteFileWhole(kept->path, bytes.data(), bytes.size(), &cause)) {
    reason = Format("cannot write %s (%d)", kept->path.c_str(), cause);
    return std::nullopt;
  }
  if (!WriteRecord(*kept)) {
    reason = "cannot record the backup's state in " + RecordPathOf(kept->path);
    return std::nullopt;
  }
  return kept;
}

bool NvBackupStore::MarkRestored(const KeptBackup& backup) const {
  if (platform::KindOfPath(backup.path) != platform::PathKind::RegularFile)
    return false;
  KeptBackup restored = backup;
  restored.state = KeptBackupState::Restored;
  return WriteRecord(restored);
}

}  // namespace orbek

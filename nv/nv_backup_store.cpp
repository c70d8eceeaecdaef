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
constexpr StateName kStateNames[] = {
    {KeptBackupState::Pending, "pending"}, {KeptBackupState::Restored, "restored"},
    {KeptBackupState::Kept, "kept"},       {KeptBackupState::Taken, "taken"},
    {KeptBackupState::Settled, "settled"}, {KeptBackupState::Lost, "lost"}};

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

// The file's text; nothing when it is missing, no regular file, or longer than `maxBytes`.
std::optional<std::string> ReadText(const std::string& path, uint64_t maxBytes) {
  const std::optional<platform::RegularFileBytes> file = platform::ReadRegularFile(path, maxBytes);
  if (!file || file->size > maxBytes)
    return std::nullopt;
  return std::string(file->bytes.begin(), file->bytes.end());
}

// The states an earlier version kept for a whole folder; a later line wins. `damaged` when the
// file is there but cannot be read whole.
std::map<std::string, KeptBackupState> OldStates(const std::string& folder, bool& damaged) {
  std::map<std::string, KeptBackupState> states;
  const std::string path = platform::JoinPath(folder, kOldStatesFile);
  const std::optional<std::string> text = ReadText(path, kMaxStatesBytes);
  damaged = !text && platform::KindOfPath(path) != platform::PathKind::Missing;
  std::istringstream lines(text.value_or(""));
  std::string name;
  std::string word;
  while (lines >> name >> word) {
    const std::optional<KeptBackupState> state = StateOfWord(word);
    if (IsBackupName(name) && state)
      states[name] = *state;
  }
  return states;
}

// A backup's own record: "state=WORD" and "socket=LOCATION" lines. False when it is missing; a
// record that names no known state gives Unknown.
bool ReadRecord(const std::string& path, KeptBackup& backup) {
  if (platform::KindOfPath(path) == platform::PathKind::Missing)
    return false;
  backup.state = KeptBackupState::Unknown;
  std::istringstream lines(ReadText(path, kMaxRecordBytes).value_or(""));
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
  if (!stateRead)
    backup.state = KeptBackupState::Unknown;
  return true;
}

}  // namespace

const char* KeptBackupStateText(KeptBackupState state) {
  switch (state) {
    case KeptBackupState::Pending:
      return "pending restore";
    case KeptBackupState::Restored:
      return "restored";
    case KeptBackupState::Taken:
      return "taken";
    case KeptBackupState::Settled:
      return "settled";
    case KeptBackupState::Lost:
      return "lost (file missing)";
    case KeptBackupState::Unknown:
      return "unknown";
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
  bool oldStatesDamaged = false;
  const std::map<std::string, KeptBackupState> oldStates = OldStates(folderPath, oldStatesDamaged);
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(platform::NativePath(folderPath), error)) {
    std::string name = entry.path().filename().string();
    const bool recordAlone = EndsWith(name, kRecordSuffix);
    if (recordAlone)
      name = name.substr(0, name.size() - 4) + kBackupSuffix;
    if (!IsBackupName(name))
      continue;
    KeptBackup backup{name, platform::JoinPath(folderPath, name), KeptBackupState::Unknown, *stick,
                      folder};
    const bool fileThere = platform::KindOfPath(backup.path) != platform::PathKind::Missing;
    if (recordAlone && fileThere)
      continue;  // listed with its file
    backup.missing = !fileThere;
    if (!ReadRecord(RecordPathOf(backup.path), backup)) {
      // A backup of an earlier version: its state from the folder's states file. One that file
      // does not name was written by a run that ended before it could record it, unless the
      // file is damaged: then its state cannot be told.
      const auto old = oldStates.find(name);
      backup.state = old != oldStates.end() ? old->second
                     : oldStatesDamaged     ? KeptBackupState::Unknown
                                            : KeptBackupState::Kept;
    }
    backup.uncertain = backup.state == KeptBackupState::Unknown;
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
    std::vector<KeptBackup> backups = List(folder);
    for (KeptBackup& backup : backups) {
      // A state that cannot be read is never taken as "nothing waiting": the stick's newest
      // backup then counts as waiting.
      const bool newestUnknown =
          backup.state == KeptBackupState::Unknown && &backup == &backups.front();
      if (backup.state != KeptBackupState::Pending && !newestUnknown)
        continue;
      if (backup.stick.imei.empty() && !backup.missing) {
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
      if (!backup.missing && BackupIsOfStick(backup.stick, placeless) &&
          (!newest || Older(*newest, backup)))
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

bool NvBackupStore::Mark(const KeptBackup& backup, KeptBackupState state) const {
  KeptBackup marked = backup;
  marked.state = state;
  return WriteRecord(marked);
}

}  // namespace orbek

#include "nv/nv_backup_store.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

#include "platform/files.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr const char* kStatesFile = "states.txt";
constexpr uint64_t kMaxStatesBytes = 1 << 20;
constexpr int kMaxNamesPerSecond = 1000;

struct StateName {
  KeptBackupState state;
  const char* word;
};
constexpr StateName kStateNames[] = {{KeptBackupState::Pending, "pending"},
                                     {KeptBackupState::Restored, "restored"},
                                     {KeptBackupState::Kept, "kept"}};

// Names this store gives: digits and dashes, then ".nvm". Anything else in the states file is
// not one of ours and is never turned into a path.
bool IsBackupName(const std::string& name) {
  const std::string suffix = ".nvm";
  if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), 4, suffix) != 0)
    return false;
  return std::all_of(name.begin(), name.end() - 4, [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '-';
  });
}

std::optional<uint32_t> EsnOfFolder(const std::string& name) {
  if (name.size() != 8 || !std::all_of(name.begin(), name.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return std::nullopt;
  return static_cast<uint32_t>(std::stoul(name, nullptr, 16));
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

std::string NvBackupStore::DefaultDirectory() {
  return platform::JoinPath(platform::UserDataDirectory(), "nv-backups");
}

std::string NvBackupStore::StickDirectory(uint32_t esn) const {
  return platform::JoinPath(directory_, Format("%08X", esn));
}

bool NvBackupStore::Writable() const {
  return platform::CreateDirectories(directory_) && platform::DirectoryWritable(directory_);
}

std::vector<KeptBackup> NvBackupStore::List(uint32_t esn) const {
  const std::string folder = StickDirectory(esn);
  std::vector<KeptBackup> backups;  // oldest first
  std::set<std::string> recorded;
  const std::optional<platform::RegularFileBytes> states =
      platform::ReadRegularFile(platform::JoinPath(folder, kStatesFile), kMaxStatesBytes);
  if (states) {
    std::istringstream lines(std::string(states->bytes.begin(), states->bytes.end()));
    std::string name;
    std::string word;
    while (lines >> name >> word) {
      const auto known = std::find_if(std::begin(kStateNames), std::end(kStateNames),
                                      [&](const StateName& s) { return word == s.word; });
      if (!IsBackupName(name) || known == std::end(kStateNames))
        continue;
      if (recorded.insert(name).second) {
        backups.push_back({name, platform::JoinPath(folder, name), known->state});
      } else {
        for (KeptBackup& backup : backups) {
          if (backup.name == name)
            backup.state = known->state;  // a later line wins
        }
      }
    }
  }
  // A backup written by a run that ended before it could record it was never restored over.
  std::error_code error;
  std::vector<std::string> unrecorded;
  for (const auto& entry :
       std::filesystem::directory_iterator(platform::NativePath(folder), error)) {
    const std::string name = entry.path().filename().string();
    if (IsBackupName(name) && recorded.count(name) == 0)
      unrecorded.push_back(name);
  }
  std::sort(unrecorded.begin(), unrecorded.end());
  for (const std::string& name : unrecorded)
    backups.push_back({name, platform::JoinPath(folder, name), KeptBackupState::Kept});
  std::reverse(backups.begin(), backups.end());
  return backups;
}

std::vector<uint32_t> NvBackupStore::Sticks() const {
  std::vector<uint32_t> sticks;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(platform::NativePath(directory_), error)) {
    const std::optional<uint32_t> esn = EsnOfFolder(entry.path().filename().string());
    if (esn && entry.is_directory(error))
      sticks.push_back(*esn);
  }
  std::sort(sticks.begin(), sticks.end());
  return sticks;
}

std::optional<KeptBackup> NvBackupStore::Pending(uint32_t esn) const {
  for (const KeptBackup& backup : List(esn)) {
    if (backup.state == KeptBackupState::Pending)
      return backup;
  }
  return std::nullopt;
}

bool NvBackupStore::WriteStates(uint32_t esn, const std::vector<KeptBackup>& oldestFirst) const {
  std::string text;
  for (const KeptBackup& backup : oldestFirst) {
    for (const StateName& state : kStateNames) {
      if (state.state == backup.state)
        text += backup.name + " " + state.word + "\n";
    }
  }
  return platform::WriteFileWhole(platform::JoinPath(StickDirectory(esn), kStatesFile), text.data(),
                                  text.size());
}

std::optional<KeptBackup> NvBackupStore::Keep(uint32_t esn, const NvTable& table,
                                              const LocalTime& time, KeptBackupState state,
                                              std::string& reason) const {
  const std::string folder = StickDirectory(esn);
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
        platform::KindOfPath(path + ".tmp") == platform::PathKind::Missing)
      kept = KeptBackup{name, path, state};
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
  std::vector<KeptBackup> all = List(esn);  // the new one first
  std::reverse(all.begin(), all.end());
  for (KeptBackup& backup : all) {
    if (backup.name == kept->name)
      backup.state = state;
  }
  if (!WriteStates(esn, all)) {
    reason = "cannot record the backup's state in " + folder;
    return std::nullopt;
  }
  return kept;
}

bool NvBackupStore::MarkRestored(uint32_t esn, const std::string& name) const {
  std::vector<KeptBackup> all = List(esn);
  std::reverse(all.begin(), all.end());
  bool found = false;
  for (KeptBackup& backup : all) {
    if (backup.name == name) {
      backup.state = KeptBackupState::Restored;
      found = true;
    }
  }
  return found && WriteStates(esn, all);
}

}  // namespace orbek

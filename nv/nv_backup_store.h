// Every NV backup the updater ever took, kept per stick in the user's data folder:
// "<folder>/<ESN as 8 hex digits>/<yyyymmdd-hhmmss>.nvm", each in the backup file's format,
// never overwritten and never deleted. Beside them, "states.txt" records for each backup whether
// it waits for its restore (taken before a flash rewrite), was restored, or was only kept (taken
// on its own). A stick whose last backup waits for its restore has had its NV wiped or cut
// short: no new backup may be taken over it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log/action_log.h"
#include "nv/nv_item_list.h"

namespace orbek {

enum class KeptBackupState { Pending, Restored, Kept };

// "pending restore", "restored", "kept".
const char* KeptBackupStateText(KeptBackupState state);

struct KeptBackup {
  std::string name;  // "20261209-143000.nvm"
  std::string path;
  KeptBackupState state = KeptBackupState::Kept;
};

class NvBackupStore {
 public:
  explicit NvBackupStore(std::string directory) : directory_(std::move(directory)) {}

  // "<user data folder>/nv-backups".
  static std::string DefaultDirectory();

  const std::string& directory() const { return directory_; }
  std::string StickDirectory(uint32_t esn) const;

  // True when backups can be written here; the folder is made when missing.
  bool Writable() const;

  // Writes the table as a new backup of the stick, named after `time` and never over another
  // file, and records its state. The backup, or nothing with `reason` set (in English).
  std::optional<KeptBackup> Keep(uint32_t esn, const NvTable& table, const LocalTime& time,
                                 KeptBackupState state, std::string& reason) const;
  // The stick's backup that waits for its restore.
  std::optional<KeptBackup> Pending(uint32_t esn) const;
  // The backup has been written back into the stick whole.
  bool MarkRestored(uint32_t esn, const std::string& name) const;

  // The stick's backups, newest first.
  std::vector<KeptBackup> List(uint32_t esn) const;
  // Every stick with a folder here, in ascending order of ESN.
  std::vector<uint32_t> Sticks() const;

 private:
  bool WriteStates(uint32_t esn, const std::vector<KeptBackup>& oldestFirst) const;

  std::string directory_;
};

}  // namespace orbek

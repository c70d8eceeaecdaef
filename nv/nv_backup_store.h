// Every NV backup the updater ever took, kept per stick in the user's data folder:
// "<folder>/<stick>/<yyyymmdd-hhmmss>.nvm", each in the backup file's format, never overwritten
// and never deleted. <stick> names the stick by its ESN and IMEI ("<ESN>-<IMEI>", "<ESN>" or
// "<IMEI>", see IdentityFolderName). Beside each backup, "<yyyymmdd-hhmmss>.rec" records its state
// and the USB socket the stick was in, written whole on its own. Folders of earlier versions,
// named by the ESN alone with the states of all their backups in one "states.txt", are read as
// well.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log/action_log.h"
#include "nv/nv_item_list.h"
#include "nv/stick_identity.h"

namespace orbek {

// Taken: before a flash, which has not begun to write (the stick's NV is as it was). Pending: the
// flash began and the backup waits for its restore. Restored: written back whole. Kept: taken on
// its own. Settled: it waited, but the stick came back with its NV whole, and a new backup took
// its place. Lost: it waited, but its file is gone. Unknown: its record cannot be read.
enum class KeptBackupState { Pending, Restored, Kept, Taken, Settled, Lost, Unknown };

// "pending restore", "restored", "kept", "taken", "settled", "lost (file missing)", "unknown".
const char* KeptBackupStateText(KeptBackupState state);

struct KeptBackup {
  std::string name;  // "20261209-143000.nvm"
  std::string path;
  KeptBackupState state = KeptBackupState::Kept;
  // The stick it was taken of, by its folder and record (the socket only when recorded).
  StickIdentity stick;
  std::string folder;      // the stick's folder name
  bool missing = false;    // its record is there, its file is not
  bool uncertain = false;  // its state could not be read
  // "2026-12-09 14:30:00", from the name.
  std::string TimeText() const;
};

class NvBackupStore {
 public:
  explicit NvBackupStore(std::string directory) : directory_(std::move(directory)) {}

  // "<user data folder>/nv-backups".
  static std::string DefaultDirectory();

  const std::string& directory() const { return directory_; }
  std::string FolderPath(const std::string& folder) const;

  // True when backups can be written here; the folder is made when missing.
  bool Writable() const;

  // Writes the table as a new backup of the stick (known by ESN or IMEI), named after `time`
  // and never over another file, and records its state and socket. The backup, or nothing with
  // `reason` set (in English).
  std::optional<KeptBackup> Keep(const StickIdentity& stick, const NvTable& table,
                                 const LocalTime& time, KeptBackupState state,
                                 std::string& reason) const;
  // The backups that wait for their restore and may go into this stick (BackupIsOfStick),
  // newest first, from every folder; those whose file is gone among them (`missing`). A folder
  // whose newest backup has a state that cannot be read counts it as waiting (`uncertain`).
  std::vector<KeptBackup> WaitingFor(const StickIdentity& stick) const;
  // The newest backup in any state of the stick known by its ESN or IMEI (never by its socket
  // alone: other sticks were in that socket before).
  std::optional<KeptBackup> NewestOf(const StickIdentity& stick) const;
  // Records the backup's new state; false when the record cannot be written.
  bool Mark(const KeptBackup& backup, KeptBackupState state) const;
  bool MarkRestored(const KeptBackup& backup) const {
    return Mark(backup, KeptBackupState::Restored);
  }

  // The backups in one stick's folder, newest first.
  std::vector<KeptBackup> List(const std::string& folder) const;
  // Every stick's folder here, in ascending order of name.
  std::vector<std::string> Folders() const;

 private:
  bool WriteRecord(const KeptBackup& backup) const;

  std::string directory_;
};

}  // namespace orbek

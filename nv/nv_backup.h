// Moving the preserved NV items between the stick and the line's backup file: the backup before
// a flash rewrite, the restore after it, and the stand-alone backup and restore operations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/line_handle.h"
#include "nv/nv_item_list.h"

namespace orbek {

// Writes the table as the line's backup file. The earlier backup is replaced only once every
// byte of the new one is on the disk; on failure (or when the path names a device, a pipe or a
// directory) it is left as it was and the line's status shows the path and the cause.
bool WriteNvBackupFile(const LineHandle& line, const std::string& path, const NvTable& table);
// Reads a backup file over the table: false when it does not open as a regular file (silently)
// or is no well-formed backup file (status with the reason, and a message box).
bool ReadNvBackupFile(const LineHandle& line, const std::string& path, NvTable& table);

// True when the directory exists (a drive root always does); otherwise a message box and false.
bool NvDirectoryExists(UserMessages& messages, const std::string& path);

// Reads every listed item (three tries each; an item the stick refuses is kept with its status)
// and writes the backup file. False when an item got no answer from the stick at all, even after
// the link was opened again: a backup with holes would wipe those items at the restore, so the
// earlier file is left untouched and the line's status says where the stick went silent. False
// too when the file cannot be written.
// `read` receives the table of a whole backup.
bool BackupNv(const LineHandle& line, const std::string& path, NvTable* read = nullptr);
// Writes back every item the backup read. False on a missing or damaged file or an item that
// fails four writes.
bool RestoreNv(const LineHandle& line, const std::string& path);

// Before a restore from a file a person chose (not one the updater took of this stick itself):
// the file must be a backup, and its items 0 and 550 must not differ from the stick's own items
// 0 and 550 where both hold a value. When they differ, or the file holds neither, the person is
// asked whether to write it anyway (another stick's IMEI and calibration); the question's default
// is No. False with the reason on the status line.
bool NvFileFitsStick(const LineHandle& line, const std::string& path);

class NvBackupStore;
struct KeptBackup;
struct StickIdentity;
// The stick's backups that wait for their restore, newest first, whose files are there. One whose
// file is gone is named with its file on the status line and in a box, and closed as lost, so
// that the stick can be backed up again; one whose state could not be read is said to be taken
// as waiting.
std::vector<KeptBackup> WaitingBackupsOf(const LineHandle& line, const NvBackupStore& store,
                                         const StickIdentity& stick);

// The stick's ESN (three tries, 200 ms apart).
bool ReadStickEsn(PhoneLink& link, uint32_t& esn);

// The stand-alone operations a line's worker runs; both return 0.
int BackupNvThread(const LineHandle& line);
int RestoreNvThread(const LineHandle& line);

}  // namespace orbek

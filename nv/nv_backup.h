// Moving the preserved NV items between the stick and the line's backup file: the backup before
// a flash rewrite, the restore after it, and the stand-alone backup and restore operations.
#pragma once

#include <string>

#include "app/line/line_handle.h"
#include "nv/nv_item_list.h"

namespace orbek {

// Writes the table as the line's backup file. The earlier backup is replaced only once every
// byte of the new one is on the disk; on failure it is left as it was and the line's status
// shows the path and the cause.
bool WriteNvBackupFile(const LineHandle& line, const std::string& path, const NvTable& table);
// Reads a backup file over the table: false when it does not open (silently) or is not exactly
// 153,000 bytes long (status and message box).
bool ReadNvBackupFile(const LineHandle& line, const std::string& path, NvTable& table);

// True when the directory exists (a drive root always does); otherwise a message box and false.
bool NvDirectoryExists(UserMessages& messages, const std::string& path);

// Reads every listed item (three tries each; a failed item is kept with its status) and writes
// the backup file. False only when the file cannot be written.
bool BackupNv(const LineHandle& line, const std::string& path);
// Writes back every item the backup read. False on a missing or damaged file or an item that
// fails four writes.
bool RestoreNv(const LineHandle& line, const std::string& path);

// The stand-alone operations a line's worker runs; both return 0.
int BackupNvThread(const LineHandle& line);
int RestoreNvThread(const LineHandle& line);

}  // namespace orbek

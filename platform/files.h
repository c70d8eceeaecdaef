// Files and directories as the updater names them: Windows paths with backslashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orbek::platform {

// A Windows-style path as the platform opens it. Windows: unchanged. Posix: "\" is a separator,
// and a drive path "X:\a\b" lies under $ORBEK_ROOT/drive_x/a/b.
std::string NativePath(const std::string& path);
// The path as the system writes it, for the person to read: on posix the native path with
// doubled separators made single ("/a/ui/\Channel3.nvm" reads "/a/ui/Channel3.nvm").
std::string DisplayPath(const std::string& path);

// The process's current directory (in native form).
std::string CurrentDirectory();

// The drive and directory of the running executable, ending in a separator.
std::string ExecutableDirectory();

// True when a first-match search for `path` finds something (a file or a directory).
bool PathExists(const std::string& path);

// The size of a regular file; nothing for a directory, a device, a pipe or a missing file.
std::optional<uint64_t> RegularFileSize(const std::string& path);

// Creates one directory level (no parents); false when it cannot be created.
bool CreateOneDirectory(const std::string& path);
// Creates the directory and every missing parent; true when it exists afterwards.
bool CreateDirectories(const std::string& path);

// `name` inside `directory`, with the system's own separator.
std::string JoinPath(const std::string& directory, const std::string& name);

// The user's own folder for what the updater keeps: $ORBEK_ROOT on posix (by default
// $XDG_DATA_HOME/orbek-updater), %LOCALAPPDATA%\orbek-updater on Windows. Not created here.
std::string UserDataDirectory();

// True when a new file can be created in the directory (tried with one made and removed again).
bool DirectoryWritable(const std::string& path);

// What a path names, links followed.
enum class PathKind { Missing, RegularFile, Directory, Other };
PathKind KindOfPath(const std::string& path);

// A regular file as read: its length, and its bytes when it is no longer than the limit.
struct RegularFileBytes {
  uint64_t size = 0;
  std::vector<uint8_t> bytes;
};
// Reads a regular file without ever blocking on a pipe or a device; nothing when `path` does not
// open as a regular file (missing, a directory, a device, a pipe).
std::optional<RegularFileBytes> ReadRegularFile(const std::string& path, uint64_t maxBytes);

enum class WriteResult { Written, OpenFailed, WriteFailed };

// Why a file operation failed, numbered as the file-exception causes of the Windows class
// library that the log texts have always shown.
enum FileCause : int {
  kCauseNone = 0,
  kCauseGeneric = 1,
  kCauseFileNotFound = 2,
  kCauseBadPath = 3,
  kCauseTooManyOpenFiles = 4,
  kCauseAccessDenied = 5,
  kCauseSharingViolation = 11,
  kCauseDiskFull = 13,
};

struct WriteOptions {
  // Flush the bytes to the disk before the file is closed.
  bool flush = false;
  // Set to the cause of a failure.
  int* cause = nullptr;
  // Create a new file only: fail when anything (a file, a link) already has the name, rather
  // than write through it.
  bool exclusive = false;
};

// Creates `path` (an existing file is truncated) and writes `size` bytes straight from `data`.
// WriteFailed when the file opened but not every byte could be written; the file then holds
// only part of the data.
WriteResult WriteNewFile(const std::string& path, const void* data, size_t size,
                         WriteOptions options = {});

// Opens `path` for writing, creating it when missing and keeping what it holds, and closes it
// again; false when it cannot be opened so or is not a regular file (a pipe never blocks it).
bool TouchFile(const std::string& path);

// Writes a whole file so that whoever opens `path` finds its old bytes or the new ones, never a
// part: through a staging file "<path>.tmp", created only where nothing has that name (never
// through a link), flushed, then put in place with its directory. A target that is not a
// regular file (a device, a pipe, a directory) is left alone. False with `cause` set; the old
// file is then as it was.
bool WriteFileWhole(const std::string& path, const void* data, size_t size, int* cause = nullptr);

// Appends `text` at the end of `path` (created when missing) in one write, so that a reader of
// the file, or another line appending at the same time, never sees a part of it; what the file
// held is never rewritten. False when the file cannot be opened or not all of it was written.
bool AppendToFile(const std::string& path, const std::string& text);

// Deletes one file; false when it cannot be deleted.
bool DeleteOneFile(const std::string& path);

// Puts `source` in the place of `target` in one step: whoever opens `target` finds either the
// old file or the new one, never a mixture. False (with `cause` set) when it cannot be done.
bool ReplaceFileWith(const std::string& target, const std::string& source, int* cause = nullptr);

}  // namespace orbek::platform

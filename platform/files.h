// Files and directories as the updater names them: Windows paths with backslashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orbek::platform {

// A Windows-style path as the platform opens it. Windows: unchanged. Posix: "\" is a separator,
// and a drive path "X:\a\b" lies under $ORBEK_ROOT/drive_x/a/b.
std::string NativePath(const std::string& path);

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
// again; false when it cannot be opened so.
bool TouchFile(const std::string& path);

// Deletes one file; false when it cannot be deleted.
bool DeleteOneFile(const std::string& path);

// Puts `source` in the place of `target` in one step: whoever opens `target` finds either the
// old file or the new one, never a mixture. False (with `cause` set) when it cannot be done.
bool ReplaceFileWith(const std::string& target, const std::string& source, int* cause = nullptr);

}  // namespace orbek::platform

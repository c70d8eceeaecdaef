// Files and directories as the updater names them: Windows paths with backslashes.
#pragma once

#include <cstddef>
#include <string>

namespace orbek::platform {

// A Windows-style path as the platform opens it. Windows: unchanged. Posix: "\" is a separator,
// and a drive path "X:\a\b" lies under $ORBEK_ROOT/drive_x/a/b.
std::string NativePath(const std::string& path);

// The process's current directory (in native form).
std::string CurrentDirectory();

// True when a first-match search for `path` finds something (a file or a directory).
bool PathExists(const std::string& path);

// Creates one directory level (no parents); false when it cannot be created.
bool CreateOneDirectory(const std::string& path);

enum class WriteResult { Written, OpenFailed, WriteFailed };

// Creates `path` (an existing file is truncated) and writes `size` bytes straight from `data`.
// WriteFailed when the file opened but not every byte could be written; the file then holds
// only part of the data.
WriteResult WriteNewFile(const std::string& path, const void* data, size_t size);

// Deletes one file; false when it cannot be deleted.
bool DeleteOneFile(const std::string& path);

}  // namespace orbek::platform

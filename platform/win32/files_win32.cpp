#include <stdlib.h>
#include <windows.h>

#include <algorithm>

#include "platform/files.h"

namespace orbek::platform {

std::string NativePath(const std::string& path) {
  return path;
}

std::string DisplayPath(const std::string& path) {
  return path;
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string(".");
}

std::string ExecutableDirectory() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return CurrentDirectory() + "\\";
  char drive[_MAX_DRIVE] = {};
  char directory[_MAX_DIR] = {};
  _splitpath(path, drive, directory, nullptr, nullptr);
  return std::string(drive) + directory;
}

std::optional<uint64_t> RegularFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return std::nullopt;
  }
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool PathExists(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  FindClose(search);
  return true;
}

bool CreateOneDirectory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool CreateDirectories(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    // Each level in turn; one that exists already (or a drive, a server) just fails.
    if ((i == path.size() || path[i] == '\\' || path[i] == '/') && !partial.empty())
      CreateDirectoryA(partial.c_str(), nullptr);
    if (i < path.size())
      partial += path[i];
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || directory.back() == '\\' || directory.back() == '/')
    return directory + name;
  return directory + "\\" + name;
}

std::string UserDataDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer)
    return ExecutableDirectory() + "orbek-updater";
  return JoinPath(std::string(buffer, length), "orbek-updater");
}

bool DirectoryWritable(const std::string& path) {
  static LONG counter = 0;
  const std::string probe =
      JoinPath(path, ".orbek-write-check-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(InterlockedIncrement(&counter)));
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(file);
  return true;
}

PathKind KindOfPath(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0)
    return PathKind::Other;  // a device by its name
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                          : PathKind::Other;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return PathKind::Directory;
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::Other : PathKind::RegularFile;
}

std::optional<RegularFileBytes> ReadRegularFile(const std::string& path, uint64_t maxBytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::nullopt;
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || GetFileSizeEx(file, &size) == 0) {
    CloseHandle(file);
    return std::nullopt;
  }
  RegularFileBytes read;
  read.size = static_cast<uint64_t>(size.QuadPart);
  if (read.size <= maxBytes) {
    read.bytes.resize(static_cast<size_t>(read.size));
    size_t got = 0;
    while (got < read.bytes.size()) {
      DWORD chunk = 0;
      const DWORD wanted = static_cast<DWORD>(std::min<size_t>(read.bytes.size() - got, 1 << 20));
      if (ReadFile(file, read.bytes.data() + got, wanted, &chunk, nullptr) == 0 || chunk == 0)
        break;
      got += chunk;
    }
    read.bytes.resize(got);
    read.size = got;
  }
  CloseHandle(file);
  return read;
}

namespace {

void SetCause(int* cause, DWORD error) {
  if (cause == nullptr)
    return;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      *cause = kCauseFileNotFound;
      break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      *cause = kCauseBadPath;
      break;
    case ERROR_TOO_MANY_OPEN_FILES:
      *cause = kCauseTooManyOpenFiles;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      *cause = kCauseAccessDenied;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      *cause = kCauseSharingViolation;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      *cause = kCauseDiskFull;
      break;
    default:
      *cause = kCauseGeneric;
  }
}

}  // namespace

WriteResult WriteNewFile(const std::string& path, const void* data, size_t size,
                         WriteOptions options) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                  options.exclusive ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetCause(options.cause, GetLastError());
    return WriteResult::OpenFailed;
  }
  DWORD written = 0;
  const bool wrote = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != 0;
  bool complete = wrote && written == size;
  if (!complete)
    SetCause(options.cause, wrote ? ERROR_DISK_FULL : GetLastError());
  if (complete && options.flush && FlushFileBuffers(file) == 0) {
    SetCause(options.cause, GetLastError());
    complete = false;
  }
  if (CloseHandle(file) == 0 && complete) {
    SetCause(options.cause, GetLastError());
    complete = false;
  }
  return complete ? WriteResult::Written : WriteResult::WriteFailed;
}

bool TouchFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  const bool regular = GetFileType(file) == FILE_TYPE_DISK;
  return CloseHandle(file) != 0 && regular;
}

bool AppendToFile(const std::string& path, const std::string& text) {
  // FILE_APPEND_DATA alone: every write lands at the end, whoever else appends meanwhile.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool complete =
      GetFileType(file) == FILE_TYPE_DISK &&
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
      written == text.size();
  return CloseHandle(file) != 0 && complete;
}

bool DeleteOneFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

bool ReplaceFileWith(const std::string& target, const std::string& source, int* cause) {
  if (MoveFileExA(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    SetCause(cause, GetLastError());
    return false;
  }
  return true;
}

}  // namespace orbek::platform

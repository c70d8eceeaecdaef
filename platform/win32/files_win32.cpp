#include <windows.h>

#include "platform/files.h"

namespace orbek::platform {

std::string NativePath(const std::string& path) {
  return path;
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string(".");
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

WriteResult WriteNewFile(const std::string& path, const void* data, size_t size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return WriteResult::OpenFailed;
  DWORD written = 0;
  const bool wrote = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != 0;
  const bool closed = CloseHandle(file) != 0;
  return wrote && closed && written == size ? WriteResult::Written : WriteResult::WriteFailed;
}

bool DeleteOneFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

}  // namespace orbek::platform

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/files.h"
#include "platform/paths.h"

namespace orbek::platform {

std::string NativePath(const std::string& path) {
  std::string native;
  size_t start = 0;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    native = OrbekRoot() + "/drive_" +
             static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    start = 2;
  }
  for (size_t i = start; i < path.size(); ++i)
    native += path[i] == '\\' ? '/' : path[i];
  return native;
}

std::string CurrentDirectory() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string(".");
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return stat(NativePath(path).c_str(), &info) == 0;
}

bool CreateOneDirectory(const std::string& path) {
  return mkdir(NativePath(path).c_str(), 0777) == 0;
}

WriteResult WriteNewFile(const std::string& path, const void* data, size_t size) {
  const int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    return WriteResult::OpenFailed;
  // One write; the kernel may take a large buffer in parts, so the rest follows until done.
  const char* next = static_cast<const char*>(data);
  size_t left = size;
  bool complete = true;
  while (left > 0) {
    const ssize_t written = write(fd, next, left);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      complete = false;
      break;
    }
    next += written;
    left -= static_cast<size_t>(written);
  }
  if (close(fd) != 0)
    complete = false;
  return complete ? WriteResult::Written : WriteResult::WriteFailed;
}

bool DeleteOneFile(const std::string& path) {
  return unlink(NativePath(path).c_str()) == 0;
}

}  // namespace orbek::platform

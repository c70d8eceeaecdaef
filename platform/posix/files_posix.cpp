#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

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

}  // namespace orbek::platform

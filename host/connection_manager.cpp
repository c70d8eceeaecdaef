#include "host/connection_manager.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace orbek {
namespace {

constexpr size_t kLocationBytes = 1024;

}  // namespace

bool ConnectionManager::FindConnectionManager() {
  if (auto key = platform::OpenLocalMachineKey(kConnectionManagerKey)) {
    std::string location;
    if (key->ReadString("InstallLocation", location, kLocationBytes))
      cmInstallLocation_ = location;
  }
  // Without a location there is nothing to look for: "\Bin" alone would name the drive root's.
  cmPresent_ = !cmInstallLocation_.empty() && platform::PathExists(cmInstallLocation_ + "\\Bin");
  return true;
}

bool ConnectionManager::StopConnectionManager() {
  platform::RunHiddenAndWait("cmd", "/c call killsvr.bat", installDirectory_);
  return true;
}

std::string ConnectionManager::RestartScript() const {
  if (cmInstallLocation_.empty() ||
      cmInstallLocation_.find_first_of("\"\r\n") != std::string::npos) {
    return {};
  }
  std::string script =
      "set\r\nset DBUS_STARTER_ADDRESS=\r\nset DBUS_STARTER_BUS_TYPE=\r\nset "
      "DBUS_SESSION_BUS_ADDRESS=\r\nset\r\nstart \"start tessard\" \"" +
      cmInstallLocation_ + "\\Bin/tessard.exe\"";
  return script.size() <= kScriptLimit ? script : std::string();
}

bool ConnectionManager::RestartConnectionManager() {
  const std::string script = RestartScript();
  if (script.empty())
    return false;
  const std::string path = platform::NativePath(installDirectory_ + "\\tessard.bat");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return false;
  const bool written = std::fwrite(script.data(), 1, script.size(), file) == script.size();
  std::fclose(file);
  if (!written)
    return false;
  platform::RunHiddenAndWait("cmd", "/c call tessard.bat", installDirectory_);
  return true;
}

}  // namespace orbek

// The companion connection manager: its processes are ended at start so that the updater has
// the stick's ports, and its server is started again after the update or at the end.
#pragma once

#include <string>

namespace orbek {

inline constexpr const char* kConnectionManagerKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5B0C1E7A-3D44-4F2B-9A61-0C7E2D9B8F35}";
inline constexpr size_t kScriptLimit = 499;

class ConnectionManager {
 public:
  // `installDirectory` is where killsvr.bat lies and tessard.bat is written.
  explicit ConnectionManager(std::string installDirectory)
      : installDirectory_(std::move(installDirectory)) {}

  // Reads the install location from the uninstall key; present when "<location>\Bin" exists.
  bool FindConnectionManager();
  // Runs killsvr.bat through the command interpreter and waits for it.
  bool StopConnectionManager();
  // Writes tessard.bat and runs it. False (and nothing written or run) when the location would
  // not make a safe script line, or the script cannot be written.
  bool RestartConnectionManager();

  // The six lines of tessard.bat joined by CR LF; empty when the location is unusable (empty,
  // holding a double quote, CR or LF, or making the script longer than its 499 characters).
  std::string RestartScript() const;

  const std::string& cmInstallLocation() const { return cmInstallLocation_; }
  bool cmPresent() const { return cmPresent_; }

 private:
  std::string installDirectory_;
  std::string cmInstallLocation_;
  bool cmPresent_ = false;
};

}  // namespace orbek

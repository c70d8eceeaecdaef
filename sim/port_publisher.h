// How the simulated stick's ports are published for programs that look for them the way the
// platform layer does: a regedit export of the driver services' entries at ROOT/registry.reg,
// replaced atomically on every change, and (with the pty transport) ROOT/dosdevices/comN links.
#pragma once

#include <functional>
#include <string>

#include "sim/stick.h"

namespace orbek::sim {

struct RegistryNames {
  std::string diagService = "qcusbser6k";
  std::string modemService = "qcusbmdm6k";
};

class RegistryPublisher final : public PortListener {
 public:
  RegistryPublisher(std::string root, RegistryNames names);
  void PortsChanged(const std::vector<PublishedPort>& ports) override;
  // Removes the stick's entries, keeping every other key of the file.
  void Withdraw();
  // Called with the file's whole text after every write (to keep another registry in step).
  std::function<void(const std::string& regeditText)> onWritten;

 private:
  void Write(const std::vector<PublishedPort>& ports, bool withdraw);

  std::string root_;
  RegistryNames names_;
};

// The device instance id the driver service lists for a port.
std::string DeviceInstanceId(PortRole role);

}  // namespace orbek::sim

// Finds the stick's diagnostic and modem ports from the registry entries its driver services
// leave behind, without opening a port.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace orbek {

class PortScanner {
 public:
  // Longest wait for the registry to change when a scan finds nothing.
  static constexpr uint32_t kIdleWaitMs = 500;
  static constexpr uint32_t kIdleStepMs = 20;

  // The scan writes the first line's port numbers.
  PortScanner(int32_t& diagPort, int32_t& dataPort) : diagPort_(diagPort), dataPort_(dataPort) {}

  // True when a device instance was found for the diagnostic or the modem port. `dataPort` is
  // kept when no modem instance is found; `diagPort` becomes 0 when no diagnostic instance is.
  // When nothing is found it waits, at most kIdleWaitMs, for the registry to change before it
  // returns, so that a caller that scans again and again does not spin. `line` is not used: the
  // results always go to the first line.
  bool FindPorts(int line);

  // One pass over the services, without the wait.
  bool ScanOnce();

 private:
  int32_t& diagPort_;
  int32_t& dataPort_;
  platform::RegistryWatch watch_;
};

}  // namespace orbek

// Finds the stick's diagnostic and modem ports from the registry entries its driver services
// leave behind, without opening a port.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace orbek {

// What one search found. The diagnostic port is 0 when no diagnostic instance was found; either
// number is absent when it could not be read (its key or "PortName" missing), and the port it
// would replace then stays as it was.
struct FoundPorts {
  bool found = false;  // a diagnostic or a modem instance
  std::optional<int32_t> diagPort;
  std::optional<int32_t> dataPort;
  // The USB location of the stick the instances belong to (see UsbLocationOf); "" when unknown.
  std::string location;
  // Writes the numbers into a line's ports by those rules.
  void ApplyTo(int32_t& diagPortField, int32_t& dataPortField) const {
    if (diagPort)
      diagPortField = *diagPort;
    if (dataPort)
      dataPortField = *dataPort;
  }
};

// The number of a "PortName" after its "COM": its decimal digits, or 0 when the rest is not a
// number of at most nine digits (0 is no port).
int32_t PortNumberOf(const std::string& portName);

class PortScanner {
 public:
  // Longest wait for the registry to change when a scan finds nothing, in steps of at least
  // kIdleStepMs of clock and of real time.
  static constexpr uint32_t kIdleWaitMs = 500;
  static constexpr uint32_t kIdleStepMs = 20;

  // Where a search looks, asked before each scan: "" at every stick (the last enumerated wins),
  // else one stick's USB location; nothing: nowhere, there is no stick to look for.
  using WhereToLook = std::function<std::optional<std::string>()>;

  // `found` is true when a device instance was found for the diagnostic or the modem port. When
  // nothing is found it waits, at most kIdleWaitMs, for the registry to change before it
  // returns, so that a caller that scans again and again does not spin. Without `where` it
  // looks at every stick.
  FoundPorts FindPorts(const WhereToLook& where = {});

  // One pass over the services, without the wait.
  FoundPorts ScanOnce();

  // With several sticks: the USB location of every stick the services list (see
  // UsbLocationOf), each once, in the order they were enumerated.
  static std::vector<std::string> StickLocations();
  // The ports of the stick at `location` alone: the same rules as ScanOnce, among the instances
  // there (the last enumerated of the first service that has one).
  FoundPorts ScanLocation(const std::string& location);

 private:
  // One pass: the modem and the diagnostic instance, each the one that the first service in
  // order yields to `instanceOf`.
  FoundPorts Scan(
      const std::function<bool(const char* service, std::string& instance)>& instanceOf);

  platform::RegistryWatch watch_;
};

}  // namespace orbek

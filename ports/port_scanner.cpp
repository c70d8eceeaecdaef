#include "ports/port_scanner.h"

#include "platform/clock.h"

namespace orbek {
namespace {

constexpr const char* kServices = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char* kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr size_t kInstanceIdBytes = 1024;

constexpr const char* kModemServices[] = {"Tavrousbnmea", "Keldausbmdm6k", "qcusbmdm6k",
                                          "HSPADataCardusbmdm6k"};
constexpr const char* kDiagServices[] = {"Tavrousbser6k", "Keldausbser6k", "qcusbser6k",
                                         "HSPADataCardusbser6k", "HSPADataCardusbser"};

// The device instance id that the first service in order yields: the value named by the last
// instance (Count - 1) of the service's Enum key.
template <size_t N>
bool FindInstance(const char* const (&services)[N], std::string& instance) {
  for (const char* service : services) {
    auto key = platform::OpenLocalMachineKey(std::string(kServices) + service + "\\Enum");
    if (!key)
      continue;
    uint32_t count = 0;
    if (!key->ReadDword("Count", count))
      continue;
    // Count 0 asks for the value "-1", which no service has.
    const std::string last = std::to_string(static_cast<int64_t>(count) - 1);
    if (key->ReadString(last, instance, kInstanceIdBytes))
      return true;
  }
  return false;
}

// The COM number in the instance's "PortName" (its text after "COM" as a number); nothing when
// the key or the value is missing.
std::optional<int32_t> PortOfInstance(const std::string& instance) {
  auto key = platform::OpenLocalMachineKey(kEnum + instance + "\\Device Parameters");
  std::string name;
  if (!key || !key->ReadString("PortName", name))
    return std::nullopt;
  return PortNumberOf(name);
}

}  // namespace

int32_t PortNumberOf(const std::string& portName) {
  // Only digits count, and only a number a port can have: "COM 7", "COM3\..\x" or a number
  // past the 32-bit range would otherwise become some other port.
  if (portName.size() <= 3 || portName.size() > 3 + 9)
    return 0;
  int32_t number = 0;
  for (size_t i = 3; i < portName.size(); ++i) {
    if (portName[i] < '0' || portName[i] > '9')
      return 0;
    number = number * 10 + (portName[i] - '0');
  }
  return number;
}

FoundPorts PortScanner::ScanOnce() {
  FoundPorts ports;
  std::string instance;
  const bool modemFound = FindInstance(kModemServices, instance);
  if (modemFound)
    ports.dataPort = PortOfInstance(instance);

  const bool diagFound = FindInstance(kDiagServices, instance);
  ports.diagPort = diagFound ? PortOfInstance(instance) : 0;
  ports.found = modemFound || diagFound;
  return ports;
}

FoundPorts PortScanner::FindPorts() {
  watch_.Changed();  // what the scan below reads is the state to wait beyond
  FoundPorts ports = ScanOnce();
  if (ports.found)
    return ports;
  for (uint32_t waited = 0; waited < kIdleWaitMs; waited += kIdleStepMs) {
    platform::SleepMs(kIdleStepMs);
    if (watch_.Changed())
      break;
  }
  return ports;
}

}  // namespace orbek

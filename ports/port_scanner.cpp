#include "ports/port_scanner.h"

#include <algorithm>

#include "platform/clock.h"
#include "ports/line_binding.h"

namespace orbek {
namespace {

constexpr const char* kServices = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char* kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
constexpr size_t kInstanceIdBytes = 1024;
// A service lists one instance per stick plugged in; more than this is not a registry of sticks.
constexpr uint32_t kMaxInstances = 64;

constexpr const char* kModemServices[] = {"Tavrousbnmea", "Keldausbmdm6k", "qcusbmdm6k",
                                          "HSPADataCardusbmdm6k"};
constexpr const char* kDiagServices[] = {"Tavrousbser6k", "Keldausbser6k", "qcusbser6k",
                                         "HSPADataCardusbser6k", "HSPADataCardusbser"};

// Every instance id a service lists, in its order ("0" to Count - 1); none when it has no Count.
std::vector<std::string> InstancesOf(const char* service) {
  std::vector<std::string> instances;
  auto key = platform::OpenLocalMachineKey(std::string(kServices) + service + "\\Enum");
  uint32_t count = 0;
  if (!key || !key->ReadDword("Count", count))
    return instances;
  std::string instance;
  for (uint32_t i = 0; i < count && i < kMaxInstances; ++i) {
    if (key->ReadString(std::to_string(i), instance, kInstanceIdBytes))
      instances.push_back(instance);
  }
  return instances;
}

// The last instance at `location` that the first service in order with one there lists.
template <size_t N>
bool FindInstanceAt(const char* const (&services)[N], const std::string& location,
                    std::string& instance) {
  for (const char* service : services) {
    const std::vector<std::string> instances = InstancesOf(service);
    auto found = std::find_if(instances.rbegin(), instances.rend(),
                              [&](const std::string& id) { return UsbLocationOf(id) == location; });
    if (found != instances.rend()) {
      instance = *found;
      return true;
    }
  }
  return false;
}

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

std::vector<std::string> PortScanner::StickLocations() {
  std::vector<std::string> locations;
  auto add = [&](const char* service) {
    for (const std::string& instance : InstancesOf(service)) {
      const std::string location = UsbLocationOf(instance);
      if (!location.empty() &&
          std::find(locations.begin(), locations.end(), location) == locations.end()) {
        locations.push_back(location);
      }
    }
  };
  for (const char* service : kDiagServices)
    add(service);
  for (const char* service : kModemServices)
    add(service);
  return locations;
}

FoundPorts PortScanner::ScanLocation(const std::string& location) {
  FoundPorts ports;
  std::string instance;
  const bool modemFound = FindInstanceAt(kModemServices, location, instance);
  if (modemFound)
    ports.dataPort = PortOfInstance(instance);
  const bool diagFound = FindInstanceAt(kDiagServices, location, instance);
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

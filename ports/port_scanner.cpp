#include "ports/port_scanner.h"

#include <algorithm>
#include <functional>

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

// The instance a service yields to a scan, if it has one.
using InstanceOfService = std::function<bool(const char* service, std::string& instance)>;

// The device instance id that the first service in order yields.
template <size_t N>
bool FindInstance(const char* const (&services)[N], const InstanceOfService& instanceOf,
                  std::string& instance) {
  for (const char* service : services) {
    if (instanceOf(service, instance))
      return true;
  }
  return false;
}

// The value named by the service's last instance (Count - 1) of its Enum key.
bool LastInstanceOf(const char* service, std::string& instance) {
  auto key = platform::OpenLocalMachineKey(std::string(kServices) + service + "\\Enum");
  uint32_t count = 0;
  if (!key || !key->ReadDword("Count", count))
    return false;
  // Count 0 asks for the value "-1", which no service has.
  const std::string last = std::to_string(static_cast<int64_t>(count) - 1);
  return key->ReadString(last, instance, kInstanceIdBytes);
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

FoundPorts PortScanner::Scan(const InstanceOfService& instanceOf) {
  FoundPorts ports;
  std::string instance;
  const bool modemFound = FindInstance(kModemServices, instanceOf, instance);
  if (modemFound) {
    ports.dataPort = PortOfInstance(instance);
    ports.location = UsbLocationOf(instance);
  }

  const bool diagFound = FindInstance(kDiagServices, instanceOf, instance);
  ports.diagPort = diagFound ? PortOfInstance(instance) : 0;
  if (diagFound)
    ports.location = UsbLocationOf(instance);
  ports.found = modemFound || diagFound;
  return ports;
}

FoundPorts PortScanner::ScanOnce() {
  return Scan(LastInstanceOf);
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
  // The last instance the service lists at the location.
  return Scan([&](const char* service, std::string& instance) {
    const std::vector<std::string> instances = InstancesOf(service);
    auto found = std::find_if(instances.rbegin(), instances.rend(),
                              [&](const std::string& id) { return UsbLocationOf(id) == location; });
    if (found == instances.rend())
      return false;
    instance = *found;
    return true;
  });
}

FoundPorts PortScanner::FindPorts(const WhereToLook& where) {
  watch_.Changed();  // what the scan below reads is the state to wait beyond
  const std::optional<std::string> location = where ? where() : std::string();
  FoundPorts ports;
  ports.diagPort = 0;  // looking nowhere finds no diagnostic instance
  if (location)
    ports = location->empty() ? ScanOnce() : ScanLocation(*location);
  if (ports.found)
    return ports;
  const uint32_t step = platform::PollStepMs(kIdleStepMs, kIdleStepMs);
  for (uint32_t waited = 0; waited < kIdleWaitMs; waited += step) {
    platform::SleepMs(step);
    if (watch_.Changed())
      break;
  }
  return ports;
}

}  // namespace orbek

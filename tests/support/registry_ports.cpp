#include "tests/support/registry_ports.h"

#include <cstdlib>

#include "platform/registry.h"

namespace orbek::testing {

int PublishedCom(const std::string& service) {
  auto enumKey =
      platform::OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Services\\" + service + "\\Enum");
  uint32_t count = 0;
  std::string instance, portName;
  if (!enumKey || !enumKey->ReadDword("Count", count) || count == 0 ||
      !enumKey->ReadString(std::to_string(count - 1), instance)) {
    return 0;
  }
  auto parameters = platform::OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Enum\\" + instance +
                                                  "\\Device Parameters");
  if (!parameters || !parameters->ReadString("PortName", portName) || portName.size() < 4)
    return 0;
  return std::atoi(portName.c_str() + 3);
}

}  // namespace orbek::testing

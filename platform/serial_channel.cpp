#include "platform/serial_channel.h"

#include <atomic>

namespace orbek::platform {
namespace {
std::atomic<SerialBus*> installedBus{nullptr};
}

SerialBus* InstallSerialBus(SerialBus* bus) {
  return installedBus.exchange(bus);
}

std::unique_ptr<SerialChannel> OpenSerialChannel(int comNumber, const SerialSettings& settings) {
  SerialBus* bus = installedBus.load();
  return (bus != nullptr ? *bus : SystemSerialBus()).Open(comNumber, settings);
}

}  // namespace orbek::platform

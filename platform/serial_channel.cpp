#include "platform/serial_channel.h"

#include <atomic>

namespace orbek::platform {
namespace {
std::atomic<SerialBus*> installedBus{nullptr};
thread_local SerialOpenProblem lastOpenProblem;
}  // namespace

SerialBus* InstallSerialBus(SerialBus* bus) {
  return installedBus.exchange(bus);
}

std::unique_ptr<SerialChannel> OpenSerialChannel(int comNumber, const SerialSettings& settings) {
  SerialBus* bus = installedBus.load();
  lastOpenProblem = {};
  return (bus != nullptr ? *bus : SystemSerialBus()).Open(comNumber, settings);
}

SerialOpenProblem LastSerialOpenProblem() {
  return lastOpenProblem;
}

void NoteSerialOpenProblem(SerialOpenProblem problem) {
  lastOpenProblem = std::move(problem);
}

}  // namespace orbek::platform

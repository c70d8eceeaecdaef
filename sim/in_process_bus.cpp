#include "sim/in_process_bus.h"

namespace orbek::sim {
namespace {

// One open port. Once the stick has dropped the port (reset, unplug) it stays dead, as a
// Windows handle to a vanished device does: writes fail, nothing is queued.
class InProcessChannel final : public platform::SerialChannel {
 public:
  InProcessChannel(Stick& stick, uint64_t portId) : stick_(stick), portId_(portId) {}

  void Purge(platform::PurgeScope scope) override {
    if (scope == platform::PurgeScope::InputAndOutput)
      stick_.HostPurgeInput(portId_);
  }

  size_t Write(const uint8_t* bytes, size_t count) override {
    return stick_.HostWrite(portId_, bytes, count) ? count : 0;
  }

  size_t BytesQueued() override { return stick_.HostQueued(portId_); }

  size_t Read(uint8_t* destination, size_t count) override {
    return stick_.HostRead(portId_, destination, count);
  }

 private:
  Stick& stick_;
  uint64_t portId_;
};

}  // namespace

InProcessBus::InProcessBus(Stick& stick) : InProcessBus(std::vector<Stick*>{&stick}) {}

InProcessBus::InProcessBus(std::vector<Stick*> sticks)
    : sticks_(std::move(sticks)), previous_(platform::InstallSerialBus(this)) {}

InProcessBus::~InProcessBus() {
  platform::InstallSerialBus(previous_);
}

std::unique_ptr<platform::SerialChannel> InProcessBus::Open(int comNumber,
                                                            const platform::SerialSettings&) {
  for (Stick* stick : sticks_) {
    stick->Pump();
    if (std::optional<PublishedPort> port = stick->PortByCom(comNumber))
      return std::make_unique<InProcessChannel>(*stick, port->id);
  }
  return nullptr;
}

}  // namespace orbek::sim

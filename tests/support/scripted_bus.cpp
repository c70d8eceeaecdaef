#include "tests/support/scripted_bus.h"

#include <algorithm>

namespace orbek::testing {

class ScriptedChannel final : public platform::SerialChannel {
 public:
  explicit ScriptedChannel(ScriptedBus& bus) : bus_(bus) {}

  void Purge(platform::PurgeScope scope) override {
    bus_.purges.push_back(scope);
    if (scope == platform::PurgeScope::InputAndOutput)
      bus_.input_.clear();
  }

  size_t Write(const uint8_t* bytes, size_t count) override {
    bus_.writes_.emplace_back(bytes, bytes + count);
    if (!bus_.answers_.empty()) {
      if (const auto& answer = bus_.answers_.front())
        bus_.Deliver(*answer);
      bus_.answers_.pop_front();
    }
    return count;
  }

  size_t BytesQueued() override { return bus_.input_.size(); }

  size_t Read(uint8_t* destination, size_t count) override {
    size_t n = std::min(count, bus_.input_.size());
    std::copy_n(bus_.input_.begin(), n, destination);
    bus_.input_.erase(bus_.input_.begin(), bus_.input_.begin() + static_cast<ptrdiff_t>(n));
    return n;
  }

 private:
  ScriptedBus& bus_;
};

ScriptedBus::ScriptedBus(int comNumber)
    : comNumber_(comNumber), previous_(platform::InstallSerialBus(this)) {}

ScriptedBus::~ScriptedBus() {
  platform::InstallSerialBus(previous_);
}

std::unique_ptr<platform::SerialChannel> ScriptedBus::Open(int comNumber,
                                                           const platform::SerialSettings&) {
  if (comNumber != comNumber_)
    return nullptr;
  return std::make_unique<ScriptedChannel>(*this);
}

}  // namespace orbek::testing

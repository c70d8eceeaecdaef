// The simulated stick's ports as a serial bus inside the updater's process: SerialPort opens
// them by COM number, with no thread and no real time in between. Install it with
// platform::InstallSerialBus for the lifetime of the object.
#pragma once

#include <memory>
#include <vector>

#include "platform/serial_channel.h"
#include "sim/stick.h"

namespace orbek::sim {

class InProcessBus final : public platform::SerialBus {
 public:
  explicit InProcessBus(Stick& stick);
  // Several sticks plugged in at once: each port opens on the stick that has its COM number.
  explicit InProcessBus(std::vector<Stick*> sticks);
  ~InProcessBus() override;
  InProcessBus(const InProcessBus&) = delete;
  InProcessBus& operator=(const InProcessBus&) = delete;

  std::unique_ptr<platform::SerialChannel> Open(int comNumber,
                                                const platform::SerialSettings& settings) override;

 private:
  std::vector<Stick*> sticks_;
  platform::SerialBus* previous_;
};

}  // namespace orbek::sim

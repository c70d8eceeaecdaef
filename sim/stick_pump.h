// Lets the simulated stick's time pass on its own: a thread that fires its timed events every
// millisecond of real time, for in-process runs where the host does not touch the stick while
// it waits (a stick coming back after a reset, say).
#pragma once

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "sim/stick.h"

namespace orbek::sim {

class StickPump {
 public:
  explicit StickPump(Stick& stick)
      : stick_(stick), thread_([this] {
          while (running_) {
            stick_.Pump();
            platform::detail::RealSleepMicroseconds(1000);
          }
        }) {}
  ~StickPump() {
    running_ = false;
    thread_.join();
  }
  StickPump(const StickPump&) = delete;
  StickPump& operator=(const StickPump&) = delete;

 private:
  Stick& stick_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

}  // namespace orbek::sim

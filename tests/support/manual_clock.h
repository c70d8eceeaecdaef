// A clock that moves only when someone sleeps on it: time-outs of minutes take no real time and
// every run sees the same times.
#pragma once

#include <atomic>

#include "platform/clock.h"

namespace orbek::testing {

class ManualClock final : public platform::Clock {
 public:
  ManualClock() : previous_(platform::InstallClock(this)) {}
  ~ManualClock() override { platform::InstallClock(previous_); }
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  uint64_t TickCountMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override { now_ += ms; }
  void Advance(uint64_t ms) { now_ += ms; }

 private:
  std::atomic<uint64_t> now_{1000};
  platform::Clock* previous_;
};

}  // namespace orbek::testing

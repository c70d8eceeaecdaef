// A clock that moves only when someone sleeps on it: time-outs of minutes take no real time and
// every run sees the same times.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

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

// A manual clock for one thread whose rhythm a test follows: each of its sleeps waits until the
// test has seen it (AwaitSleep) and lets it pass (Wake), so that between two sleeps the test
// sees the thread standing still.
class LockstepClock final : public platform::Clock {
 public:
  LockstepClock() : previous_(platform::InstallClock(this)) {}
  ~LockstepClock() override {
    Release();
    platform::InstallClock(previous_);
  }
  LockstepClock(const LockstepClock&) = delete;
  LockstepClock& operator=(const LockstepClock&) = delete;

  uint64_t TickCountMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override {
    std::unique_lock<std::mutex> hold(mutex_);
    asked_ = ms;
    changed_.notify_all();
    changed_.wait(hold, [this] { return woken_ || released_; });
    asked_.reset();
    woken_ = false;
    now_ += ms;
  }

  // The length of the sleep the thread stands in, once it does (nothing after `realMs`).
  std::optional<uint32_t> AwaitSleep(int realMs = 5000) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait_for(hold, std::chrono::milliseconds(realMs),
                      [this] { return asked_.has_value() && !woken_; });
    return woken_ ? std::nullopt : asked_;
  }
  void Wake() {
    std::lock_guard<std::mutex> hold(mutex_);
    woken_ = true;
    changed_.notify_all();
  }
  // Every sleep passes at once from now on.
  void Release() {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::atomic<uint64_t> now_{1000};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<uint32_t> asked_;
  bool woken_ = false;
  bool released_ = false;
  platform::Clock* previous_;
};

}  // namespace orbek::testing

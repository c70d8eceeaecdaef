// A thread that can be suspended and resumed without being frozen mid-exchange: it parks only at
// the safe points its body passes (SafePoint, and inside its SleepMs). Created parked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace orbek::platform {

class SuspendableThread {
 public:
  using Body = std::function<void(SuspendableThread&)>;

  // The body starts when the thread is first resumed.
  explicit SuspendableThread(Body body);
  // Asks the body to stop (its safe points return false), resumes it and joins.
  ~SuspendableThread();
  SuspendableThread(const SuspendableThread&) = delete;
  SuspendableThread& operator=(const SuspendableThread&) = delete;

  void Resume();
  // Asks the thread to park at its next safe point; returns at once.
  void Suspend();
  // Waits, at most `timeoutMs` of clock time, until the thread is parked or has ended;
  // `whileWaiting` (when given) runs between the looks.
  bool WaitUntilParked(uint32_t timeoutMs, const std::function<void()>& whileWaiting = {});
  bool Parked() const;

  // For the body: parks while suspended; false when the thread is to stop.
  bool SafePoint();
  // For the body: sleeps through the platform clock in short slices, parking at each; false
  // when the thread is to stop.
  bool SleepMs(uint32_t ms);

 private:
  void Run();

  Body body_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool suspendRequested_ = true;
  bool parked_ = false;
  bool stopping_ = false;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace orbek::platform

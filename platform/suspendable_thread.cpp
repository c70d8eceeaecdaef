#include "platform/suspendable_thread.h"

#include <algorithm>

#include "platform/clock.h"

namespace orbek::platform {
namespace {
constexpr uint32_t kSleepSliceMs = 50;
constexpr uint32_t kParkPollMs = 5;
}  // namespace

SuspendableThread::SuspendableThread(Body body) : body_(std::move(body)) {
  thread_ = std::thread([this] { Run(); });
}

SuspendableThread::~SuspendableThread() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
    suspendRequested_ = false;
  }
  changed_.notify_all();
  thread_.join();
}

void SuspendableThread::Run() {
  if (SafePoint())
    body_(*this);
  std::lock_guard<std::mutex> hold(mutex_);
  finished_ = true;
  changed_.notify_all();
}

void SuspendableThread::Resume() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    suspendRequested_ = false;
  }
  changed_.notify_all();
}

void SuspendableThread::Suspend() {
  std::lock_guard<std::mutex> hold(mutex_);
  suspendRequested_ = true;
}

bool SuspendableThread::Parked() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return parked_ || finished_;
}

bool SuspendableThread::WaitUntilParked(uint32_t timeoutMs,
                                        const std::function<void()>& whileWaiting) {
  const uint64_t start = TickCountMs();
  while (!Parked()) {
    if (TickCountMs() - start > timeoutMs)
      return false;
    if (whileWaiting)
      whileWaiting();
    ::orbek::platform::SleepMs(kParkPollMs);
  }
  return true;
}

bool SuspendableThread::SafePoint() {
  std::unique_lock<std::mutex> hold(mutex_);
  if (suspendRequested_ && !stopping_) {
    parked_ = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return !suspendRequested_ || stopping_; });
    parked_ = false;
  }
  return !stopping_;
}

bool SuspendableThread::SleepMs(uint32_t ms) {
  uint32_t left = ms;
  while (left > 0) {
    if (!SafePoint())
      return false;
    const uint32_t slice = std::min(left, kSleepSliceMs);
    ::orbek::platform::SleepMs(slice);
    left -= slice;
  }
  return SafePoint();
}

}  // namespace orbek::platform

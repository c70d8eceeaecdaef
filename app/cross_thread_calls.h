// What a window face keeps of the calls other threads make on its UI thread: how many are on
// their way, and whether the face still takes them. When the window goes, the face detaches:
// later calls return at once without touching it, and the ones on their way are served first.
#pragma once

#include <functional>
#include <mutex>

namespace orbek {

class CrossThreadCalls {
 public:
  // A call from another thread begins; false when the face has detached (the call is dropped).
  bool Begin() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (detached_)
      return false;
    ++inFlight_;
    return true;
  }
  void End() {
    std::lock_guard<std::mutex> hold(mutex_);
    --inFlight_;
  }
  // On the UI thread: takes no more calls and returns once those on their way have ended,
  // running `serve` (the face's way of running waiting calls) meanwhile.
  void Detach(const std::function<void()>& serve) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      detached_ = true;
    }
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        if (inFlight_ == 0)
          return;
      }
      serve();
    }
  }

 private:
  std::mutex mutex_;
  bool detached_ = false;
  int inFlight_ = 0;
};

}  // namespace orbek

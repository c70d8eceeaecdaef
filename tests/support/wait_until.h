// Waiting in tests for something another thread or process does, in real time.
#pragma once

#include <chrono>
#include <thread>

namespace orbek::testing {

// Polls `condition` every millisecond of real time for up to `realMs`.
template <typename Condition>
bool WaitUntil(Condition condition, int realMs = 2000) {
  for (int i = 0; i < realMs; ++i) {
    if (condition())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

}  // namespace orbek::testing

#include <windows.h>

#include "platform/clock.h"

namespace orbek::platform::detail {
namespace {

// Sleep's granularity follows the system timer; one millisecond is what the waits of the
// protocol layers are written for.
struct TimerResolution {
  TimerResolution() { timeBeginPeriod(1); }
  ~TimerResolution() { timeEndPeriod(1); }
};

}  // namespace

uint64_t RealMicroseconds() {
  // The performance counter rather than GetTickCount64: a scaled clock multiplies the source's
  // granularity, and GetTickCount64 moves in steps of 10-16 ms.
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / frequency * 1000000 +
                               now.QuadPart % frequency * 1000000 / frequency);
}

void RealSleepMicroseconds(uint64_t us) {
  static TimerResolution resolution;
  Sleep(static_cast<DWORD>((us + 999) / 1000));
}

}  // namespace orbek::platform::detail

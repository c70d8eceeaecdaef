#include <errno.h>
#include <time.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "platform/clock.h"

namespace orbek::platform::detail {

uint64_t RealMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

void RealSleepMicroseconds(uint64_t us) {
#if defined(__linux__)
  // The link's polling sleeps are a few milliseconds; the default 50 us of timer slack per
  // sleep would add several per cent to every exchange. (Windows gets its 1 ms timer
  // resolution the same way, once.)
  thread_local const bool precise = prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0) == 0;
  (void)precise;
#endif
  timespec wait{static_cast<time_t>(us / 1000000u), static_cast<long>((us % 1000000u) * 1000u)};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace orbek::platform::detail

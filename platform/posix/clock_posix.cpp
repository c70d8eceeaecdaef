#include <errno.h>
#include <time.h>

#include "platform/clock.h"

namespace orbek::platform::detail {

uint64_t RealMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

void RealSleepMicroseconds(uint64_t us) {
  timespec wait{static_cast<time_t>(us / 1000000u), static_cast<long>((us % 1000000u) * 1000u)};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace orbek::platform::detail

#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/worker_hold.h"

namespace orbek::platform {
namespace {

double ScaleFromEnvironment() {
  std::string complaint;
  const double scale = ParseTimeScale(std::getenv("ORBEK_TIME_SCALE"), complaint);
  if (!complaint.empty())
    std::fprintf(stderr, "%s\n", complaint.c_str());
  return scale;
}

}  // namespace

double ParseTimeScale(const char* text, std::string& complaint) {
  complaint.clear();
  if (text == nullptr || *text == '\0')
    return 1.0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value < 1.0) {
    complaint = std::string("ORBEK_TIME_SCALE=") + text +
                " is not a number of at least 1: the clock runs at its real pace";
    return 1.0;
  }
  // Faster than this, the waits of a millisecond or more shrink below what the system can sleep,
  // and an idle search spins instead of waiting.
  if (value > kMaxTimeScale) {
    complaint = std::string("ORBEK_TIME_SCALE=") + text + " is above " +
                std::to_string(static_cast<int>(kMaxTimeScale)) + ": the clock runs " +
                std::to_string(static_cast<int>(kMaxTimeScale)) + " times faster";
    return kMaxTimeScale;
  }
  return value;
}

namespace {

std::atomic<double>& ScaleSetting() {
  static std::atomic<double> scale{ScaleFromEnvironment()};
  return scale;
}

// Scaled time is accumulated piecewise so that changing the scale never makes the clock jump
// backwards.
class ScaledSystemClock final : public Clock {
 public:
  uint64_t TickCountMs() override {
    std::lock_guard<std::mutex> hold(mutex_);
    uint64_t now = detail::RealMicroseconds();
    double scale = TimeScale();
    scaledMicroseconds_ += static_cast<double>(now - lastReal_) * scale;
    lastReal_ = now;
    return static_cast<uint64_t>(scaledMicroseconds_ / 1000.0);
  }

  void SleepMs(uint32_t ms) override {
    if (ms == 0) {
      detail::RealSleepMicroseconds(0);
      return;
    }
    double realUs = static_cast<double>(ms) * 1000.0 / TimeScale();
    detail::RealSleepMicroseconds(static_cast<uint64_t>(std::ceil(realUs)));
  }

 private:
  std::mutex mutex_;
  uint64_t lastReal_ = detail::RealMicroseconds();
  double scaledMicroseconds_ = 0.0;
};

std::atomic<Clock*> installedClock{nullptr};

}  // namespace

Clock& SystemClock() {
  static ScaledSystemClock clock;
  return clock;
}

static Clock& CurrentClock() {
  Clock* clock = installedClock.load();
  return clock != nullptr ? *clock : SystemClock();
}

uint64_t TickCountMs() {
  return CurrentClock().TickCountMs();
}
void SleepMs(uint32_t ms) {
  ParkIfHeld();
  CurrentClock().SleepMs(ms);
}

Clock* InstallClock(Clock* clock) {
  return installedClock.exchange(clock);
}

double TimeScale() {
  return ScaleSetting().load();
}

void SetTimeScale(double scale) {
  SystemClock().TickCountMs();  // close the period that ran at the old scale
  ScaleSetting().store(scale > 0.0 && std::isfinite(scale) ? scale : 1.0);
}

uint32_t PollStepMs(uint32_t ms, uint32_t minRealMs) {
  if (installedClock.load() != nullptr)
    return ms;
  const double floor = std::ceil(static_cast<double>(minRealMs) * TimeScale());
  return floor > ms ? static_cast<uint32_t>(std::min(floor, 4294967295.0)) : ms;
}

uint32_t RealWaitMs(uint32_t ms) {
  if (ms == 0)
    return 0;
  double real = std::ceil(static_cast<double>(ms) / TimeScale());
  return real < 1.0 ? 1u : static_cast<uint32_t>(real);
}

}  // namespace orbek::platform

// The one clock of the program. Every wait of the updater and of the simulated stick goes
// through here, so that ORBEK_TIME_SCALE (or a clock installed by a test) speeds them all up
// alike.
#pragma once

#include <cstdint>
#include <string>

namespace orbek::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed start, monotonic.
  virtual uint64_t TickCountMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The operating system's monotonic clock, running TimeScale() times faster than real time.
Clock& SystemClock();

// The clock in force: the system clock unless a test installed another.
uint64_t TickCountMs();
void SleepMs(uint32_t ms);

// Installs `clock` for the whole process (nullptr restores the system clock); returns the one
// that was in force. Meant for tests and the simulator's harness.
Clock* InstallClock(Clock* clock);

// How many times faster than real time the system clock runs: ORBEK_TIME_SCALE when it holds a
// positive number, else 1.
double TimeScale();
void SetTimeScale(double scale);
// The fastest clock ORBEK_TIME_SCALE can ask for.
inline constexpr double kMaxTimeScale = 1000;
// The scale an ORBEK_TIME_SCALE text asks for: a finite number of at least 1 (a slower clock
// would stretch every wait, the close included, past use). Anything else gives 1 and a line in
// `complaint` that says why; a number above kMaxTimeScale gives kMaxTimeScale and a line.
double ParseTimeScale(const char* text, std::string& complaint);

// The step of a wait that polls: `ms` of clock time, but on the system clock never less than
// `minRealMs` of real time, so that a fast clock does not turn the poll into a spin.
uint32_t PollStepMs(uint32_t ms, uint32_t minRealMs);

// Real milliseconds that `ms` of clock time take at the current scale (at least 1 when ms > 0),
// for the few OS calls that wait by themselves (poll, WaitForSingleObject).
uint32_t RealWaitMs(uint32_t ms);

namespace detail {
// Backend: real monotonic time in microseconds, and a real sleep.
uint64_t RealMicroseconds();
void RealSleepMicroseconds(uint64_t us);
}  // namespace detail

}  // namespace orbek::platform

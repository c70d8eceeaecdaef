// The device side of an update for one line: into download mode, the flash programmer, every
// image over the streaming protocol, and the reset at the end. Each procedure reports its own
// failure on the line's status (UploadProgrammer in a message box) and returns false; the
// update sequence decides what a failure means.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "line/line_handle.h"

namespace orbek {

// What happens before a further try of a step: a sleep, perhaps a reopen, another sleep.
enum class Reopen { None, Link, DataPort };
struct Retry {
  uint32_t sleepMs = 0;
  Reopen reopen = Reopen::None;
  uint32_t sleepAfterMs = 0;
};

// The stick's ports are in the registry (they are kept where discovery results go).
bool PortsPresent(const LineHandle& line);
// Checks for the ports, `pauseMs` between checks, until they are there.
void WaitForPorts(const LineHandle& line, uint32_t pauseMs);

// Tries `attempt`, and again after each retry in turn while it fails; the last result.
template <typename Attempt>
bool TryWithRetries(LineSession& line, std::initializer_list<Retry> retries, Attempt attempt);

bool EnterDownloadMode(const LineHandle& line);
// The last two steps of the switch, with the boot loader already answering: its no-op and its
// flash parameters, each with their retries.
bool GreetBootLoader(const LineHandle& line);
bool UploadProgrammer(const LineHandle& line);
bool StartProgrammer(const LineHandle& line);
bool WritePartitionTable(const LineHandle& line);
bool WriteBootHeader(const LineHandle& line);
bool WritePrimaryBootLoader(const LineHandle& line);
bool WriteOemBootLoader(const LineHandle& line);
bool WriteAmss(const LineHandle& line);
bool WriteProgrammerImage(const LineHandle& line);
bool WriteEfs(const LineHandle& line);
// Streaming reset, then the wait for the stick's ports and for a probe that answers (60 tries).
bool ResetAndWait(const LineHandle& line);
// Up to 60 times: sleep 1000 ms, reopen the data port (3 tries), reopen the link and probe.
bool WaitForProbe(const LineHandle& line);

void SleepForRetry(LineSession& line, const Retry& retry);

template <typename Attempt>
bool TryWithRetries(LineSession& line, std::initializer_list<Retry> retries, Attempt attempt) {
  if (attempt())
    return true;
  for (const Retry& retry : retries) {
    SleepForRetry(line, retry);
    if (attempt())
      return true;
  }
  return false;
}

}  // namespace orbek

// The device side of an update for one line: into download mode, the flash programmer, every
// image over the streaming protocol, and the reset at the end. Each procedure reports its own
// failure on the line's status (UploadProgrammer in a message box) and returns false; the
// update sequence decides what a failure means.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "app/varnel_view.h"

namespace orbek {

// What happens before a further try of a step: a sleep, perhaps a reopen, another sleep.
enum class Reopen { None, Link, DataPort };
struct Retry {
  uint32_t sleepMs = 0;
  Reopen reopen = Reopen::None;
  uint32_t sleepAfterMs = 0;
};

// The line's link closed and opened again on its diagnostic port at 115200 baud.
bool ReopenLink(LineSession& line);
// The same for the AT port on the modem port; it then waits 1000 ms for an answer, twice.
bool ReopenDataPort(LineSession& line);
// The stick's ports are in the registry (they are stored in the first line's port fields).
bool PortsPresent(CVarnelView& view, int line);
// Checks for the ports, `pauseMs` between checks, until they are there.
void WaitForPorts(CVarnelView& view, int line, uint32_t pauseMs);

// Tries `attempt`, and again after each retry in turn while it fails; the last result.
template <typename Attempt>
bool TryWithRetries(LineSession& line, std::initializer_list<Retry> retries, Attempt attempt);

bool EnterDownloadMode(CVarnelView& view, int line);
bool UploadProgrammer(CVarnelView& view, int line);
bool StartProgrammer(CVarnelView& view, int line);
bool WritePartitionTable(CVarnelView& view, int line);
bool WriteBootHeader(CVarnelView& view, int line);
bool WritePrimaryBootLoader(CVarnelView& view, int line);
bool WriteOemBootLoader(CVarnelView& view, int line);
bool WriteAmss(CVarnelView& view, int line);
bool WriteProgrammerImage(CVarnelView& view, int line);
bool WriteEfs(CVarnelView& view, int line);
// Streaming reset, then the wait for the stick's ports and for a probe that answers (60 tries).
bool ResetAndWait(CVarnelView& view, int line);
// Up to 60 times: sleep 1000 ms, reopen the data port (3 tries), reopen the link and probe.
bool WaitForProbe(CVarnelView& view, int line);

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

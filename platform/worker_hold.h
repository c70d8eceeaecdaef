// Stopping line workers at a safe point before the program removes what they read: a worker
// marks its thread for its whole run; once the workers are held, each parks at its next sleep
// (between exchanges, or between the polls of one) and does nothing more.
#pragma once

#include <cstdint>

namespace orbek::platform {

// Marks the calling thread as a line worker while it lives.
class WorkerScope {
 public:
  WorkerScope();
  ~WorkerScope();
  WorkerScope(const WorkerScope&) = delete;
  WorkerScope& operator=(const WorkerScope&) = delete;
};

// Holds every worker at its next sleep. True when, within `timeoutMs` of real time, every worker
// is held or has ended; false when one is still busy (blocked on a box, or in a long write).
bool HoldWorkers(uint32_t timeoutMs);
// Lets held workers go on (for a program that does not end after holding them: tests).
void ReleaseWorkers();

// Called by SleepMs: parks a worker thread while the workers are held.
void ParkIfHeld();

}  // namespace orbek::platform

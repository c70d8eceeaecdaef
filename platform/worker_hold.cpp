#include "platform/worker_hold.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orbek::platform {
namespace {

// Never destroyed: held workers still wait on them while the program ends.
struct HoldState {
  std::mutex mutex;
  std::condition_variable changed;
  bool held = false;
  int running = 0;  // workers that are not parked
};
HoldState& State() {
  static HoldState* state = new HoldState;
  return *state;
}
thread_local bool isWorker = false;

}  // namespace

WorkerScope::WorkerScope() {
  HoldState& state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  isWorker = true;
  ++state.running;
}

WorkerScope::~WorkerScope() {
  HoldState& state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  isWorker = false;
  --state.running;
  state.changed.notify_all();
}

bool HoldWorkers(uint32_t timeoutMs) {
  HoldState& state = State();
  std::unique_lock<std::mutex> hold(state.mutex);
  state.held = true;
  return state.changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                [&state] { return state.running == 0; });
}

void ReleaseWorkers() {
  HoldState& state = State();
  std::lock_guard<std::mutex> hold(state.mutex);
  state.held = false;
  state.changed.notify_all();
}

void ParkIfHeld() {
  if (!isWorker)
    return;
  HoldState& state = State();
  std::unique_lock<std::mutex> hold(state.mutex);
  if (!state.held)
    return;
  --state.running;
  state.changed.notify_all();
  state.changed.wait(hold, [&state] { return !state.held; });
  ++state.running;
}

}  // namespace orbek::platform

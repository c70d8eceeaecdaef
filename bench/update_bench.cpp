// A whole update of a release-size package against the simulated stick over pseudo-terminals,
// next to the floor the update sequence imposes.
//
// The floor is what the updater cannot do faster on a perfect stick:
//   - every sleep of the sequence itself (fixed waits, progress pauses, the once-a-second port
//     checks while the stick re-enumerates, the AT port's 100 ms answer poll), taken from the
//     sleeps the update's thread actually made, except the polling steps of the link (2, 10,
//     30 ms) and of the port scanner (20 ms), which are replaced by
//   - the polling floor of every exchange the stick saw: an answer is taken once its byte count
//     held still over one step, so an exchange costs at least two steps: 2 x 30 ms for an NV
//     read or write, 2 x 2 ms for a stream write, 2 x 10 ms for any other request.
//   orbek_bench_update                 (ORBEK_TIME_SCALE is honoured; 1 is the real pace)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "host/connection_manager.h"
#include "package/image_package.h"
#include "platform/clock.h"
#include "ports/port_scanner.h"
#include "sim/port_publisher.h"
#include "sim/pty_transport.h"
#include "tools/package_maker.h"
#include "update/download_procedures.h"
#include "update/port_search.h"
#include "update/update_worker.h"

using namespace orbek;
namespace fs = std::filesystem;

namespace {

// Passes every call on, and counts the sleeps of one thread by their length.
class CountingClock final : public platform::Clock {
 public:
  CountingClock() : previous_(platform::InstallClock(this)) {
    inner_ = previous_ != nullptr ? previous_ : &platform::SystemClock();
  }
  ~CountingClock() override { platform::InstallClock(previous_); }
  uint64_t TickCountMs() override { return inner_->TickCountMs(); }
  void SleepMs(uint32_t ms) override {
    if (std::this_thread::get_id() == counted) {
      std::lock_guard<std::mutex> hold(mutex_);
      ++sleeps_[ms];
    }
    inner_->SleepMs(ms);
  }
  std::map<uint32_t, uint64_t> Sleeps() {
    std::lock_guard<std::mutex> hold(mutex_);
    return sleeps_;
  }
  std::thread::id counted = std::this_thread::get_id();

 private:
  platform::Clock* previous_;
  platform::Clock* inner_;
  std::mutex mutex_;
  std::map<uint32_t, uint64_t> sleeps_;
};

bool IsPollingStep(uint32_t ms) {
  return ms == 2 || ms == 10 || ms == 20 || ms == 30;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const std::string root = pattern;
  setenv("ORBEK_ROOT", root.c_str(), 1);
  const fs::path install = fs::path(root) / "drive_c/Program Files/Windows Service/Tazlonewversion";
  std::string error;
  if (!tools::MakePackage(install.string(), tools::ReleasePackageSizes(), 1, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  CountingClock clock;
  sim::Stick stick(sim::DefaultStickConfig());
  sim::PtyTransport ptys(stick, root);
  sim::RegistryPublisher registry(root, {});
  stick.AddListener(&registry);
  ptys.Start();
  stick.Start();

  RecordingForm form;
  CVarnelDoc doc;
  CVarnelView view(form, doc, false, root);
  int exitStatus = -1;
  view.exitProgram = [&](int status) { exitStatus = status; };
  doc.SetNvDirectory(root);
  LineSession& line = doc.lines[0];
  SetImagePaths(line);
  const FoundPorts found = PortScanner().FindPorts();
  found.ApplyTo(line.diagPort, line.dataPort);
  if (!found.found || !ReopenPort(line, LinePort::Diagnostic) ||
      !line.atPort.port.Open(line.dataPort) || !ProbeStick(line)) {
    std::fprintf(stderr, "the stick is not there\n");
    return 1;
  }
  doc.selectedBoardTag = VersionSlot(line.versionRecord, 8);
  line.busy = 1;
  ConnectionManager connectionManager(kInstallDirectory);

  const double scale = platform::TimeScale();
  const auto start = std::chrono::steady_clock::now();
  UpdateWorker(view.Handle(0), connectionManager);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  line.link.port.Close();
  line.atPort.port.Close();

  double fixedMs = 0;
  for (const auto& [ms, count] : clock.Sleeps()) {
    if (!IsPollingStep(ms))
      fixedMs += static_cast<double>(ms) * static_cast<double>(count);
  }
  uint64_t nv = 0, streamWrites = 0, others = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(stick.Mutex());
    for (const auto& [mode, codes] : stick.Counts()) {
      for (const auto& [code, count] : codes) {
        if (mode == "firmware" && (code == 0x26 || code == 0x27))
          nv += count;
        else if (mode == "streaming" && code == 0x07)
          streamWrites += count;
        else
          others += count;
      }
    }
  }
  const double pollingMs = nv * 60.0 + streamWrites * 4.0 + others * 20.0;
  const double floorSeconds = (fixedMs + pollingMs) / 1000 / scale;
  stick.RemoveListener(&registry);
  ptys.Stop();
  fs::remove_all(root);

  std::printf("whole update, release-size package, over ptys, clock scale %g: %s\n", scale,
              exitStatus == 0 ? "succeeded" : "FAILED");
  std::printf("  wall time %.1f s\n", seconds);
  std::printf("  floor     %.1f s = fixed sleeps %.1f s + polling floor %.1f s\n", floorSeconds,
              fixedMs / 1000 / scale, pollingMs / 1000 / scale);
  std::printf("    (%llu NV exchanges x 60 ms, %llu stream writes x 4 ms, %llu others x 20 ms)\n",
              static_cast<unsigned long long>(nv), static_cast<unsigned long long>(streamWrites),
              static_cast<unsigned long long>(others));
  std::printf("  %.1f %% above the floor\n", (seconds / floorSeconds - 1) * 100);
  return exitStatus == 0 ? 0 : 1;
}

// Several sticks updated at once on the factory face: one stick, then eight, each a simulated
// stick over pseudo-terminals, with a release-size package, every line reporting into the Qt
// form on a GUI thread (offscreen). For each round:
//   - the wall time from the start of every update to the end of the last;
//   - the CPU of each line's worker thread (the stick's simulation runs in its own threads and
//     is not counted), and the GUI thread's CPU shared out per stick;
//   - the GUI thread's longest stall while the workers report: the largest lateness of a 5 ms
//     timer on it (the target is 50 ms or less).
//   orbek_bench_factory [STICKS...]    (default 1 8; ORBEK_TIME_SCALE, default 20)
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "app/varnel_view.h"
#include "host/connection_manager.h"
#include "package/image_package.h"
#include "platform/clock.h"
#include "ports/port_scanner.h"
#include "sim/port_publisher.h"
#include "sim/pty_transport.h"
#include "tools/package_maker.h"
#include "ui/qt/qt_form.h"
#include "update/port_search.h"
#include "update/update_worker.h"

using namespace orbek;
namespace fs = std::filesystem;

namespace {

constexpr int kTimerStepMs = 5;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct RoundResult {
  bool allPassed = false;
  double wallSeconds = 0;
  double workerCpuPerStick = 0;
  double guiCpuPerStick = 0;
  double longestStallMs = 0;
};

// Every line finds its stick as its search does: bound by socket, ports open, the stick probed.
bool FindEveryStick(CVarnelView& view, int sticks) {
  for (int line = 0; line < sticks; ++line) {
    LineSession& session = view.Line(line);
    bool ready = false;
    for (int round = 0; round < 100 && !ready; ++round) {
      PortScanner scanner;
      ready = FindLinePorts(view.Handle(line), scanner) &&
              ReopenPort(session, LinePort::Diagnostic) && ProbeStick(session) &&
              ReopenPort(session, LinePort::Modem);
      if (!ready)
        QApplication::processEvents(QEventLoop::AllEvents, 100);
    }
    if (!ready) {
      std::fprintf(stderr, "line %d found no stick\n", line + 1);
      return false;
    }
  }
  return true;
}

RoundResult RunRound(int sticks) {
  RoundResult result;
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return result;
  const std::string root = pattern;
  setenv("ORBEK_ROOT", root.c_str(), 1);
  const fs::path install = fs::path(root) / "drive_c/Program Files/Windows Service/Tazlonewversion";
  std::string error;
  if (!tools::MakePackage(install.string(), tools::ReleasePackageSizes(), 1, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return result;
  }

  sim::RegistryPublisher registry(root, {});
  std::vector<std::unique_ptr<sim::Stick>> simulated;
  std::vector<std::unique_ptr<sim::PtyTransport>> ptys;
  for (int i = 0; i < sticks; ++i) {
    simulated.push_back(
        std::make_unique<sim::Stick>(sim::ConfigOfStick(sim::DefaultStickConfig(), i, sticks)));
    ptys.push_back(std::make_unique<sim::PtyTransport>(*simulated.back(), root));
    simulated.back()->AddListener(&registry.StickListener(i));
    ptys.back()->Start();
    simulated.back()->Start();
  }

  QMainWindow frame;
  auto* form = new ui::QtForm(&frame, /*severalLines=*/true);
  frame.setCentralWidget(form);
  frame.show();
  CVarnelDoc doc;
  doc.severalLines = true;
  doc.SetNvDirectory(root);
  doc.nvBackupsDirectory = root + "/kept";
  CVarnelView view(*form, doc, false, root);
  for (LineSession& line : doc.lines)
    SetImagePaths(line);
  ConnectionManager connectionManager(kInstallDirectory);

  if (FindEveryStick(view, sticks)) {
    std::vector<double> workerCpu(static_cast<size_t>(sticks));
    std::atomic<int> running{sticks};
    std::vector<std::thread> workers;
    const double guiCpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int line = 0; line < sticks; ++line) {
      LineSession& session = view.Line(line);
      doc.selectedBoardTag = VersionSlot(session.versionRecord, 8);
      session.busy = 1;
      workers.emplace_back([&, line] {
        UpdateWorker(view.Handle(line), connectionManager);
        workerCpu[static_cast<size_t>(line)] = ThreadCpuSeconds();
        --running;
      });
    }
    // The GUI thread runs the form while the workers report, and times itself.
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const double late = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - kTimerStepMs;
      result.longestStallMs = std::max(result.longestStallMs, late);
      sinceTick.restart();
      if (running == 0)
        QApplication::quit();
    });
    tick.start(kTimerStepMs);
    QApplication::exec();
    result.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double guiCpu = ThreadCpuSeconds() - guiCpuBefore;
    for (std::thread& worker : workers)
      worker.join();
    double totalWorkerCpu = 0;
    for (double cpu : workerCpu)
      totalWorkerCpu += cpu;
    result.workerCpuPerStick = totalWorkerCpu / sticks;
    result.guiCpuPerStick = guiCpu / sticks;
    result.allPassed = true;
    for (int line = 0; line < sticks; ++line)
      result.allPassed = result.allPassed && view.Line(line).state == kLinePass;
  }
  for (LineSession& line : doc.lines) {
    line.link.port.Close();
    line.atPort.port.Close();
  }
  for (int i = 0; i < sticks; ++i) {
    simulated[static_cast<size_t>(i)]->RemoveListener(&registry.StickListener(i));
    ptys[static_cast<size_t>(i)]->Stop();
  }
  fs::remove_all(root);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (getenv("ORBEK_TIME_SCALE") == nullptr)
    setenv("ORBEK_TIME_SCALE", "20", 1);
  QApplication application(argc, argv);
  std::vector<int> rounds;
  for (int i = 1; i < argc; ++i)
    rounds.push_back(std::atoi(argv[i]));
  if (rounds.empty())
    rounds = {1, 8};

  std::printf("whole updates at once, release-size package, over ptys, clock scale %g\n",
              platform::TimeScale());
  double firstWall = 0;
  bool allPassed = true;
  for (int sticks : rounds) {
    if (sticks < 1 || sticks > kLineCount) {
      std::fprintf(stderr, "a round has 1 to %d sticks\n", kLineCount);
      return 2;
    }
    const RoundResult round = RunRound(sticks);
    allPassed = allPassed && round.allPassed;
    if (firstWall == 0)
      firstWall = round.wallSeconds;
    std::printf("  %d stick(s): %s\n", sticks, round.allPassed ? "all passed" : "NOT ALL PASSED");
    std::printf("    wall time %.1f s (%.2f x the first round's)\n", round.wallSeconds,
                firstWall > 0 ? round.wallSeconds / firstWall : 0.0);
    std::printf("    CPU per stick: worker %.2f s, GUI thread %.2f s\n", round.workerCpuPerStick,
                round.guiCpuPerStick);
    std::printf("    GUI thread's longest stall (a %d ms timer's lateness): %.1f ms\n",
                kTimerStepMs, round.longestStallMs);
  }
  return allPassed ? 0 : 1;
}

// Backup and restore of the whole NV item list against the simulated stick over a
// pseudo-terminal, next to the floor the NV exchange's polling sets: an exchange whose reply is
// not yet queued when the link first looks takes two polling steps of 30 ms, so each NV item
// read or write costs at least 60 ms; an item the stick does not give is read three times with
// a 100 ms wait after each; the restore adds its two mode changes (two 10 ms steps each) and
// their two 1000 ms settling waits; the download check before each adds two 10 ms steps.
//   orbek_bench_nv                 (ORBEK_TIME_SCALE is honoured; 1 is the real pace)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "nv/nv_backup.h"
#include "platform/clock.h"
#include "sim/pty_transport.h"

using namespace orbek;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kNvExchangeFloorMs = 2 * 30;
constexpr double kOtherExchangeFloorMs = 2 * 10;
constexpr double kSettleMs = 1000;
constexpr double kFailedItemWaitsMs = 3 * 100;

uint32_t Count(const sim::Stick& stick, uint8_t command) {
  auto firmware = stick.Counts().find("firmware");
  if (firmware == stick.Counts().end())
    return 0;
  auto count = firmware->second.find(command);
  return count == firmware->second.end() ? 0 : count->second;
}

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

int main() {
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const std::string root = pattern;
  setenv("ORBEK_ROOT", root.c_str(), 1);

  sim::Stick stick(sim::DefaultStickConfig());
  sim::PtyTransport ptys(stick, root);
  ptys.Start();
  stick.Start();

  RecordingForm form;
  CVarnelDoc doc;
  CVarnelView view(form, doc, false, root);
  doc.SetNvDirectory(root);
  LineSession& line = view.Line(0);
  if (!line.link.port.Open(stick.Ports().at(0).com))
    return 1;

  const double scale = platform::TimeScale();
  auto start = Clock::now();
  const bool backedUp = BackupNv(view.Handle(0), line.nvFilePath);
  const double backup = Seconds(Clock::now() - start);
  const uint32_t reads = Count(stick, 0x26);
  NvTable saved;
  ReadNvBackupFile(view.Handle(0), line.nvFilePath, saved);
  size_t failedItems = 0;
  for (size_t slot = 0; slot < kNvListedItemCount; ++slot)
    failedItems += saved[slot].status != 0 ? 1 : 0;

  start = Clock::now();
  const bool restored = RestoreNv(view.Handle(0), line.nvFilePath);
  const double restore = Seconds(Clock::now() - start);
  const uint32_t writes = Count(stick, 0x27);
  line.link.port.Close();
  ptys.Stop();
  std::filesystem::remove_all(root);
  if (!backedUp || !restored) {
    std::fprintf(stderr, "backup %d, restore %d: %s\n", backedUp, restored,
                 line.link.reason.c_str());
    return 1;
  }

  const double backupFloor =
      (reads * kNvExchangeFloorMs + failedItems * kFailedItemWaitsMs + kOtherExchangeFloorMs) /
      1000 / scale;
  const double restoreFloor =
      (writes * kNvExchangeFloorMs + 3 * kOtherExchangeFloorMs + 2 * kSettleMs) / 1000 / scale;
  std::printf("NV over a pty, clock scale %g\n", scale);
  std::printf(
      "  backup:  %4u reads  %6.2f s   floor %6.2f s  (%.1f %% above; %zu items not given)\n",
      reads, backup, backupFloor, (backup / backupFloor - 1) * 100, failedItems);
  std::printf("  restore: %4u writes %6.2f s   floor %6.2f s  (%.1f %% above)\n", writes, restore,
              restoreFloor, (restore / restoreFloor - 1) * 100);
  return 0;
}

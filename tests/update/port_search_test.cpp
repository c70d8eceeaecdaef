// The port search against the simulated stick, in-process, with its thread running on a fast
// clock and the results drawn on a RecordingForm.
#include "update/port_search.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "diag/diag_commands.h"
#include "line/control_ids.h"
#include "platform/clock.h"
#include "sim/in_process_bus.h"
#include "sim/port_publisher.h"
#include "sim/stick_pump.h"
#include "tests/support/registry_root.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/wait_until.h"

namespace orbek {
namespace {

using testing::WaitUntil;

class ProbeTest : public testing::SimulatedStickTest {
 protected:
  LineSession& Line() {
    line.link.port.Close();
    EXPECT_TRUE(line.link.port.Open(stick->Ports()[0].com));
    return line;
  }
  LineSession line;
};

TEST_F(ProbeTest, VersionTableFirst) {
  EXPECT_TRUE(ProbeStick(Line()));
  EXPECT_EQ(line.currentVersion, "R415C1_FW_1.2.0.17");
  EXPECT_EQ(line.stickState, kStickAnswers);
  EXPECT_EQ(VersionSlot(line.versionRecord, 8), "R415C1_B01");
}

TEST_F(ProbeTest, BuildIdThenEsnWhenTheTableIsMissing) {
  ASSERT_TRUE(AddFault("noreply:0x39:2"));
  EXPECT_TRUE(ProbeStick(Line()));
  EXPECT_EQ(line.currentVersion, "R415C1-B01.2.0.17");
  ASSERT_TRUE(AddFault("noreply:0x7C"));
  EXPECT_TRUE(ProbeStick(Line()));
  EXPECT_EQ(line.currentVersion, "80a1b2c3");
  EXPECT_EQ(line.stickState, kStickAnswers);
}

TEST_F(ProbeTest, SilentStick) {
  ASSERT_TRUE(AddFault("noreply:0x01:2"));
  line.currentVersion = "old";
  EXPECT_FALSE(ProbeStick(Line()));
  EXPECT_EQ(line.currentVersion, "NULL");
  EXPECT_EQ(line.stickState, kStickSilent);
}

TEST(LineVersions, ReadyOnlyForAStickThatAnswered) {
  const struct {
    const char* current;
    const char* windows;
    const char* firmwareShown;
    bool ready;
  } kCases[] = {
      {"R415C1_FW_1.2.0.17", "WIN_1.0.5B06", "R415C1_FW_1.2.0.17 (Firmware)", true},
      {"R415C1_FW_1.2.0.17", "", "NULL", false},           // no Windows version: no table
      {"NULL", "WIN_1.0.5B06", "NULL (Firmware)", false},  // the last probe got no answer
      {"No Phone", "", "NULL", false},
  };
  for (const auto& entry : kCases) {
    LineSession line;
    line.currentVersion = entry.current;
    std::copy_n(entry.windows, std::strlen(entry.windows), line.versionRecord.begin() + 2 * 31);
    const LineVersions versions = VersionsOf(line);
    EXPECT_EQ(versions.firmware, entry.firmwareShown) << entry.current;
    EXPECT_EQ(versions.ready, entry.ready) << entry.current << " / " << entry.windows;
  }
}

class PortSearch : public ::testing::Test {
 protected:
  PortSearch() : previousScale_(platform::TimeScale()) { platform::SetTimeScale(50); }

  ~PortSearch() override {
    doc.lines[0].searchThread.reset();  // before the stick it talks to goes
    for (LineSession& line : doc.lines) {
      line.link.port.Close();
      line.atPort.port.Close();
    }
    if (stick)
      stick->RemoveListener(&registry);
    pump.reset();
    bus.reset();
    stick.reset();
    platform::SetTimeScale(previousScale_);
  }

  void Start(bool german = false) {
    stick = std::make_unique<sim::Stick>(config);
    bus = std::make_unique<sim::InProcessBus>(*stick);
    stick->AddListener(&registry);
    stick->Start();
    pump = std::make_unique<sim::StickPump>(*stick);
    view = std::make_unique<CVarnelView>(form, doc, german, LogDirectory(root.Path()));
    StartSearchThread(view->Handle(0));
  }

  bool Shows(int control, const std::string& text) {
    return WaitUntil([&] { return form.Text(control) == text; }, 10000);
  }

  double previousScale_;
  testing::RegistryRoot root;
  sim::RegistryPublisher registry{root.Path(), {}};
  sim::StickConfig config = sim::DefaultStickConfig();
  std::unique_ptr<sim::Stick> stick;
  std::unique_ptr<sim::InProcessBus> bus;
  std::unique_ptr<sim::StickPump> pump;
  RecordingForm form;
  CVarnelDoc doc;
  std::unique_ptr<CVarnelView> view;
};

TEST_F(PortSearch, StickThatAppearsIsShownReady) {
  config.initialMode = sim::StickMode::Unplugged;
  Start();
  EXPECT_TRUE(Shows(1168, "Searching communication ports..."));
  EXPECT_FALSE(form.Enabled(control::kUpdateButton) && form.Text(1167) != "");
  stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);

  EXPECT_TRUE(Shows(1168, "Ready to start update."));
  EXPECT_TRUE(Shows(1166, "COM7"));  // shown right after the versions
  EXPECT_EQ(form.Text(1167), "R415C1_FW_1.2.0.17 (Firmware)");
  EXPECT_EQ(form.Text(1192), "WIN_1.0.5B06 (Windows)");
  EXPECT_EQ(form.Text(1193), "MAC_1.0.5B06 (Mac)");
  EXPECT_TRUE(form.Enabled(control::kUpdateButton));
  const std::string& log = doc.lines[0].statusLog;  // "<stamp>——Searching communication ports..."
  EXPECT_NE(log.find("——Searching communication ports...\n"), std::string::npos) << log;
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(log[0]))) << log;
}

TEST_F(PortSearch, ModemPortOpenedWithTheAtWaitsOfAnUpdate) {
  Start();
  ASSERT_TRUE(Shows(1168, "Ready to start update."));
  LineSession& line = doc.lines[0];
  line.searchThread->Suspend();
  ASSERT_TRUE(line.searchThread->WaitUntilParked(60000));
  EXPECT_TRUE(line.atPort.port.IsOpen());
  EXPECT_EQ(line.atPort.timeoutMs, 1000u);  // not the port's own 5000 ms
  EXPECT_EQ(line.atPort.attempts, 2);       // nor its 3 attempts
}

TEST_F(PortSearch, StickWithoutVersionTableIsNotReady) {
  config.versions[2] = "";  // no Windows version: nothing to update from
  Start();
  EXPECT_TRUE(Shows(1166, "COM5"));  // shown after the first probe
  EXPECT_TRUE(Shows(1167, "NULL"));
  EXPECT_TRUE(Shows(1192, "NULL"));
  EXPECT_TRUE(Shows(1168, "Searching communication ports..."));
  EXPECT_FALSE(form.Enabled(control::kUpdateButton));
}

TEST_F(PortSearch, BuildIdKeptWhenTheTableDoesNotAnswer) {
  Start();
  ASSERT_TRUE(Shows(1168, "Ready to start update."));
  sim::FaultRule rule;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("noreply:0x39:1000000", rule, error));
  stick->AddFault(rule);
  // The versions are drawn before the button is disabled: wait for the whole redraw.
  EXPECT_TRUE(WaitUntil(
      [&] { return form.Text(1167) == "NULL" && !form.Enabled(control::kUpdateButton); }, 10000))
      << form.Text(1167);
  // The record of the last table read was zeroed; the build id stands in for the version. The
  // line's fields are read, as a worker would, once its search thread has parked.
  doc.lines[0].searchThread->Suspend();
  ASSERT_TRUE(doc.lines[0].searchThread->WaitUntilParked(60000));
  EXPECT_EQ(doc.lines[0].currentVersion, "R415C1-B01.2.0.17");
  EXPECT_EQ(doc.lines[0].stickState, kStickAnswers);
}

TEST_F(PortSearch, VanishedPortsFallBackToNull) {
  Start(true);
  ASSERT_TRUE(Shows(1168, "Fertig, bitte UPDATE drücken um den Prozess zu starten"));
  stick->Reenumerate(sim::StickMode::Firmware, std::nullopt, /*forever=*/true,
                     /*immediately=*/true);
  EXPECT_TRUE(Shows(1192, "NULL"));
  EXPECT_TRUE(Shows(1193, "NULL"));
  EXPECT_TRUE(Shows(1166, "NULL"));
  EXPECT_EQ(form.Text(1168), "Gerät wird gesucht...");
  EXPECT_FALSE(form.Enabled(control::kUpdateButton));
}

// A stick that an update left in its boot loader or its programmer gives no DIAG answer; the
// search asks the boot loader's no-op, then the programmer's, and shows the stick as in download
// mode, with UPDATE enabled to rescue it. A programmer still running is reset first.
struct LeftBehind {
  const char* name;
  sim::StickMode mode;
  const char* language;
  const char* status;
};

void PrintTo(const LeftBehind& row, std::ostream* out) {
  *out << row.name;
}

const LeftBehind kLeftBehind[] = {
    {"BootLoader", sim::StickMode::DmssDownload, "C",
     "The stick is in download mode: an earlier update did not finish. UPDATE writes the "
     "firmware again."},
    {"ProgrammerStillRunning", sim::StickMode::StreamingDownload, "C",
     "The stick is in download mode: an earlier update did not finish. UPDATE writes the "
     "firmware again."},
    {"BootLoaderGerman", sim::StickMode::DmssDownload, "de",
     "Das Gerät ist im Download-Modus: ein früheres Update wurde nicht beendet. UPDATE "
     "schreibt die Firmware neu."},
};

class SearchFindsStickLeftBehind : public PortSearch,
                                   public ::testing::WithParamInterface<LeftBehind> {};

TEST_P(SearchFindsStickLeftBehind, ShownInDownloadModeWithUpdateEnabled) {
  const LeftBehind& row = GetParam();
  config.flashIncomplete = true;
  config.initialMode = row.mode;
  Start(std::string(row.language) == "de");
  EXPECT_TRUE(Shows(1168, row.status));
  EXPECT_TRUE(WaitUntil([&] { return form.Enabled(control::kUpdateButton); }, 10000));
  EXPECT_EQ(form.Text(1167), "NULL");
  EXPECT_EQ(form.Text(1192), "NULL");
  EXPECT_NE(form.Text(1166), "NULL");  // the port is shown
  // From then on the search asks the boot loader only: a DIAG probe would show the stick as
  // silent meanwhile, and a press of UPDATE would miss the rescue.
  const auto diagEsnRequests = [&] {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    const auto& counts = stick->Counts().at("dmss");
    return counts.count(0x01) != 0 ? counts.at(0x01) : 0u;
  };
  const uint32_t asked = diagEsnRequests();
  for (int round = 0; round < 5; ++round)
    platform::SleepMs(1000);
  EXPECT_EQ(diagEsnRequests(), asked);
  doc.lines[0].searchThread->Suspend();
  ASSERT_TRUE(doc.lines[0].searchThread->WaitUntilParked(60000));
  EXPECT_EQ(doc.lines[0].stickState, kStickInDownloadMode);
  std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
  EXPECT_EQ(stick->Mode(), sim::StickMode::DmssDownload);  // a programmer was reset
  EXPECT_GE(stick->Counts().at("dmss").at(0x06), 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, SearchFindsStickLeftBehind, ::testing::ValuesIn(kLeftBehind),
                         [](const ::testing::TestParamInfo<LeftBehind>& info) {
                           return std::string(info.param.name);
                         });

// A firmware that answers DIAG never receives a boot-loader or programmer request.
TEST_F(PortSearch, FirmwareThatAnswersGetsNoDownloadRequest) {
  Start();
  ASSERT_TRUE(Shows(1168, "Ready to start update."));
  for (int round = 0; round < 3; ++round)
    platform::SleepMs(1000);  // a few rounds of the search
  doc.lines[0].searchThread->Suspend();
  ASSERT_TRUE(doc.lines[0].searchThread->WaitUntilParked(60000));
  std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
  for (const auto& [mode, perCode] : stick->Counts()) {
    EXPECT_EQ(mode, "firmware");
    for (uint8_t code : {0x06, 0x09, 0x0B})
      EXPECT_EQ(perCode.count(code), 0u) << mode << " " << int{code};
  }
}

TEST_F(PortSearch, WorkerTakesTheLinkOnlyOnceTheSearchHasParked) {
  sim::FaultRule rule;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("delay:0x39:150:1000000", rule, error));  // long exchanges
  Start();
  ASSERT_TRUE(Shows(1168, "Ready to start update."));
  LineSession& line = doc.lines[0];
  for (int round = 0; round < 10; ++round) {
    line.searchThread->Suspend();
    ASSERT_TRUE(line.searchThread->WaitUntilParked(60000));
    const auto counts = stick->Counts();
    uint32_t esn = 0;
    EXPECT_TRUE(ReadEsn(line.link, esn)) << line.link.reason;  // the worker owns the link now
    EXPECT_EQ(esn, 0x80A1B2C3u);
    platform::SleepMs(500);
    auto after = stick->Counts();
    after["firmware"][0x01] -= 1;
    EXPECT_EQ(after, counts) << "the parked search thread sent something";
    line.searchThread->Resume();
    platform::SleepMs(37 * (round % 4));
  }
}

}  // namespace
}  // namespace orbek

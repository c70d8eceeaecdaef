// The whole update against the simulated stick in-process: the stick's clock moves only when
// the updater sleeps, and every sleep lets the stick's timed events happen, so a run of many
// minutes of stick time takes a moment and goes the same way every time.
#include "update/update_worker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "host/connection_manager.h"
#include "line/control_ids.h"
#include "nv/nv_item_list.h"
#include "package/image_package.h"
#include "platform/clock.h"
#include "ports/port_scanner.h"
#include "sim/in_process_bus.h"
#include "sim/port_publisher.h"
#include "sim/stick_json.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/update_workflow.h"
#include "tests/support/wait_until.h"
#include "update/download_procedures.h"
#include "update/port_search.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::ReadAll;
using testing::StickClock;
using testing::UpdateWorkflow;

TEST_F(UpdateWorkflow, FullUpdateWritesEveryImageAndKeepsTheNvItems) {
  Start();
  const fs::path made = ORBEK_PACKAGE_FILE_DIR;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(exitStatus, 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"The update was successful."});
  EXPECT_EQ(form.Text(control::kStatus[0]), "The update was successful.");

  const sim::StickState& state = stick->State();
  EXPECT_TRUE(state.programmerImage == ReadAll(made / "armprg.bin"));
  ExpectFlashHoldsThePackage();
  EXPECT_TRUE(state.imageHeaders.at("oemsbl") == ReadAll(made / "oemsblhd.mbn"));
  EXPECT_TRUE(state.imageHeaders.at("amss") == ReadAll(made / "amsshd.mbn"));
  EXPECT_TRUE(state.imageHeaders.at("nandprg") == ReadAll(made / "nandprghd.mbn"));
  EXPECT_EQ(state.versions[0], "R415C1_FW_1.2.0.18");  // the flashed firmware runs
  // Every request of the whole update is what the updater must send.
  testing::ExpectNoDeviations(state);

  // Every item the backup read is back, although writing the EFS image lost the store.
  size_t kept = 0;
  for (uint16_t item : NvListedItems()) {
    auto before = nvBefore.find(item);
    if (before == nvBefore.end() || config.inactiveNvItems.count(item) != 0)
      continue;
    ASSERT_EQ(state.nvItems.count(item), 1u) << item;
    EXPECT_EQ(state.nvItems.at(item), before->second) << item;
    ++kept;
  }
  EXPECT_GT(kept, 600u);

  EXPECT_EQ(state.flagAAHistory, (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(state.autorunHistory, (std::vector<uint8_t>{0, 1}));
  std::vector<std::string> commands;
  for (const std::string& command : state.atCommands) {
    if (command == "AT+YRST" || command.rfind("AT+YCDRUN", 0) == 0)
      commands.push_back(command);
  }
  EXPECT_EQ(commands, (std::vector<std::string>{"AT+YRST", "AT+YCDRUN=F", "AT+YCDRUN=9"}));

  // The sequence's own progress values in their order, the long writes inside their bands.
  const std::vector<int> history = ProgressHistory();
  const std::set<int> named = {1,  2,  3,  7,  8,  9,  20, 21, 22, 23, 24,
                               25, 80, 81, 82, 95, 96, 97, 98, 99, 100};
  std::vector<int> sequence;
  for (int value : history) {
    if (named.count(value) != 0 && (sequence.empty() || sequence.back() != value))
      sequence.push_back(value);
  }
  EXPECT_EQ(sequence, std::vector<int>(named.begin(), named.end()));
  for (int value : {10, 15, 26, 45, 50, 51, 80, 89})
    EXPECT_NE(std::find(history.begin(), history.end(), value), history.end()) << value;

  for (const char* image : kDeletedImages)
    EXPECT_FALSE(InstalledFile(image)) << image;
  EXPECT_TRUE(InstalledFile("nandprgcombined.mbn"));
  EXPECT_TRUE(InstalledFile("ResetUSB.dll"));
  EXPECT_EQ(doc.lines[0].busy, 0);
  EXPECT_EQ(doc.lines[0].statusLog.rfind("Current Version : R415C1_FW_1.2.0.17\n", 0), 0u);
}

// The sequence's own waits, in their order: the sleeps of the update of at least 200 ms (the
// link's polling steps and reply waits are shorter, or pinned with their operations).
TEST_F(UpdateWorkflow, TheSequencesWaitsInTheirOrder) {
  Start();
  std::vector<uint32_t> waits;
  std::mutex waitsMutex;
  clock.onSleepMs = [&](uint32_t ms) {
    if (ms >= 200) {
      std::lock_guard<std::mutex> hold(waitsMutex);
      waits.push_back(ms);
    }
  };
  EXPECT_EQ(Run(), 0);
  clock.onSleepMs = nullptr;
  // Written out from the sequence: 3000 before progress 2; 10000 after "AT+YRST" (the stick is
  // back at the first check, so no 1000 for it); 200 after item 22; 5000 before the flash
  // programmer; 10000 before its image; 3000 after the reset, then 1000 before the probe; 1000
  // before the probe of the restarted stick; 1000 after showing its port; 500 after each flag;
  // 2000 after "AT+YCDRUN=F"; 1000 after "AT+YCDRUN=9"; 3000 at the end.
  const std::vector<uint32_t> inOrder = {3000, 10000, 200, 5000, 10000, 3000, 1000,
                                         1000, 1000,  500, 500,  2000,  1000, 3000};
  size_t matched = 0;
  for (uint32_t wait : waits) {
    if (matched < inOrder.size() && wait == inOrder[matched])
      ++matched;
  }
  std::ostringstream seen;
  for (uint32_t wait : waits)
    seen << wait << " ";
  EXPECT_EQ(matched, inOrder.size())
      << "the first wait not found in order: #" << matched << ": " << seen.str();
  EXPECT_EQ(waits.back(), 3000u);  // the last: before progress 100
}

TEST_F(UpdateWorkflow, ImageStepFailingInEveryPassEndsAfterTwentyPasses) {
  config.efsWipesNv = false;
  Start();
  ASSERT_TRUE(testing::AddFaultTo(*stick, "error:0x1B:0x0D:1000000"));  // every image open
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(exitStatus, -1);
  const std::string text = "Download fail, please check the log file to get fail information!";
  EXPECT_EQ(form.Text(control::kStatus[0]), text);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Download failure, Please download again!"});
  EXPECT_EQ(form.Picture(control::kStatePicture[0]), control::kBitmapFail);
  EXPECT_EQ(doc.lines[0].stickState, kStickSilent);  // code 4: the stick was reset
  const std::string log = ActionLog();
  EXPECT_NE(log.find(text), std::string::npos);
  // The boot header's open failed in each of the 20 passes, three tries each.
  size_t opens = 0;
  for (size_t at = log.find("Secondbootloaderheader"); at != std::string::npos;
       at = log.find("Secondbootloaderheader", at + 1))
    ++opens;
  EXPECT_EQ(opens, 20u * 3u);
  EXPECT_TRUE(InstalledFile("amss.mbn"));  // images stay after a failure
}

TEST_F(UpdateWorkflow, StopBeforeTheDownloadEndsAtTheCheck) {
  Start();
  doc.lines[0].busy = 0;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "action stop!");
  EXPECT_EQ(form.Picture(control::kStatePicture[0]), control::kBitmapFail);
  EXPECT_EQ(stick->Mode(), sim::StickMode::DmssDownload);  // it got that far
  EXPECT_TRUE(stick->State().programmerImage.empty());
}

TEST_F(UpdateWorkflow, StopDuringTheAmssWriteFailsThatPassAndEveryLaterOne) {
  Start();
  clock.onSleep = [this] {
    if (doc.lines[0].progress == 30)
      doc.lines[0].busy = 0;
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]),
            "Download fail, please check the log file to get fail information!");
  const std::string& log = doc.lines[0].statusLog;
  size_t stops = 0;
  for (size_t at = log.find("downloading is stopped by manual!"); at != std::string::npos;
       at = log.find("downloading is stopped by manual!", at + 1))
    ++stops;
  EXPECT_EQ(stops, 20u * 2u);  // each pass: the write and its one retry
  EXPECT_EQ(stick->State().flash.count("efs"), 0u);
}

TEST_F(UpdateWorkflow, SwitchToDownloadModeFailingTwice) {
  Start();
  ASSERT_TRUE(testing::AddFaultTo(*stick, "error:0x5C:0x13:100"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "switch to DownLoad mode fail!");
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "Please reinsert the Stick, then press \"OK\" to finish the update.",
                            "Download failure, Please download again!"}));
  EXPECT_EQ(form.Boxes()[0].caption, "Error");
  EXPECT_EQ(doc.lines[0].busy, 0);
  EXPECT_NE(ActionLog().find("switch to DownLoad mode fail!"), std::string::npos);
}

TEST_F(UpdateWorkflow, ProgrammerUploadFailing) {
  Start();
  ASSERT_TRUE(testing::AddFaultTo(*stick, "error:0x0F:0x03:1000"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "Download armprg.bin fail!");
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Download failure, Please download again!"});
  EXPECT_NE(ActionLog().find("Download armprg.bin fail!"), std::string::npos);
}

TEST_F(UpdateWorkflow, ProgrammerThatIsADirectoryIsNotUploaded) {
  Start();
  fs::remove(installDir / "armprg.bin");
  fs::create_directory(installDir / "armprg.bin");
  EXPECT_EQ(Run(), 0);  // a refused open, not a huge allocation
  EXPECT_EQ(form.Text(control::kStatus[0]), "Download armprg.bin fail!");
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Line1 :\tOpen armprg.bin fail!",
                                                  "Line1 :\tOpen armprg.bin fail!",
                                                  "Download failure, Please download again!"}));
  EXPECT_EQ(doc.lines[0].busy, 0);
}

TEST_F(UpdateWorkflow, MissingNvDirectoryStopsBeforeTheStickIsTouched) {
  Start();
  doc.SetNvDirectory(root.Path() + "/missing");
  EXPECT_EQ(Run(), 0);
  const std::string missing = "Cannot create directory:" + root.Path() + "/missing";
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{missing, missing,
                                                  "Download failure, Please download again!"}));
  EXPECT_EQ(doc.lines[0].busy, 0);
  EXPECT_EQ(stick->Mode(), sim::StickMode::Firmware);
  EXPECT_TRUE(stick->State().downloadChecks.size() >= 1);
}

TEST_F(UpdateWorkflow, RestoreFailingAfterTheFlash) {
  Start();
  ASSERT_TRUE(testing::AddFaultTo(*stick, "error:0x27:0x13:1000000"));  // every NV write
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "Restore NV fail!");
  EXPECT_EQ(form.Picture(control::kStatePicture[0]), control::kBitmapFail);
  EXPECT_EQ(exitStatus, -1);
  EXPECT_EQ(stick->State().flash.count("efs"), 1u);
}

TEST_F(UpdateWorkflow, BoardTagThatDoesNotFitIsReportedTwiceAndTheUpdateGoesOn) {
  Start();
  doc.selectedBoardTag = "X_CON";
  EXPECT_EQ(Run(), 0);
  const std::string refused = "Selected Update Version does not apply to your device!";
  EXPECT_EQ(Count(BoxTexts(), refused), 2u);
  EXPECT_EQ(form.CloseRequests(), 2);
  EXPECT_EQ(exitStatus, 0);  // nobody closed the window: the update went on
}

TEST_F(UpdateWorkflow, StickThatNeverComesBackIsAskedForOnceAndWaitedFor) {
  Start();
  // The stick restarts after "AT+YRST" and is pulled out as soon as it is back.
  std::atomic<bool> pulled{false};
  const int firstCom = doc.lines[0].diagPort;
  clock.onSleep = [&] {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    const std::vector<std::string>& commands = stick->State().atCommands;
    const std::vector<sim::PublishedPort> ports = stick->Ports();
    if (!pulled && std::find(commands.begin(), commands.end(), "AT+YRST") != commands.end() &&
        !ports.empty() && ports[0].com != firstCom) {
      pulled = true;
      stick->Reenumerate(sim::StickMode::Firmware, std::nullopt, /*forever=*/true,
                         /*immediately=*/true);
    }
  };
  std::thread worker([this] { Run(); });
  const std::string reinsert = "Please reinsert the Stick, then press \"OK\" to finish the update.";
  // Two minutes of stick time: long past the fifth check.
  EXPECT_TRUE(testing::WaitUntil([&] { return clock.TickCountMs() > 120000; }, 20000));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{reinsert});
  EXPECT_EQ(form.Text(control::kPercent[0]), "3%");  // still waiting for the ports
  // Plugged in again by hand: the update goes on from there.
  stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);
  worker.join();
  EXPECT_EQ(exitStatus, 0);
  EXPECT_EQ(Count(BoxTexts(), reinsert), 1u);
}

TEST_F(UpdateWorkflow, GermanTextsOnAGermanSystem) {
  Start(/*german=*/true);
  doc.lines[0].busy = 0;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "Download fehlgeschlagen");
  EXPECT_TRUE(BoxTexts().empty() || BoxTexts().back() != "action stop!");
  const std::vector<std::string> shown = form.TextHistory(control::kStatus[0]);
  EXPECT_EQ(Count(shown, "Gerät wird aktualisiert..."), 1u);
}

TEST_F(UpdateWorkflow, GermanImageFailureHasNoEnglishBox) {
  Start(/*german=*/true);
  ASSERT_TRUE(testing::AddFaultTo(*stick, "error:0x1B:0x0D:1000000"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "Download fehlgeschlagen!");
  EXPECT_TRUE(BoxTexts().empty());
}

}  // namespace
}  // namespace orbek

// The fault matrix: every exchange of the whole update × every fault the simulated stick can
// commit, each cell a whole update in-process on the stick's clock. Every cell must end (no
// hang), leave the line idle with the process running unless the update succeeded, and leave
// the NV backup complete and true to the stick's items; faults that the protocols' own retries
// cover must not fail the update. A failure's end resumes the port search; a failed download
// resets the stick, every other failure leaves it as it is. The matrix is printed, and written to
// build/.../fault-matrix.md (docs/fault-matrix.md is a copy).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "nv/nv_item_list.h"
#include "platform/suspendable_thread.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/update_workflow.h"
#include "tests/support/wait_until.h"

namespace orbek {
namespace {

// How an update that fails ends: its status text, and whether the end restarts the stick.
struct End {
  const char* status;
  bool resetsStick;
};

const End kSwitchFails{"switch to DownLoad mode fail!", false};
const End kProgrammerFails{"Download armprg.bin fail!", true};
const End kResetFails{"reset modem fail!", false};
const End kSkipFails{"skip fail!", true};
const End kImagesFail{"Download fail, please check the log file to get fail information!", true};
const End kRestoreFails{"Restore NV fail!", false};
// A backup with items the stick never answered would wipe them at the restore: nothing is
// flashed, and the stick is left in its firmware.
const End kBackupFails{"Backup NV fail!", false};

// An exchange of the update, by the command code it starts with in the stick's mode, and how
// many attempts its operation makes (a fault tied to a code strikes at the first request with
// that code, in whichever mode comes first).
struct Step {
  const char* name;
  uint8_t code;
  uint8_t errorCode;  // what the stick's error reply says in that mode
  int attempts;       // of the operation, or of the caller's retries around it
  // How the update ends when the step never gets a good answer (nullptr: it passes without).
  const End* endsWithoutAnswer;
  // The fault is given only once the stick has left its firmware: the code means another
  // request there (0x01 reads the ESN in the firmware, and says hello to the programmer).
  bool outsideFirmware = false;
  // From the flash programmer's upload on, a failure is followed by a next run.
  bool fromTheProgrammerUpload = false;
};

const Step kSteps[] = {
    {"maker subsystem (flags, challenge, poll) 0x4B", 0x4B, 0x13, 3, &kSwitchFails},
    {"mode change (offline, reset) 0x29", 0x29, 0x13, 3, &kSwitchFails},
    {"NV item read 0x26", 0x26, 0x13, 3, &kBackupFails},
    {"version table 0x39", 0x39, 0x13, 1, nullptr},
    {"0x5C", 0x5C, 0x13, 3, &kSwitchFails},
    {"service programming code 0x41", 0x41, 0x13, 2, nullptr},
    {"switch to downloader 0x3A", 0x3A, 0x13, 1, &kSwitchFails},
    {"DMSS no-op 0x06", 0x06, 6, 1, &kSwitchFails},
    {"DMSS parameters 0x07", 0x07, 6, 1, &kSwitchFails},
    {"DMSS write 0x0F", 0x0F, 6, 3, &kProgrammerFails, false, true},
    {"DMSS go 0x05", 0x05, 6, 3, &kSkipFails, false, true},
    {"streaming hello 0x01", 0x01, 5, 3, &kSkipFails, true, true},
    {"streaming no-op 0x09", 0x09, 5, 1, &kSkipFails, false, true},
    {"security mode 0x17", 0x17, 5, 3, &kImagesFail, false, true},
    {"partition table 0x19", 0x19, 5, 1, &kImagesFail, false, true},
    {"open image 0x1B", 0x1B, 5, 2, &kImagesFail, false, true},
    {"close image 0x15", 0x15, 5, 3, &kImagesFail, false, true},
    {"streaming reset 0x0B", 0x0B, 5, 3, &kResetFails, false, true},
    {"NV item write 0x27", 0x27, 0x13, 3, &kRestoreFails, false, true},
};

struct Fault {
  const char* name;
  // The fault spec for a step's code and error code.
  std::string (*spec)(const Step& step);
  bool coveredByRetries;  // with two attempts or more, the update must still succeed
  bool alwaysCovered;     // the link must take it in its stride whatever the attempts
  bool ever;              // the step never gets a good answer
};

std::string Hex(uint8_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", code);
  return text;
}

const Fault kFaults[] = {
    {"no reply", [](const Step& s) { return "noreply:" + Hex(s.code); }, true, false, false},
    {"error reply",
     [](const Step& s) { return "error:" + Hex(s.code) + ":" + std::to_string(s.errorCode); }, true,
     false, false},
    {"bad check value", [](const Step& s) { return "badcrc:" + Hex(s.code); }, true, false, false},
    {"split reply", [](const Step& s) { return "split:" + Hex(s.code); }, false, true, false},
    {"two replies in one read", [](const Step& s) { return "merge:" + Hex(s.code); }, true, false,
     false},
    {"no reply, ever", [](const Step& s) { return "noreply:" + Hex(s.code) + ":100000"; }, false,
     false, true},
    {"error reply, ever",
     [](const Step& s) {
       return "error:" + Hex(s.code) + ":" + std::to_string(s.errorCode) + ":100000";
     },
     false, false, true},
    {"unplugged, back", [](const Step& s) { return "unplug:" + Hex(s.code) + ":1"; }, false, false,
     false},
    {"unplugged for good", [](const Step& s) { return "unplug:" + Hex(s.code) + ":1:never"; },
     false, false, false},
};

// After this much stick time a person plugs the stick in again (a stick gone for good).
constexpr uint64_t kPersonPlugsBackAfterMs = 30 * 60 * 1000;
constexpr int kCellRealMs = 60000;

class Cell final : public testing::UpdateWorkflow {
 public:
  void TestBody() override {}

  // Runs the whole update with the fault; the cell's text for the table.
  std::string Run(const Step& step, const Fault& fault) {
    Start();
    if (::testing::Test::HasFatalFailure())
      return "no start";
    std::atomic<bool> faultGiven{!step.outsideFirmware};
    if (faultGiven) {
      EXPECT_TRUE(testing::AddFaultTo(*stick, fault.spec(step)));
    }
    WatchTheEnd();
    std::atomic<bool> pluggedBack{false};
    clock.onSleep = [&] {
      if (!faultGiven && (stick->Mode() == sim::StickMode::DmssDownload ||
                          stick->Mode() == sim::StickMode::StreamingDownload)) {
        faultGiven = true;
        EXPECT_TRUE(testing::AddFaultTo(*stick, fault.spec(step)));
      }
      if (!pluggedBack && clock.TickCountMs() > kPersonPlugsBackAfterMs) {
        pluggedBack = true;
        std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
        stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);
      }
    };
    std::atomic<bool> ended{false};
    std::thread worker([&] {
      UpdateWorkflow::Run();
      ended = true;
    });
    if (!testing::WaitUntil([&] { return ended.load(); }, kCellRealMs)) {
      ADD_FAILURE() << step.name << " × " << fault.name << ": the update did not end";
      std::fflush(stdout);
      std::abort();  // a hang: the worker cannot be stopped from here
    }
    worker.join();
    clock.onSleep = nullptr;

    const bool succeeded = exitStatus == 0;
    LineSession& line = doc.lines[0];
    EXPECT_EQ(line.busy, 0);
    if (succeeded) {
      EXPECT_EQ(searchResumed_.load(), 0) << "the program ends after a successful update";
    } else {
      EXPECT_TRUE(testing::WaitUntil([&] { return searchResumed_.load() == 1; }, 10000))
          << "a failed update's end must resume the port search";
    }
    line.searchThread.reset();
    if (!succeeded) {
      EXPECT_EQ(exitStatus, -1) << "the process must go on after a failure";
    }
    const bool backupTrue = BackupIsTrue(line.nvFilePath);
    EXPECT_TRUE(backupTrue) << "the NV backup is cut short or holds items the stick never had";
    if (fault.alwaysCovered || (fault.coveredByRetries && step.attempts >= 2)) {
      EXPECT_TRUE(succeeded) << "a fault the retries cover failed the update";
    }
    if (fault.ever && step.endsWithoutAnswer == nullptr) {
      EXPECT_TRUE(succeeded);
    }
    std::string stickAfter;
    if (fault.ever && step.endsWithoutAnswer != nullptr) {
      const End& end = *step.endsWithoutAnswer;
      EXPECT_FALSE(succeeded);
      EXPECT_EQ(form.Text(control::kStatus[0]), end.status);
      if (!theEnd_) {
        ADD_FAILURE() << "the end never showed on the line's state picture";
        return "no end shown";
      }
      const StickAfterTheEnd after = LetTheStickRun();
      if (end.resetsStick) {
        // (A stick plugged in again by the person during the update is in its firmware already.)
        // A flash that lacks a boot image can start only the boot loader.
        const sim::StickMode restartsInto =
            after.flashIncomplete ? sim::StickMode::DmssDownload : sim::StickMode::Firmware;
        EXPECT_TRUE(after.mode == restartsInto &&
                    (after.restarted || theEnd_->stickMode == restartsInto))
            << "a failed download resets the stick into its firmware, or its boot loader";
      } else {
        EXPECT_FALSE(after.restarted) << "this end leaves the stick as it is";
        // Left by a link that last spoke the boot loader's protocol, the stick is for the person
        // to restart.
        EXPECT_EQ(Count(BoxTexts(),
                        "Line 1: the operation failed; please restart the stick by "
                        "hand (unplug it and plug it in again)."),
                  theEnd_->linkMode == LinkMode::Dload ? 1u : 0u);
      }
      if (after.restarted && after.flashIncomplete)
        stickAfter = "; stick reset, into download mode (flash incomplete)";
      else if (after.restarted)
        stickAfter = "; stick reset";
      else if (end.resetsStick && after.flashIncomplete)
        stickAfter = "; stick already in download mode (flash incomplete)";
      else if (end.resetsStick)
        stickAfter = "; stick already in its firmware";
      else
        stickAfter = "; stick left as it is";
    }

    std::string cell = succeeded ? "passes" : "fails: " + form.Text(control::kStatus[0]);
    cell += stickAfter;
    if (pluggedBack)
      cell += " (waits until plugged in again)";
    const std::vector<std::string> boxes = BoxTexts();
    if (!boxes.empty() && !succeeded)
      cell += " [box: " + boxes.back() + "]";
    if (!succeeded && step.fromTheProgrammerUpload)
      nextRun = RunAgain();
    return cell;
  }

  // How the next run went after a failure, "" when there was none.
  std::string nextRun;

 private:
  // After a failure from the programmer upload on, the cause goes away and the person plugs the
  // stick in again: the next search finds it in download mode (a rescue) or ready (its firmware
  // was whole), and the next run writes every image and gives back every preserved item.
  std::string RunAgain() {
    {
      std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
      stick->ClearFaults();
      if (stick->Mode() == sim::StickMode::Unplugged)
        stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);
    }
    LineSession& line = doc.lines[0];
    if (!FindStickAsTheSearchDoes()) {
      ADD_FAILURE() << "the next search does not find the stick";
      return "not found";
    }
    const bool inDownloadMode = line.stickState == kStickInDownloadMode;
    EXPECT_EQ(inDownloadMode, stick->Mode() == sim::StickMode::DmssDownload)
        << "the search reports download mode exactly for a stick in its boot loader";
    if (!stick->State().unfinishedImages.empty()) {
      EXPECT_TRUE(inDownloadMode) << "a stick whose flash lacks an image can only be rescued";
    }
    line.busy = 1;
    exitStatus = -1;
    UpdateWorkflow::Run();
    EXPECT_EQ(exitStatus, 0) << "the next run fails: " << form.Text(control::kStatus[0]);
    ExpectFlashHoldsThePackage();
    EXPECT_EQ(ItemsLost(), 0u) << "the next run did not give back every preserved item";
    const bool whole = exitStatus == 0 && ItemsLost() == 0;
    return std::string(inDownloadMode ? "download mode" : "ready") +
           (whole ? (inDownloadMode ? " → rescued" : " → updated") : " → FAILED");
  }

 private:
  // The port search stands in as a thread that counts its resumptions, and the stick's mode
  // changes are counted when the line's state picture first shows the end.
  void WatchTheEnd() {
    doc.lines[0].searchThread = std::make_unique<platform::SuspendableThread>(
        [this](platform::SuspendableThread&) { ++searchResumed_; });
    form.WatchPictures([this](int controlId, int bitmapId) {
      if (controlId != control::kStatePicture[0] ||
          (bitmapId != control::kBitmapFail && bitmapId != control::kBitmapPass) || theEnd_)
        return;  // the update may show its end state once more after the end
      std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
      theEnd_ = AtTheEnd{doc.lines[0].link.mode, stick->Mode(), stick->ModeHistory().size()};
    });
  }

  struct AtTheEnd {
    LinkMode linkMode;
    sim::StickMode stickMode;
    size_t modeChanges;
  };

  struct StickAfterTheEnd {
    bool restarted;  // the stick's mode changed after the end was shown
    sim::StickMode mode;
    bool flashIncomplete;  // a boot image was not written whole
  };

  // A minute of the stick's time after the end, with nobody talking to it.
  StickAfterTheEnd LetTheStickRun() {
    for (int second = 0; second < 60; ++second)
      clock.SleepMs(1000);
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    return {stick->ModeHistory().size() > theEnd_->modeChanges, stick->Mode(),
            !stick->State().unfinishedImages.empty()};
  }

  std::atomic<int> searchResumed_{0};
  std::optional<AtTheEnd> theEnd_;  // when the line's state picture first showed the end

  // The backup file, if the update made one, is whole and every item it read is the stick's.
  bool BackupIsTrue(const std::string& path) const {
    if (!std::filesystem::exists(path))
      return true;
    const std::vector<uint8_t> bytes = testing::ReadAll(path);
    NvTable table;
    if (!DecodeNvTable(bytes.data(), bytes.size(), table))
      return false;
    for (const NvRecord& record : table) {
      if (record.status != 0 || record.itemId == 0)
        continue;
      auto before = nvBefore.find(record.itemId);
      if (before != nvBefore.end() &&
          !std::equal(record.data.begin(), record.data.end(), before->second.begin()))
        return false;
    }
    return true;
  }
};

TEST(FaultMatrix, EveryExchangeTimesEveryFaultEndsAsTheSequenceDefines) {
  std::ostringstream table;
  table << "| exchange |";
  for (const Fault& fault : kFaults)
    table << " " << fault.name << " |";
  table << " next run after a failure |\n|---|";
  for (size_t i = 0; i <= std::size(kFaults); ++i)
    table << "---|";
  table << "\n";
  for (const Step& step : kSteps) {
    table << "| " << step.name << " |";
    std::set<std::string> nextRuns;
    for (const Fault& fault : kFaults) {
      SCOPED_TRACE(std::string(step.name) + " × " + fault.name);
      Cell cell;
      table << " " << cell.Run(step, fault) << " |";
      if (!cell.nextRun.empty())
        nextRuns.insert(cell.nextRun);
    }
    std::string next;
    for (const std::string& run : nextRuns)
      next += (next.empty() ? "" : "; ") + run;
    table << " " << (next.empty() ? "—" : next) << " |\n";
  }
  std::printf("%s", table.str().c_str());
  std::ofstream("fault-matrix.md") << table.str();
}

}  // namespace
}  // namespace orbek

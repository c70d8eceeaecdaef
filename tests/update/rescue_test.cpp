// A stick that an interrupted update left in its boot loader or its flash programmer: the next
// search finds it in download mode, and UPDATE rescues it, in-process on the stick's clock.
#include <gtest/gtest.h>

#include <fstream>

#include "nv/nv_backup_store.h"
#include "platform/files.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/update_workflow.h"

namespace orbek {
namespace {

class Rescue : public testing::UpdateWorkflow {
 protected:
  // The search asks a stick DIAG first, whatever it runs; what a programmer made of that is no
  // fault of the rescue that follows.
  void ForgetWhatTheSearchSent() {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    stick->State().deviations.clear();
  }

  // What the interrupted update left: the stick's store wiped by the file-system image, and
  // the backup it took before, kept and not yet restored.
  void LoseNvWithItsBackupKept() {
    const NvTable table = BackupOfTheStickAsItWas();
    std::string reason;
    ASSERT_TRUE(NvBackupStore(doc.nvBackupsDirectory)
                    .Keep(IdentityOfTheStick(), table, {2026, 12, 9, 10, 0, 0},
                          KeptBackupState::Pending, reason))
        << reason;
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    for (auto it = stick->State().nvItems.begin(); it != stick->State().nvItems.end();) {
      it = stick->State().readOnlyNvItems.count(it->first) == 0 ? stick->State().nvItems.erase(it)
                                                                : std::next(it);
    }
  }

  void ExpectRescued() {
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(form.Text(control::kStatus[0]), "The update was successful.");
    ExpectFlashHoldsThePackage();
    for (int second = 0; second < 10; ++second)
      clock.SleepMs(1000);  // the final reset's re-enumeration
    EXPECT_EQ(stick->Mode(), sim::StickMode::Firmware);
    EXPECT_NE(ActionLog().find("Rescue: the stick was in download mode"), std::string::npos);
    testing::ExpectNoDeviations(stick->State());
  }
};

struct LeftIn {
  const char* name;
  sim::StickMode mode;
};

class RescueFrom : public Rescue, public ::testing::WithParamInterface<LeftIn> {};

TEST_P(RescueFrom, EveryImageWrittenAndTheStickOwnNvBack) {
  config.flashIncomplete = true;
  config.initialMode = GetParam().mode;
  Start();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(doc.lines[0].stickState, kStickInDownloadMode);
  ForgetWhatTheSearchSent();
  LoseNvWithItsBackupKept();
  EXPECT_GT(ItemsLost(), 600u);

  EXPECT_EQ(Run(), 0);
  ExpectRescued();
  EXPECT_EQ(ItemsLost(), 0u);
  const std::vector<KeptBackup> kept = KeptOfTheStick();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].state, KeptBackupState::Restored);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"The update was successful."});
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RescueFrom,
    ::testing::Values(LeftIn{"BootLoader", sim::StickMode::DmssDownload},
                      LeftIn{"ProgrammerStillRunning", sim::StickMode::StreamingDownload}),
    [](const ::testing::TestParamInfo<LeftIn>& info) { return std::string(info.param.name); });

// Without a backup of this stick the firmware is still written, so that the stick works again,
// but the rescue ends as a failure that says the NV could not be restored and where a backup
// could come from. The line's own file counts when it is this stick's and whole.
TEST_F(Rescue, WithoutABackupTheFirmwareIsWrittenAndTheRescueFails) {
  config.flashIncomplete = true;
  config.initialMode = sim::StickMode::DmssDownload;
  Start();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(exitStatus, -1);
  ExpectFlashHoldsThePackage();
  const std::string status = form.Text(control::kStatus[0]);
  EXPECT_EQ(status.rfind("The firmware was written again, but the stick's calibration and IMEI "
                         "could not be restored: no NV backup of this stick (ESN 80A1B2C3, IMEI -, "
                         "socket 7&1a2b3c4d&0) was found in ",
                         0),
            0u)
      << status;
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{status});
  EXPECT_EQ(doc.lines[0].state, kLineFail);
}

TEST_F(Rescue, TheLineFileOfThisStickIsRestoredWhenTheStoreHasNone) {
  config.flashIncomplete = true;
  config.initialMode = sim::StickMode::DmssDownload;
  Start();
  ASSERT_FALSE(HasFatalFailure());
  const std::vector<uint8_t> bytes = EncodeNvTable(BackupOfTheStickAsItWas());
  std::ofstream(platform::NativePath(doc.lines[0].nvFilePath), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  ForgetWhatTheSearchSent();
  EXPECT_EQ(Run(), 0);
  ExpectRescued();
  EXPECT_EQ(ItemsLost(), 0u);
}

// An update cut off after the partition table (the stick dropped off for good while its images
// were written) leaves a stick that starts only its boot loader. Plugged in again, it is found
// in download mode and rescued with the backup the first run took.
TEST_F(Rescue, UpdateCutOffMidImagesIsRescuedOnTheNextRun) {
  Start();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(testing::AddFaultTo(*stick, "unplug:0x1B:3:never"));
  Run();
  EXPECT_EQ(exitStatus, -1);
  EXPECT_FALSE(stick->State().unfinishedImages.empty());

  {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);  // the person plugs it in
  }
  LineSession& line = doc.lines[0];
  ASSERT_TRUE(FindStickAsTheSearchDoes());
  EXPECT_EQ(line.stickState, kStickInDownloadMode);
  EXPECT_EQ(stick->Mode(), sim::StickMode::DmssDownload);
  line.busy = 1;
  form.AnswerNextBox(box::kAnswerOk);
  Run();
  ExpectRescued();
  EXPECT_EQ(ItemsLost(), 0u);
}

}  // namespace
}  // namespace orbek

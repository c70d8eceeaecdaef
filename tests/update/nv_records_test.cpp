// The backup records never lie: each state a stick's record can be in, against an update and a
// stand-alone backup, in-process on the stick's clock. Each row checks the stick's NV, the
// records afterwards, the text and how the run ended.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "nv/nv_backup.h"
#include "nv/nv_backup_store.h"
#include "platform/files.h"
#include "tests/support/case_names.h"
#include "tests/support/update_workflow.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;
using testing::UpdateWorkflow;
using State = KeptBackupState;

constexpr uint16_t kSetting = 90;  // a preserved item the person may change

enum class Before {
  None,
  Taken,
  WaitingWiped,
  WaitingIntactSettingChanged,
  Restored,
  DamagedRecordWiped,
  DamagedOldStatesWiped,
  FileMissing,
  Unwritable
};
enum class RunKind { Update, StandAloneBackup };

struct RecordCase {
  const char* name;
  Before before;
  RunKind run;
  bool passes;
  std::vector<State> after;  // the stick's records, newest first
  const char* text;          // on the status log
};

void PrintTo(const RecordCase& row, std::ostream* out) {
  *out << row.name;
}

const RecordCase kCases[] = {
    {"none, update", Before::None, RunKind::Update, true, {State::Restored}, ""},
    {"taken by a run that ended before the flash, update",
     Before::Taken,
     RunKind::Update,
     true,
     {State::Restored, State::Taken},
     ""},
    {"waiting, stick wiped, update",
     Before::WaitingWiped,
     RunKind::Update,
     true,
     {State::Restored},
     "was never restored: no new backup is taken"},
    {"waiting, stick intact and a setting changed, update",
     Before::WaitingIntactSettingChanged,
     RunKind::Update,
     true,
     {State::Restored, State::Settled},
     "but the stick still holds its NV"},
    {"restored, update",
     Before::Restored,
     RunKind::Update,
     true,
     {State::Restored, State::Restored},
     ""},
    {"record damaged, stick wiped, update",
     Before::DamagedRecordWiped,
     RunKind::Update,
     true,
     {State::Restored},
     "cannot be read: as the stick's newest, it is taken as waiting"},
    {"earlier version's states damaged, stick wiped, update",
     Before::DamagedOldStatesWiped,
     RunKind::Update,
     true,
     {State::Restored},
     "it is taken as waiting"},
    {"waiting file missing, update",
     Before::FileMissing,
     RunKind::Update,
     true,
     {State::Restored, State::Lost},
     "waited for its restore, but the file is gone"},
    {"record cannot be written at the flash, update",
     Before::None,
     RunKind::Update,
     false,
     {State::Unknown},
     "cannot be written: nothing was flashed"},
    {"waiting, stick wiped, stand-alone backup",
     Before::WaitingWiped,
     RunKind::StandAloneBackup,
     false,
     {State::Pending},
     "Restore that file first"},
    {"taken, stand-alone backup",
     Before::Taken,
     RunKind::StandAloneBackup,
     true,
     {State::Kept, State::Taken},
     ""},
    {"waiting file missing, stand-alone backup",
     Before::FileMissing,
     RunKind::StandAloneBackup,
     true,
     {State::Kept, State::Lost},
     "but the file is gone"},
};

class NvRecords : public UpdateWorkflow, public ::testing::WithParamInterface<RecordCase> {
 protected:
  void WipeTheStick() {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    for (auto it = stick->State().nvItems.begin(); it != stick->State().nvItems.end();)
      it = stick->State().readOnlyNvItems.count(it->first) == 0 ? stick->State().nvItems.erase(it)
                                                                : std::next(it);
  }
  KeptBackup KeepEarlier(State state) {
    std::string reason;
    const std::optional<KeptBackup> kept =
        NvBackupStore(doc.nvBackupsDirectory)
            .Keep(IdentityOfTheStick(), BackupOfTheStickAsItWas(), {2026, 1, 2, 3, 4, 5}, state,
                  reason);
    EXPECT_TRUE(kept) << reason;
    return *kept;
  }
  std::string RecordOf(const KeptBackup& backup) const {
    return backup.path.substr(0, backup.path.size() - 4) + ".rec";
  }
};

TEST_P(NvRecords, StatesAgainstRuns) {
  const RecordCase& row = GetParam();
  Start();
  ASSERT_FALSE(HasFatalFailure());
  switch (row.before) {
    case Before::None:
      break;
    case Before::Taken:
    case Before::Restored:
      KeepEarlier(row.before == Before::Taken ? State::Taken : State::Restored);
      break;
    case Before::WaitingWiped:
      KeepEarlier(State::Pending);
      WipeTheStick();
      break;
    case Before::WaitingIntactSettingChanged: {
      KeepEarlier(State::Pending);
      std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
      stick->State().nvItems[kSetting].fill(0x77);
      nvBefore = stick->State().nvItems;  // the change is the stick's own now
      break;
    }
    case Before::DamagedRecordWiped:
      std::ofstream(RecordOf(KeepEarlier(State::Pending))) << "\x01\x02 not a record";
      WipeTheStick();
      break;
    case Before::DamagedOldStatesWiped: {
      // An earlier version's folder: the ESN alone, one states file, here over its size limit.
      const KeptBackup kept = KeepEarlier(State::Pending);
      const std::string folder = doc.nvBackupsDirectory + "/" + kept.stick.Describe().substr(4, 8);
      fs::create_directories(folder);
      fs::rename(kept.path, folder + "/" + kept.name);
      fs::remove(RecordOf(kept));
      std::ofstream(folder + "/states.txt") << std::string(2 << 20, 'x');
      WipeTheStick();
      break;
    }
    case Before::FileMissing:
      fs::remove(KeepEarlier(State::Pending).path);
      break;
    case Before::Unwritable:
      break;
  }
  if (std::string(row.name).rfind("record cannot be written", 0) == 0) {
    // Once the programmer runs, the new backup's record can no longer be written.
    clock.onSleep = [&] {
      if (doc.lines[0].progress == 22) {
        for (const KeptBackup& kept : KeptOfTheStick()) {
          fs::remove(RecordOf(kept));
          fs::create_directories(RecordOf(kept));
        }
        clock.onSleep = nullptr;
      }
    };
  }

  if (row.run == RunKind::Update) {
    Run();
    EXPECT_EQ(exitStatus, row.passes ? 0 : -1) << doc.lines[0].statusLog;
  } else {
    doc.lines[0].busy = 0;
    BackupNvThread(view->Handle(0));
    EXPECT_EQ(doc.lines[0].state, row.passes ? kLinePass : kLineFail) << doc.lines[0].statusLog;
  }
  EXPECT_NE(doc.lines[0].statusLog.find(row.text), std::string::npos) << doc.lines[0].statusLog;
  std::vector<State> after;  // from every folder: an earlier version's too
  const NvBackupStore store(doc.nvBackupsDirectory);
  for (const std::string& folder : store.Folders()) {
    for (const KeptBackup& kept : store.List(folder))
      after.push_back(kept.state);
  }
  EXPECT_EQ(after, row.after);
  // The stick ends with its own NV, its changed setting included, unless the run stopped before
  // writing anything (then it is as it was).
  const bool wiped = row.before == Before::WaitingWiped ||
                     row.before == Before::DamagedRecordWiped ||
                     row.before == Before::DamagedOldStatesWiped;
  if (row.passes || !wiped) {
    EXPECT_EQ(ItemsLost(), 0u);
  }
  if (!row.passes && row.run == RunKind::Update) {
    EXPECT_EQ(stick->State().flash.count("efs"), 0u);  // nothing was flashed
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, NvRecords, ::testing::ValuesIn(kCases),
                         testing::CaseName<RecordCase>);

// The program killed at a step of the update (its worker ends at the first sleep there), the stick
// losing power with it; then the stick is plugged in again and updated once more. It ends with
// its own NV, settings changed before the first run and between the runs included.
struct Killed {};

class KilledAtProgress : public UpdateWorkflow, public ::testing::WithParamInterface<int> {};

TEST_P(KilledAtProgress, ReRunGivesTheStickItsOwnNv) {
  const int killAt = GetParam();
  Start();
  ASSERT_FALSE(HasFatalFailure());
  {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    stick->State().nvItems[kSetting].fill(0x77);
    nvBefore = stick->State().nvItems;
  }
  clock.onSleep = [&] {
    if (doc.lines[0].progress == killAt) {
      clock.onSleep = nullptr;
      throw Killed{};
    }
  };
  EXPECT_THROW(Run(), Killed);
  clock.onSleep = nullptr;
  {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);  // power lost, plugged in again
  }
  for (int second = 0; second < 30; ++second)
    clock.SleepMs(1000);
  {
    // A stick that starts its firmware with its NV whole is in use meanwhile: a setting changed
    // now is its own, and the next update keeps it rather than an older backup's value.
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    if (stick->Mode() == sim::StickMode::Firmware && ItemsLost() == 0) {
      stick->State().nvItems[kSetting].fill(0x55);
      nvBefore = stick->State().nvItems;
    }
  }
  doc.lines[0].busy = 0;
  ExtractPackage(*view, connectionManager);  // the program started again
  ASSERT_TRUE(FindStickAsTheSearchDoes());
  doc.lines[0].busy = 1;
  form.AnswerNextBox(box::kAnswerOk);
  Run();
  EXPECT_EQ(exitStatus, 0) << doc.lines[0].statusLog;
  EXPECT_EQ(ItemsLost(), 0u) << doc.lines[0].statusLog;
  ExpectFlashHoldsThePackage();
}

// The progress values the update sleeps at, each a step of the sequence (3 and 7 pass without
// a sleep).
INSTANTIATE_TEST_SUITE_P(Steps, KilledAtProgress,
                         ::testing::Values(1, 2, 8, 9, 10, 15, 20, 21, 22, 23, 24, 25, 40, 51, 70,
                                           80, 81, 82, 85, 89, 95, 96, 97, 98, 99));

}  // namespace
}  // namespace orbek

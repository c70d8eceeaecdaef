// No stick ever receives another stick's NV: sticks known by their ESN, their IMEI and their
// socket, crossed with the ways an update meets them, in-process on the stick's clock.
#include "nv/stick_identity.h"

#include <gtest/gtest.h>

#include <functional>

#include "diag/diag_commands.h"
#include "nv/nv_backup_store.h"
#include "tests/support/case_names.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/update_workflow.h"

namespace orbek {
namespace {

using testing::UpdateWorkflow;

// The item 550 a stick with these IMEI digits holds.
NvItemData Imei(const std::string& digits) {
  sim::StickConfig config;
  sim::GiveIdentity(config, 0, digits);
  return config.nvItems.at(550);
}

TEST(StickIdentityRules, ImeiFoldersMatchesAndContradictions) {
  EXPECT_EQ(ImeiOfItem(Imei("357123456789012")), "357123456789012");
  EXPECT_EQ(ImeiOfItem(NvItemData{}), "");
  NvItemData lengthOnly{};
  lengthOnly[0] = 8;
  lengthOnly[1] = 0x0A;
  EXPECT_EQ(ImeiOfItem(lengthOnly), "");  // a type but no digits: blank
  NvItemData garbage{};
  garbage[0] = 0xEE;
  garbage[3] = 0x5C;
  EXPECT_EQ(ImeiOfItem(garbage), "EE00005C0000000000");

  struct Folder {
    StickIdentity identity;
    const char* name;
  };
  const Folder folders[] = {{{0x8A3F21C7, "312345678901234", ""}, "8A3F21C7-312345678901234"},
                            {{std::nullopt, "312345678901234", ""}, "312345678901234"},
                            {{0x0000ABCD, "", ""}, "0000ABCD"},
                            {{std::nullopt, "", ""}, ""}};
  for (const Folder& folder : folders) {
    EXPECT_EQ(IdentityFolderName(folder.identity), folder.name);
    if (folder.name[0] == 0)
      continue;
    const std::optional<StickIdentity> back = IdentityOfFolderName(folder.name);
    ASSERT_TRUE(back) << folder.name;
    EXPECT_EQ(back->esn, folder.identity.esn);
    EXPECT_EQ(back->imei, folder.identity.imei);
  }
  EXPECT_EQ(IdentityOfFolderName("deadbeef")->esn, 0xDEADBEEFu);  // an earlier version's
  for (const char* notOurs : {"..", "states.txt", "8A3F21C7-", "8A3F21C7-1234ABCD", "x/y"})
    EXPECT_FALSE(IdentityOfFolderName(notOurs)) << notOurs;

  struct Match {
    const char* name;
    StickIdentity backup;
    StickIdentity stick;
    bool matches;
    bool contradicts;
  };
  const Match matches[] = {
      {"same ESN and IMEI", {7, "35", "1-1"}, {7, "35", "1-2"}, true, true},
      {"ESN 0 sticks told apart by IMEI",
       {std::nullopt, "35", "1-1"},
       {std::nullopt, "36", "1-1"},
       false,
       true},
      {"one ESN, two IMEIs", {7, "35", "1-1"}, {7, "36", "1-1"}, false, true},
      {"wiped IMEI, same ESN", {7, "35", "1-1"}, {7, "", "1-2"}, true, true},
      {"wiped IMEI, other ESN", {7, "35", "1-1"}, {8, "", "1-1"}, false, true},
      {"wiped ESN and IMEI, same socket", {7, "35", "1-1"}, {std::nullopt, "", "1-1"}, true, false},
      {"wiped ESN and IMEI, other socket",
       {7, "35", "1-1"},
       {std::nullopt, "", "1-2"},
       false,
       true},
  };
  for (const Match& row : matches) {
    EXPECT_EQ(BackupIsOfStick(row.backup, row.stick), row.matches) << row.name;
    EXPECT_EQ(IdentityContradicts(row.backup, row.stick), row.contradicts) << row.name;
  }
}

enum class Path {
  WholeUpdate,
  ReRunAfterFailedReset,
  SecondStickPlugged,
  SwappedDuringReset,
  Rescue
};

struct IdentityCase {
  const char* name;
  std::function<void(sim::StickConfig&)> identity;
  Path path;
  // A pending backup of another stick that shares the ESN 0 with this one, in the store before.
  bool otherSticksBackupWaits = false;
};

void PrintTo(const IdentityCase& row, std::ostream* out) {
  *out << row.name;
}

const auto kItem0EqualsEsn = [](sim::StickConfig&) {};
const auto kItem0Zero = [](sim::StickConfig& c) {
  c.esn = 0x8A3F21C7;
  c.nvItems[0] = {};
};
const auto kItem0Inactive = [](sim::StickConfig& c) {
  c.esn = 0x8A3F21C7;
  c.inactiveNvItems.insert(0);
};
const auto kEsn0 = [](sim::StickConfig& c) { sim::GiveIdentity(c, 0, "312345678901234"); };
const auto kEsnInNv = [](sim::StickConfig& c) {
  c.esnInNv = true;
  c.readOnlyNvItems.erase(0);
};

const IdentityCase kCases[] = {
    {"item 0 is the ESN, whole update", kItem0EqualsEsn, Path::WholeUpdate},
    {"item 0 zero, whole update", kItem0Zero, Path::WholeUpdate},
    {"item 0 inactive, whole update", kItem0Inactive, Path::WholeUpdate},
    {"ESN 0, another ESN 0 stick's backup waits", kEsn0, Path::WholeUpdate, true},
    {"item 0 zero, re-run after a failed reset", kItem0Zero, Path::ReRunAfterFailedReset},
    {"ESN 0, re-run after a failed reset", kEsn0, Path::ReRunAfterFailedReset, true},
    {"ESN in NV, wiped by the flash, re-run", kEsnInNv, Path::ReRunAfterFailedReset},
    {"ESN 0, a second stick plugged in", kEsn0, Path::SecondStickPlugged},
    {"ESN 0, swapped during the reset", kEsn0, Path::SwappedDuringReset},
    {"item 0 is the ESN, swapped during the reset", kItem0EqualsEsn, Path::SwappedDuringReset},
    {"ESN in NV, rescued from its socket's backup", kEsnInNv, Path::Rescue},
};

class IdentityPaths : public UpdateWorkflow, public ::testing::WithParamInterface<IdentityCase> {
 protected:
  uint32_t NvWritesTo(sim::Stick& which) const {
    std::lock_guard<std::recursive_mutex> hold(which.Mutex());
    auto firmware = which.Counts().find("firmware");
    if (firmware == which.Counts().end())
      return 0;
    auto writes = firmware->second.find(0x27);
    return writes == firmware->second.end() ? 0 : writes->second;
  }
  void PlugInAgainAndGetReady() {
    {
      std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
      stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);
    }
    for (int second = 0; second < 30; ++second)
      clock.SleepMs(1000);
    ASSERT_TRUE(FindStickAsTheSearchDoes());
    doc.lines[0].busy = 1;
    exitStatus = -1;
  }
};

TEST_P(IdentityPaths, EveryStickEndsWithItsOwnNvOrUntouched) {
  const IdentityCase& row = GetParam();
  row.identity(config);
  otherConfig = sim::DefaultStickConfig();
  sim::GiveIdentity(*otherConfig, 0, "398765432109876");
  otherConfig->firstComNumber = 60;
  if (row.path == Path::Rescue) {
    config.flashIncomplete = true;
    config.initialMode = sim::StickMode::DmssDownload;
  }
  Start();
  ASSERT_FALSE(HasFatalFailure());
  const NvBackupStore store(doc.nvBackupsDirectory);
  std::string reason;
  const StickIdentity otherStick{std::nullopt, "398765432109876", "elsewhere"};
  if (row.otherSticksBackupWaits) {
    ASSERT_TRUE(store.Keep(otherStick, BuildNvItemList(), {2026, 1, 1, 0, 0, 0},
                           KeptBackupState::Pending, reason))
        << reason;
  }
  const auto otherRecordWaits = [&] {
    return store.WaitingFor(otherStick).size() == (row.otherSticksBackupWaits ? 1u : 0u);
  };
  if (row.path == Path::Rescue) {
    // The update that left it there backed it up in this socket; its flash wiped ESN and IMEI.
    nvBefore = config.nvItems;
    StickIdentity before = IdentityOfTheStick();
    ASSERT_TRUE(store.Keep(before, BackupOfTheStickAsItWas(), {2026, 12, 9, 10, 0, 0},
                           KeptBackupState::Pending, reason))
        << reason;
  }

  bool plugged = false;
  clock.onSleepMs = [&](uint32_t ms) {
    if (!plugged && row.path == Path::SecondStickPlugged && ms == 10000) {
      PlugInOther(/*intoTheStickSocket=*/false);  // during the 10 s after "AT+YRST"
      plugged = true;
    }
  };
  clock.onSleep = [&] {
    if (!plugged && row.path == Path::SwappedDuringReset &&
        stick->State().flash.count("efs") == 1 && stick->Mode() == sim::StickMode::Unplugged) {
      PullOutTheStick();
      PlugInOther(/*intoTheStickSocket=*/true);
      plugged = true;
    }
  };
  if (row.path == Path::ReRunAfterFailedReset) {
    ASSERT_TRUE(testing::AddFaultTo(*stick, "noreply:0x0B:3"));
  }
  Run();
  clock.onSleep = nullptr;
  clock.onSleepMs = nullptr;
  EXPECT_EQ(plugged, row.path == Path::SecondStickPlugged || row.path == Path::SwappedDuringReset);
  if (row.path == Path::ReRunAfterFailedReset) {
    EXPECT_EQ(form.Text(control::kStatus[0]), "reset modem fail!");
    ASSERT_EQ(KeptOfTheStick().size(), 1u);
    EXPECT_EQ(KeptOfTheStick()[0].state, KeptBackupState::Pending);
    PlugInAgainAndGetReady();
    ASSERT_FALSE(HasFatalFailure());
    Run();
  }

  EXPECT_EQ(NvWritesTo(*other), 0u);
  EXPECT_TRUE(otherRecordWaits());
  if (row.path == Path::SwappedDuringReset) {
    // The line ends for the stick it found, writes nothing, and the flashed stick's backup waits.
    EXPECT_EQ(exitStatus, -1);
    EXPECT_EQ(form.Text(control::kStatus[0]).rfind("Another stick is on this line now", 0), 0u)
        << form.Text(control::kStatus[0]);
    ASSERT_EQ(KeptOfTheStick().size(), 1u);
    EXPECT_EQ(KeptOfTheStick()[0].state, KeptBackupState::Pending);
    return;
  }
  EXPECT_EQ(exitStatus, 0) << doc.lines[0].statusLog;
  EXPECT_EQ(ItemsLost(), 0u);
  // The update's own restore asks nothing.
  EXPECT_EQ(BoxTexts().back(), "The update was successful.");
  for (const RecordingForm::Box& box : form.Boxes())
    EXPECT_NE(box.style & box::kYesNo, box::kYesNo) << box.text;
  const std::vector<KeptBackup> kept = KeptOfTheStick();
  ASSERT_EQ(kept.size(), 1u);  // one backup, restored: never a second over a waiting one
  EXPECT_EQ(kept[0].state, KeptBackupState::Restored);
}

INSTANTIATE_TEST_SUITE_P(Rows, IdentityPaths, ::testing::ValuesIn(kCases),
                         testing::CaseName<IdentityCase>);

}  // namespace
}  // namespace orbek

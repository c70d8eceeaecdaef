// The stick's NV through faults, re-plugs and re-runs of the whole update, in-process on the
// stick's clock. Whatever happens, the stick's NV is never lower than before the first run
// unless the person was told, and its newest good backup stays whole on the disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "nv/nv_backup_store.h"
#include "nv/nv_item_list.h"
#include "platform/files.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/update_workflow.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct NvFaultCase {
  const char* name;
  const char* fault;
  // How the first run ends: its status text, and whether anything reached the flash.
  const char* firstStatus;
  bool flashedFirst;
  // Whether the person re-plugs the stick after the first run and runs the update again.
  bool secondRun;
  // Whether the stick came back in time for the first run to undo its settings.
  bool stickBack = true;
};

void PrintTo(const NvFaultCase& row, std::ostream* out) {
  *out << row.name;
}

const NvFaultCase kCases[] = {
    {"drops off at the first item of the backup", "unplug:0x26:1", "Backup NV fail!", false, true},
    {"drops off at item 10 of the backup", "unplug:0x26:10", "Backup NV fail!", false, true},
    {"drops off at item 400 of the backup", "unplug:0x26:400", "Backup NV fail!", false, true},
    {"stops answering at item 200 for good", "unplug:0x26:200:never", "Backup NV fail!", false,
     false, false},
    {"re-plugged during the restore", "unplug:0x27:100", "The update was successful.", true, false},
    {"reset unanswered after the file-system image", "noreply:0x0B:3", "reset modem fail!", true,
     true},
};

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class NvSafety : public testing::UpdateWorkflow {
 protected:
  // A whole earlier backup in the line's file, as a good earlier run left it.
  void PlaceEarlierBackup() {
    NvTable table = BuildNvItemList();
    for (size_t slot = 0; slot < kNvListedItemCount; ++slot)
      table[slot].data.fill(0x3C);
    earlierFile = EncodeNvTable(table);
    WriteBytes(platform::NativePath(doc.lines[0].nvFilePath), earlierFile);
  }

  // After the first run: the person plugs the stick in again and the search takes it in.
  void PlugInAgainAndGetReady() {
    {
      std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
      stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);
    }
    for (int second = 0; second < 30; ++second)
      clock.SleepMs(1000);
    LineSession& line = doc.lines[0];
    PortScanner scanner;
    const FoundPorts found = scanner.FindPorts();
    found.ApplyTo(line.diagPort, line.dataPort);
    line.socket = found.location;
    ASSERT_TRUE(found.found);
    ASSERT_TRUE(ReopenPort(line, LinePort::Diagnostic));
    ASSERT_TRUE(ReopenPort(line, LinePort::Modem));
    ASSERT_TRUE(ProbeStick(line));
    line.busy = 1;
    exitStatus = -1;
  }

  uint32_t FirmwareRequests(uint8_t command) const {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    auto perMode = stick->Counts().find("firmware");
    if (perMode == stick->Counts().end())
      return 0;
    auto count = perMode->second.find(command);
    return count == perMode->second.end() ? 0 : count->second;
  }

  // Every kept backup is whole and holds the stick's items as they were before the first run.
  void ExpectKeptBackupsTrue() const {
    for (const KeptBackup& backup : KeptOfTheStick()) {
      const Bytes bytes = testing::ReadAll(backup.path);
      NvTable table;
      ASSERT_TRUE(DecodeNvTable(bytes.data(), bytes.size(), table)) << backup.path;
      EXPECT_EQ(UnansweredNvItems(table), 0u) << backup.path;
      for (const NvRecord& record : table) {
        if (record.itemId >= kNvEndMarker)
          break;
        if (record.status != 0)
          continue;
        auto before = nvBefore.find(record.itemId);
        ASSERT_NE(before, nvBefore.end()) << record.itemId;
        EXPECT_EQ(record.data, before->second) << backup.path << " item " << record.itemId;
      }
    }
  }

  Bytes earlierFile;
};

class NvSafetyUnderFaults : public NvSafety, public ::testing::WithParamInterface<NvFaultCase> {};

TEST_P(NvSafetyUnderFaults, FaultsAndReRunsNeverLoseTheStickNv) {
  const NvFaultCase& row = GetParam();
  Start();
  ASSERT_FALSE(HasFatalFailure());
  PlaceEarlierBackup();
  const std::string file = platform::NativePath(doc.lines[0].nvFilePath);
  ASSERT_TRUE(testing::AddFaultTo(*stick, row.fault));

  Run();
  const bool passed = exitStatus == 0;
  EXPECT_EQ(form.Text(control::kStatus[0]), row.firstStatus);
  EXPECT_EQ(stick->State().flash.count("efs") == 1, row.flashedFirst);
  const NvBackupStore store(doc.nvBackupsDirectory);
  if (!row.flashedFirst) {
    // Nothing was flashed: the earlier file and the stick's NV are as they were, and the stick
    // is back in normal operation.
    EXPECT_EQ(testing::ReadAll(file), earlierFile);
    EXPECT_EQ(ItemsLost(), 0u);
    EXPECT_EQ(BoxTexts().back(), "Download failure, Please download again!");
    EXPECT_TRUE(KeptOfTheStick().empty());
    EXPECT_EQ(stick->State().partitionTable, Bytes{});
    if (row.stickBack) {
      EXPECT_EQ(stick->State().flagAAHistory.back(), 0);
      EXPECT_EQ(stick->State().autorunHistory.back(), 1);
    }
  } else {
    // The backup was taken whole, and kept waiting for its restore until the restore happened.
    ASSERT_EQ(KeptOfTheStick().size(), 1u);
    EXPECT_EQ(KeptOfTheStick()[0].state,
              passed ? KeptBackupState::Restored : KeptBackupState::Pending);
    EXPECT_EQ(testing::ReadAll(file), testing::ReadAll(KeptOfTheStick()[0].path));
  }
  if (passed) {
    EXPECT_EQ(ItemsLost(), 0u);
  }
  ExpectKeptBackupsTrue();
  if (!row.secondRun)
    return;

  // The person does what the box says: plugs the stick in again and updates once more.
  const Bytes fileAfterFirst = testing::ReadAll(file);
  const std::vector<KeptBackup> keptAfterFirst = KeptOfTheStick();
  PlugInAgainAndGetReady();
  ASSERT_FALSE(HasFatalFailure());
  Run();
  EXPECT_EQ(exitStatus, 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "The update was successful.");
  EXPECT_EQ(ItemsLost(), 0u);
  const std::vector<KeptBackup> kept = KeptOfTheStick();
  if (row.flashedFirst) {
    // No backup over the one that was never restored: it was restored instead.
    EXPECT_EQ(testing::ReadAll(file), fileAfterFirst);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].name, keptAfterFirst[0].name);
    EXPECT_EQ(kept[0].state, KeptBackupState::Restored);
    EXPECT_NE(doc.lines[0].statusLog.find("was never restored"), std::string::npos);
  } else {
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].state, KeptBackupState::Restored);
  }
  ExpectKeptBackupsTrue();
}

INSTANTIATE_TEST_SUITE_P(Rows, NvSafetyUnderFaults, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<NvFaultCase>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c != 0; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c)) != 0)
                               name += *c;
                           }
                           return name;
                         });

using NvSafetyWorkflow = NvSafety;

// A stick whose NV is already cut short (an earlier update's backup was never restored) is not
// backed up again, even where the line's own file went missing meanwhile.
TEST_F(NvSafetyWorkflow, PendingBackupIsRestoredInsteadOfANewOne) {
  Start();
  const NvTable table = BackupOfTheStickAsItWas();
  const NvBackupStore store(doc.nvBackupsDirectory);
  std::string reason;
  const std::optional<KeptBackup> pending = store.Keep(
      IdentityOfTheStick(), table, {2026, 1, 2, 3, 4, 5}, KeptBackupState::Pending, reason);
  ASSERT_TRUE(pending) << reason;
  const Bytes pendingBytes = testing::ReadAll(pending->path);
  // The stick lost most of its items to that earlier update.
  {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    for (auto it = stick->State().nvItems.begin(); it != stick->State().nvItems.end();)
      it = it->first > 100 && stick->State().readOnlyNvItems.count(it->first) == 0
               ? stick->State().nvItems.erase(it)
               : std::next(it);
  }
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(exitStatus, 0);
  EXPECT_EQ(ItemsLost(), 0u);
  EXPECT_FALSE(fs::exists(platform::NativePath(doc.lines[0].nvFilePath)));
  const std::vector<KeptBackup> kept = KeptOfTheStick();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].state, KeptBackupState::Restored);
  EXPECT_EQ(testing::ReadAll(kept[0].path), pendingBytes);
  // Only item 22 for its kept bytes and item 550 for the stick's identity, before the flash and
  // after it: no backup was read.
  EXPECT_EQ(FirmwareRequests(0x26), 3u);
}

}  // namespace
}  // namespace orbek

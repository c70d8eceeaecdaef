// The NV item list, the backup file and the backup and restore procedures against the simulated
// stick, in-process on the manual clock.
#include "nv/nv_backup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "app/line/control_ids.h"
#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "tests/support/simulated_stick_test.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kNvReadCode = 0x26;
constexpr uint8_t kNvWriteCode = 0x27;

TEST(NvItemList, ListedItemsMarkerAndZeroSlots) {
  const NvTable table = BuildNvItemList();
  ASSERT_EQ(table.size(), 1125u);
  EXPECT_EQ(table[0].itemId, 0);
  EXPECT_EQ(table[1].itemId, 22);
  EXPECT_EQ(table[645].itemId, 550);
  EXPECT_EQ(table[644].itemId, 8029);
  EXPECT_EQ(table[646].itemId, 10000);
  for (size_t slot = 647; slot < table.size(); ++slot)
    ASSERT_EQ(table[slot].itemId, 0) << slot;
  const auto& items = NvListedItems();
  EXPECT_EQ(std::set<uint16_t>(items.begin(), items.end()).size(), 637u);
  for (uint16_t twice : {2724, 2725, 2729, 4965, 4970, 4975})
    EXPECT_EQ(std::count(items.begin(), items.end(), twice), 2) << twice;
  EXPECT_EQ(std::count(items.begin(), items.end(), 4051), 0);
}

TEST(NvItemList, FileLayoutIsLittleEndianWithPadding) {
  NvTable table = BuildNvItemList();
  table[1].data[0] = 0xAB;
  table[1].data[127] = 0xCD;
  table[1].status = 0x0105;
  const std::vector<uint8_t> bytes = EncodeNvTable(table);
  ASSERT_EQ(bytes.size(), 153000u);
  const uint8_t* slot1 = bytes.data() + 136;
  EXPECT_EQ(slot1[0], 22);
  EXPECT_EQ(slot1[1], 0);
  EXPECT_EQ(slot1[2], 0);
  EXPECT_EQ(slot1[4], 0xAB);
  EXPECT_EQ(slot1[131], 0xCD);
  EXPECT_EQ(slot1[132], 0x05);
  EXPECT_EQ(slot1[133], 0x01);
  EXPECT_EQ(bytes[646 * 136], 0x10);  // 10000 = 0x2710
  EXPECT_EQ(bytes[646 * 136 + 1], 0x27);
  NvTable back;
  ASSERT_TRUE(DecodeNvTable(bytes.data(), bytes.size(), back));
  EXPECT_EQ(back[1].status, 0x0105);
  EXPECT_EQ(back[1].data, table[1].data);
  EXPECT_FALSE(DecodeNvTable(bytes.data(), bytes.size() - 1, back));
}

class NvTest : public testing::SimulatedStickTest {
 protected:
  void SetUp() override {
    SimulatedStickTest::SetUp();
    Reconnect();
    path = root.Path() + "/Channel1.nvm";
  }

  void Reconnect() {
    LineSession& line = view.Line(0);
    line.link.port.Close();
    ASSERT_TRUE(line.link.port.Open(stick->Ports()[0].com));
  }

  // The stick's NV store with nothing in it, as after a flash that lost it.
  void WipeStickNv() {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    stick->State().nvItems.clear();
    stick->State().readOnlyNvItems.clear();
  }

  NvTable ReadFile() {
    const std::vector<uint8_t> bytes = testing::ReadFileBytes(path);
    NvTable table;
    EXPECT_TRUE(DecodeNvTable(bytes.data(), bytes.size(), table)) << bytes.size();
    return table;
  }

  void WriteFile(const NvTable& table) {
    const std::vector<uint8_t> bytes = EncodeNvTable(table);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  // A file whose first slots hold `items`, read successfully, with data from their number.
  void WriteFileWith(const std::vector<uint16_t>& items) {
    NvTable table(kNvSlotCount);
    for (size_t slot = 0; slot < items.size(); ++slot) {
      table[slot].itemId = items[slot];
      table[slot].data.fill(static_cast<uint8_t>(items[slot] * 3 + 1));
    }
    WriteFile(table);
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const RecordingForm::Box& box : form.Boxes())
      texts.push_back(box.text);
    return texts;
  }

  testing::RegistryRoot root;
  RecordingForm form;
  CVarnelDoc doc;
  CVarnelView view{form, doc, false, root.Path()};
  std::string path;
};

TEST_F(NvTest, BackupWipeRestoreGivesBackEveryItemRead) {
  const std::map<uint16_t, sim::NvData> before = stick->State().nvItems;
  ASSERT_TRUE(BackupNv(view.Handle(0), path));
  EXPECT_EQ(view.Line(0).progress, 15);
  const NvTable backup = ReadFile();
  size_t read = 0;
  for (size_t slot = 0; slot < kNvListedItemCount; ++slot) {
    const NvRecord& record = backup[slot];
    auto held = before.find(record.itemId);
    if (held == before.end() || config.inactiveNvItems.count(record.itemId) != 0) {
      EXPECT_EQ(record.status, 5) << record.itemId;
      continue;
    }
    EXPECT_EQ(record.status, 0) << record.itemId;
    EXPECT_EQ(record.data, held->second) << record.itemId;
    ++read;
  }
  EXPECT_GT(read, 600u);
  // The download check went first, with the firmware record (here: no image, so zeros).
  ASSERT_FALSE(stick->State().downloadChecks.empty());
  EXPECT_EQ(stick->State().downloadChecks[0].block, sim::Bytes(128, 0));

  WipeStickNv();
  ASSERT_TRUE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(view.Line(0).progress, 89);
  for (size_t slot = 0; slot < kNvListedItemCount; ++slot) {
    const NvRecord& record = backup[slot];
    if (record.status != 0)
      continue;
    ASSERT_EQ(stick->State().nvItems.count(record.itemId), 1u) << record.itemId;
    EXPECT_EQ(stick->State().nvItems.at(record.itemId), record.data) << record.itemId;
  }
  EXPECT_EQ(stick->State().lastModeChange, 4);  // offline for the writes, then mode 4
}

TEST_F(NvTest, ItemReadIsTriedThreeTimesAndAFailureKeepsItsStatus) {
  ASSERT_TRUE(AddFault("nvrefuse:22:3"));
  ASSERT_TRUE(AddFault("nvrefuse:23:2"));
  ASSERT_TRUE(BackupNv(view.Handle(0), path));
  const NvTable backup = ReadFile();
  EXPECT_EQ(backup[1].status, 4);
  EXPECT_EQ(backup[1].data, NvRecord{}.data);
  EXPECT_EQ(backup[2].status, 0);
  EXPECT_EQ(backup[2].data, stick->State().nvItems.at(23));
}

// A process killed at any moment of writing the backup leaves the earlier backup readable and
// complete: whatever the moment, the file holds the old table or the new one, never a part.
TEST_F(NvTest, BackupSurvivesAKillAtAnyMoment) {
  NvTable older = BuildNvItemList();
  NvTable newer = BuildNvItemList();
  for (size_t slot = 0; slot < kNvListedItemCount; ++slot)
    newer[slot].data.fill(0x5A);
  const std::vector<uint8_t> olderBytes = EncodeNvTable(older);
  const std::vector<uint8_t> newerBytes = EncodeNvTable(newer);
  ASSERT_TRUE(WriteNvBackupFile(view.Handle(0), path, older));

  // The kills fall anywhere in a few writes' time, however fast this build writes.
  const auto before = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(WriteNvBackupFile(view.Handle(0), path, older));
  const auto writeMicros =
      std::max<long long>(200, std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now() - before)
                                       .count() /
                                   5);
  std::mt19937 random(20261209);
  int newerSeen = 0;
  for (int round = 0; round < 150; ++round) {
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      for (;;) {
        WriteNvBackupFile(view.Handle(0), path, newer);
        WriteNvBackupFile(view.Handle(0), path, older);
      }
    }
    // A forked child of an instrumented build starts slowly: the first kills come late enough
    // for it to write at all.
    usleep(static_cast<useconds_t>(
        std::uniform_int_distribution<long long>(writeMicros, 8 * writeMicros)(random)));
    kill(writer, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    const std::vector<uint8_t> bytes = testing::ReadFileBytes(path);
    ASSERT_TRUE(bytes == olderBytes || bytes == newerBytes)
        << "round " << round << ", " << bytes.size() << " bytes";
    newerSeen += bytes == newerBytes ? 1 : 0;
    NvTable table;
    EXPECT_TRUE(ReadNvBackupFile(view.Handle(0), path, table));
  }
  // The kills fell in both halves of the writer's loop.
  EXPECT_GT(newerSeen, 0);
  EXPECT_LT(newerSeen, 150);
}

TEST_F(NvTest, FilesOfTheWrongLengthAreRefused) {
  for (size_t length : {size_t{152999}, size_t{153001}, size_t{0}}) {
    std::ofstream(path, std::ios::binary) << std::string(length, '\0');
    NvTable table;
    EXPECT_FALSE(ReadNvBackupFile(view.Handle(0), path, table)) << length;
  }
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>(3, "NVM file for backup NV doesn't exist or destroyed"));
  EXPECT_NE(view.Line(0).statusLog.find("NVM file for backup NV doesn't exist or destroyed"),
            std::string::npos);
  NvTable table;
  EXPECT_FALSE(ReadNvBackupFile(view.Handle(0), path + ".missing", table));
  EXPECT_EQ(form.Boxes().size(), 3u);  // a missing file is the caller's to report
  EXPECT_FALSE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 0u);
}

TEST_F(NvTest, FileItemsAreRestoredUpToTheEndMarker) {
  WriteFileWith({7, 9, kNvEndMarker});  // the zero slots after it are never written
  ASSERT_TRUE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 2u);
  EXPECT_EQ(stick->State().nvItems.at(7)[0], 22);
}

TEST_F(NvTest, SlotsBackedUpWithAFailureAreSkipped) {
  NvTable table(kNvSlotCount);
  table[0].itemId = 7;
  table[0].status = 0xFFFF;
  table[1].itemId = 9;
  table[2].itemId = kNvEndMarker;
  WriteFile(table);
  ASSERT_TRUE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 1u);
  EXPECT_EQ(stick->State().nvItems.count(7), 0u);
}

TEST_F(NvTest, RadioOnlyModeLeavesImeiAnd4051Alone) {
  WriteFileWith({550, 4051, 22, kNvEndMarker});
  doc.nvMode = 1;
  ASSERT_TRUE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 1u);
  EXPECT_NE(stick->State().nvItems.at(550)[0], static_cast<uint8_t>(550 * 3 + 1));
  doc.nvMode = 2;
  ASSERT_TRUE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 4u);
  EXPECT_EQ(stick->State().nvItems.at(550)[0], static_cast<uint8_t>(550 * 3 + 1));
  EXPECT_EQ(stick->State().nvItems.at(4051)[0], static_cast<uint8_t>(4051 * 3 + 1));
}

TEST_F(NvTest, FirstWriteInactiveOrReadOnlyCountsAsRestored) {
  WriteFileWith({22, 23, kNvEndMarker});
  ASSERT_TRUE(AddFault("nvrefuse:22:1:5"));
  ASSERT_TRUE(AddFault("nvrefuse:23:1:7"));
  ASSERT_TRUE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 2u);
}

TEST_F(NvTest, LaterInactiveAnswerIsAFailureAndFourFailuresStopTheRestore) {
  WriteFileWith({22, 23, kNvEndMarker});
  ASSERT_TRUE(AddFault("nvrefuse:22:1:4"));
  ASSERT_TRUE(AddFault("nvrefuse:22:3:5"));
  EXPECT_FALSE(RestoreNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 4u);  // item 23 never written
  EXPECT_EQ(stick->State().lastModeChange, 1);        // left offline
  EXPECT_NE(view.Line(0).link.reason.find("NVItem"), std::string::npos) << view.Line(0).link.reason;
}

// Files this process writes can grow to `bytes` at most while it lives: a full disk.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previousSignal_ = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a killed process
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousSignal_);
  }

 private:
  rlimit previous_{};
  void (*previousSignal_)(int) = nullptr;
};

TEST_F(NvTest, FailedWriteOfTheBackupLeavesTheEarlierOneReadable) {
  ASSERT_TRUE(BackupNv(view.Handle(0), path));
  const NvTable earlier = ReadFile();
  // The disk fills up while the new backup is written.
  ASSERT_TRUE(AddFault("nvrefuse:22:3"));
  {
    ScopedFileSizeLimit full(4096);
    EXPECT_FALSE(BackupNv(view.Handle(0), path));
  }
  EXPECT_EQ(form.Text(control::kStatus[0]), "线路 1 失败,保存数据到 " + path + " (13)");
  const NvTable after = ReadFile();
  EXPECT_EQ(after[1].status, earlier[1].status);
  EXPECT_EQ(after[1].data, earlier[1].data);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path + ".tmp")));

  // A run killed while writing leaves its staging file behind; the next backup replaces it.
  std::ofstream(path + ".tmp", std::ios::binary) << "partial";
  EXPECT_EQ(ReadFile()[1].data, earlier[1].data);
  ASSERT_TRUE(BackupNv(view.Handle(0), path));
  EXPECT_EQ(ReadFile()[1].status, 0);
  EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST_F(NvTest, LinkPlantedAtTheStagingNameIsNotWrittenThrough) {
  const std::string victim = root.Path() + "/victim.txt";
  std::ofstream(victim) << "keep me";
  fs::create_symlink(victim, path + ".tmp");
  ASSERT_TRUE(BackupNv(view.Handle(0), path));
  EXPECT_EQ(testing::ReadFileText(victim), "keep me");
  EXPECT_EQ(ReadFile()[1].status, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path + ".tmp")));
}

TEST_F(NvTest, DirectoryCheck) {
  EXPECT_TRUE(NvDirectoryExists(view, "C:\\"));
  EXPECT_TRUE(NvDirectoryExists(view, root.Path() + "\\"));
  EXPECT_FALSE(NvDirectoryExists(view, root.Path() + "/missing\\"));
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{"Cannot create directory:" + root.Path() + "/missing\\"});
  EXPECT_FALSE(fs::exists(root.Path() + "/missing"));
}

TEST_F(NvTest, StandAloneOperationsReportInTheirTexts) {
  doc.SetNvDirectory(root.Path());
  EXPECT_EQ(view.Line(0).nvFilePath, root.Path() + "\\Channel1.nvm");
  EXPECT_EQ(view.Line(7).nvFilePath, root.Path() + "\\Channel8.nvm");
  EXPECT_EQ(BackupNvThread(view.Handle(0)), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "备份NV区成功");
  EXPECT_EQ(view.Line(0).state, kLinePass);
  EXPECT_EQ(view.Line(0).progress, 100);
  EXPECT_NE(view.Line(0).statusLog.find("NV区备份目录建立成功"), std::string::npos);

  Reconnect();
  doc.nvMode = 0;
  EXPECT_EQ(RestoreNvThread(view.Handle(0)), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "恢复NV区成功");
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 0u);

  Reconnect();
  doc.nvMode = 3;
  doc.defaultNvFile = root.Path() + "/none.nvm";
  EXPECT_EQ(RestoreNvThread(view.Handle(0)), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "装载缺省NV区失败");
  EXPECT_EQ(view.Line(0).state, kLineFail);

  doc.SetNvDirectory(root.Path() + "/gone");
  Reconnect();
  EXPECT_EQ(BackupNvThread(view.Handle(0)), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "不能建立NV区目录，请检查备份路径设置是否正确!");
  EXPECT_EQ(view.Line(0).state, kLineFail);
}

TEST(NvPaths, DefaultsFromTheProgramAndTheDialogChoices) {
  CVarnelDoc doc;
  RecordingForm form;
  CVarnelView view(form, doc, false, "/tmp");
  const std::string home = doc.lines[0].nvDirectory;
  EXPECT_EQ(home.back(), '/');
  EXPECT_EQ(doc.lines[2].nvFilePath, home + "\\Channel3.nvm");
  view.ChooseNvDirectory(std::nullopt);
  EXPECT_EQ(doc.lines[0].nvDirectory, home);
  EXPECT_EQ(form.Text(control::kNvDirectoryEdit), home);
  view.ChooseNvDirectory("D:\\nv");
  EXPECT_EQ(doc.lines[5].nvFilePath, "D:\\nv\\Channel6.nvm");
  EXPECT_EQ(form.Text(control::kNvDirectoryEdit), "D:\\nv");
  view.ChooseDefaultNvFile("D:\\nv\\x.nvm");
  EXPECT_EQ(doc.defaultNvFile, "D:\\nv\\x.nvm");
  EXPECT_EQ(form.Text(control::kDefaultNvFileEdit), "D:\\nv\\x.nvm");
}

}  // namespace
}  // namespace orbek

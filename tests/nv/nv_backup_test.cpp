// The NV item list, the backup file and the backup and restore procedures against the simulated
// stick, in-process on the manual clock.
#include "nv/nv_backup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "line/control_ids.h"
#include "nv/nv_backup_store.h"
#include "platform/files.h"
#include "platform/text_format.h"
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
    line.diagPort = stick->Ports()[0].com;
    ASSERT_TRUE(ReopenPort(line, LinePort::Diagnostic));
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
  EXPECT_EQ(form.Text(control::kStatus[0]), "Line 1 failed to save the data to " + path + " (13)");
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

// The stand-alone operations speak the system's language in the product's faces and Chinese in
// the factory face, as its other texts do.
TEST_F(NvTest, StandAloneOperationsReportInTheirTexts) {
  struct Face {
    const char* name;
    bool severalLines;
    bool german;
    const char* backedUp;
    const char* folderThere;
    const char* restored;
    const char* defaultFileFailed;
    const char* noFolder;
  };
  const Face faces[] = {
      {"factory", true, false, "备份NV区成功", "NV区备份目录建立成功", "恢复NV区成功",
       "装载缺省NV区失败", "不能建立NV区目录，请检查备份路径设置是否正确!"},
      {"English", false, false, "The NV was backed up.", "The NV backup folder is there.",
       "The NV was restored.", "Loading the default NV file failed.",
       "The NV folder cannot be made: please check the backup path."},
      {"German", false, true, "Der NV-Speicher wurde gesichert.",
       "Der NV-Sicherungsordner ist vorhanden.", "Der NV-Speicher wurde zurückgespielt.",
       "Das Laden der Standard-NV-Datei ist fehlgeschlagen.",
       "Der NV-Ordner kann nicht angelegt werden: bitte den Sicherungspfad prüfen."},
  };
  for (const Face& face : faces) {
    SCOPED_TRACE(face.name);
    view.Line(0).link.port.Close();
    PlugIn();  // a stick of its own: the restore before resets the stick it had
    doc.severalLines = face.severalLines;
    CVarnelView faceView(form, doc, face.german, root.Path());
    doc.nvBackupsDirectory = root.Path() + "/kept-" + face.name;
    doc.SetNvDirectory(root.Path());
    EXPECT_EQ(faceView.Line(0).nvFilePath, root.Path() + "\\Channel1.nvm");
    EXPECT_EQ(faceView.Line(7).nvFilePath, root.Path() + "\\Channel8.nvm");
    Reconnect();
    EXPECT_EQ(BackupNvThread(faceView.Handle(0)), 0);
    EXPECT_EQ(form.Text(control::kStatus[0]), face.backedUp);
    EXPECT_EQ(faceView.Line(0).state, kLinePass);
    EXPECT_EQ(faceView.Line(0).progress, 100);
    EXPECT_NE(faceView.Line(0).statusLog.find(face.folderThere), std::string::npos);

    Reconnect();
    doc.nvMode = 0;
    EXPECT_EQ(RestoreNvThread(faceView.Handle(0)), 0);
    EXPECT_EQ(form.Text(control::kStatus[0]), face.restored);

    Reconnect();
    doc.nvMode = 3;
    doc.defaultNvFile = root.Path() + "/none.nvm";
    EXPECT_EQ(RestoreNvThread(faceView.Handle(0)), 0);
    EXPECT_EQ(form.Text(control::kStatus[0]), face.defaultFileFailed);
    EXPECT_EQ(faceView.Line(0).state, kLineFail);

    doc.SetNvDirectory(root.Path() + "/gone");
    Reconnect();
    EXPECT_EQ(BackupNvThread(faceView.Handle(0)), 0);
    EXPECT_EQ(form.Text(control::kStatus[0]), face.noFolder);
    EXPECT_EQ(faceView.Line(0).state, kLineFail);
  }
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 0u);
}

// What a restore takes: only a backup file as this program writes them. Each refused file gets
// the damaged-file text with its reason, and nothing reaches the stick.
struct RefusedFile {
  const char* name;
  void (*spoil)(std::vector<uint8_t>& bytes);  // applied to a good file
  const char* reason;
};

const RefusedFile kRefusedFiles[] = {
    {"random bytes",
     [](std::vector<uint8_t>& bytes) {
       std::mt19937 random(7);
       for (uint8_t& byte : bytes)
         byte = static_cast<uint8_t>(random());
     },
     "padding that is not zero"},
    {"padding after the item number", [](std::vector<uint8_t>& bytes) { bytes[136 + 2] = 1; },
     "slot 1 has padding that is not zero"},
    {"padding after the status", [](std::vector<uint8_t>& bytes) { bytes[136 * 5 + 135] = 1; },
     "slot 5 has padding that is not zero"},
    {"unknown status",
     [](std::vector<uint8_t>& bytes) {
       bytes[136 * 3 + 132] = 11;  // 0x000B: no status the stick gives
     },
     "slot 3 (item 90) has the unknown status 0x000B"},
    {"item above the end marker",
     [](std::vector<uint8_t>& bytes) {
       bytes[136 * 2] = 0x11;  // 10001
       bytes[136 * 2 + 1] = 0x27;
     },
     "slot 2 holds item 10001, above the end marker"},
    {"slot after the end marker not empty",
     [](std::vector<uint8_t>& bytes) { bytes[136 * 700 + 9] = 1; },
     "slot 700 after the end marker is not empty"},
};

TEST_F(NvTest, OnlyWellFormedBackupsAreRestored) {
  const std::vector<uint8_t> good = EncodeNvTable(BuildNvItemList());
  EXPECT_FALSE(NvBackupFault(good.data(), good.size()));
  for (const RefusedFile& refused : kRefusedFiles) {
    SCOPED_TRACE(refused.name);
    std::vector<uint8_t> bytes = good;
    refused.spoil(bytes);
    const std::optional<std::string> fault = NvBackupFault(bytes.data(), bytes.size());
    ASSERT_TRUE(fault);
    EXPECT_NE(fault->find(refused.reason), std::string::npos) << *fault;
    std::ofstream(platform::NativePath(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    EXPECT_FALSE(RestoreNv(view.Handle(0), path));
    EXPECT_NE(view.Line(0).statusLog.find(path + " is not an NV backup: " + *fault),
              std::string::npos);
  }
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 0u);
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>(std::size(kRefusedFiles),
                                     "NVM file for backup NV doesn't exist or destroyed"));
}

TEST_F(NvTest, FifoAndDirectoryAreNoBackupFilesAndNeverBlock) {
  const std::string fifo = root.Path() + "/fifo.nvm";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  NvTable table;
  EXPECT_FALSE(ReadNvBackupFile(view.Handle(0), fifo, table));  // returns: no writer needed
  EXPECT_FALSE(ReadNvBackupFile(view.Handle(0), root.Path(), table));
  // Nor is a backup written through them: the FIFO and the directory stay what they were.
  ASSERT_TRUE(AddFault("nvrefuse:22:3"));
  EXPECT_FALSE(WriteNvBackupFile(view.Handle(0), fifo, BuildNvItemList()));
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_FALSE(platform::TouchFile(fifo));
  EXPECT_FALSE(platform::TouchFile(root.Path()));
}

// A file a person chose is compared with the stick's own items 0 and 550: another stick's, or one
// that tells no stick, is asked about first, with No as the default, and written only on Yes.
TEST_F(NvTest, AFileOfAnotherStickIsWrittenOnlyWhenThePersonSaysSo) {
  ASSERT_TRUE(BackupNv(view.Handle(0), path));
  const NvTable own = ReadFile();
  ASSERT_EQ(own[0].itemId, 0);
  const size_t imeiSlot = kNvListedItemCount - 1;
  ASSERT_EQ(own[imeiSlot].itemId, 550);
  struct Case {
    const char* name;
    std::function<void(NvTable&)> change;
    const char* question;  // "" when none is asked
  };
  const Case cases[] = {
      {"its own", [](NvTable&) {}, ""},
      {"item 0 zero, the same IMEI", [](NvTable& t) { t[0].data.fill(0); }, ""},
      {"another item 0", [](NvTable& t) { t[0].data[0] ^= 0xFF; },
       "belongs to another stick (ESN 80A1B23C, IMEI 357123456789012); this stick holds ESN "
       "80A1B2C3, IMEI 357123456789012."},
      {"another IMEI, item 0 refused at its backup",
       [&](NvTable& t) {
         t[0].status = 4;
         t[imeiSlot].data[8] = 0x31;
       },
       "belongs to another stick (ESN -, IMEI 357123456789013); this stick holds ESN 80A1B2C3, "
       "IMEI 357123456789012."},
      {"no identity at all",
       [&](NvTable& t) {
         t[0].status = 4;
         t[imeiSlot].data.fill(0);
       },
       "does not tell which stick it belongs to (it holds no ESN and no IMEI); this stick holds "
       "ESN 80A1B2C3, IMEI 357123456789012."},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    NvTable file = own;
    row.change(file);
    WriteFile(file);
    const size_t boxesBefore = form.Boxes().size();
    const bool asked = row.question[0] != 0;
    EXPECT_EQ(NvFileFitsStick(view.Handle(0), path), !asked);  // a box is answered OK: not Yes
    ASSERT_EQ(form.Boxes().size(), boxesBefore + (asked ? 1 : 0));
    if (!asked)
      continue;
    EXPECT_EQ(form.Boxes().back().style, box::kYesNo | box::kIconExclamation | box::kDefaultNo);
    EXPECT_NE(form.Boxes().back().text.find(row.question), std::string::npos)
        << form.Boxes().back().text;
    form.AnswerNextBox(box::kAnswerYes);
    EXPECT_TRUE(NvFileFitsStick(view.Handle(0), path));
  }

  // The stand-alone restore asks the same and writes nothing on No.
  Reconnect();
  doc.SetNvDirectory(root.Path());
  ASSERT_EQ(platform::NativePath(view.Line(0).nvFilePath), path);
  form.AnswerNextBox(box::kAnswerNo);
  EXPECT_EQ(RestoreNvThread(view.Handle(0)), 0);
  EXPECT_EQ(form.Text(control::kStatus[0]), "Restoring the NV failed.");
  EXPECT_EQ(view.Line(0).state, kLineFail);
  EXPECT_EQ(Requests("firmware", kNvWriteCode), 0u);
}

// A backup whose reads the stick did not all answer is no backup: the earlier file stays.
TEST_F(NvTest, BackupWithUnansweredItemsFailsAndLeavesTheEarlierFile) {
  ASSERT_TRUE(BackupNv(view.Handle(0), path));
  const std::vector<uint8_t> earlier = testing::ReadFileBytes(path);
  // One item unanswered by three reads of three attempts each is asked again on a link opened
  // again: a hiccup costs nothing.
  ASSERT_TRUE(AddFault("noreply:0x26:9"));
  EXPECT_TRUE(BackupNv(view.Handle(0), path));
  const std::vector<uint8_t> whole = testing::ReadFileBytes(path);
  EXPECT_EQ(whole, earlier);  // the same stick, the same items
  // Still silent after that: the backup fails there, and the items after it are not asked.
  ASSERT_TRUE(AddFault("noreply:0x26:18"));
  const uint32_t readsBefore = Requests("firmware", kNvReadCode);
  EXPECT_FALSE(BackupNv(view.Handle(0), path));
  EXPECT_EQ(Requests("firmware", kNvReadCode) - readsBefore, 18u);
  EXPECT_EQ(testing::ReadFileBytes(path), earlier);
  EXPECT_EQ(form.Text(control::kStatus[0]),
            "The NV backup is incomplete: the stick stopped answering at item 0. Nothing was "
            "saved over " +
                path + ".");
  // Items the stick answers with its own status are fine.
  ASSERT_TRUE(AddFault("nvrefuse:22:3"));
  EXPECT_TRUE(BackupNv(view.Handle(0), path));
  EXPECT_EQ(ReadFile()[1].status, 4);
}

// The stand-alone backup keeps every backup per stick, and refuses to back up over one that was
// taken before an update and never restored.
TEST_F(NvTest, StandAloneBackupIsKeptAndNeverTakenOverAPendingOne) {
  doc.SetNvDirectory(root.Path());
  const StickIdentity stick{0x80A1B2C3, "357123456789012", ""};
  const std::string folder = "80A1B2C3-357123456789012";
  const NvBackupStore store(doc.nvBackupsDirectory);
  EXPECT_EQ(BackupNvThread(view.Handle(0)), 0);
  EXPECT_EQ(view.Line(0).state, kLinePass);
  std::vector<KeptBackup> kept = store.List(folder);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].state, KeptBackupState::Kept);
  EXPECT_EQ(testing::ReadFileBytes(kept[0].path),
            testing::ReadFileBytes(platform::NativePath(view.Line(0).nvFilePath)));

  std::string reason;
  const std::optional<KeptBackup> pending =
      store.Keep(stick, ReadFile(), {2030, 1, 1, 0, 0, 0}, KeptBackupState::Pending, reason);
  ASSERT_TRUE(pending) << reason;
  Reconnect();
  const uint32_t readsBefore = Requests("firmware", kNvReadCode);
  EXPECT_EQ(BackupNvThread(view.Handle(0)), 0);
  EXPECT_EQ(view.Line(0).state, kLineFail);
  EXPECT_NE(form.Text(control::kStatus[0])
                .find("The last backup of this stick, " + pending->path + ", was never restored"),
            std::string::npos);
  EXPECT_EQ(Requests("firmware", kNvReadCode), readsBefore + 1);  // item 550, the IMEI alone
  EXPECT_EQ(store.List(folder).size(), 2u);

  // Restoring that very file settles it.
  Reconnect();
  doc.nvMode = 2;
  view.Line(0).nvFilePath = pending->path;
  EXPECT_EQ(RestoreNvThread(view.Handle(0)), 0);
  EXPECT_EQ(view.Line(0).state, kLinePass);
  EXPECT_TRUE(store.WaitingFor(stick).empty());
  EXPECT_EQ(store.List(folder)[0].state, KeptBackupState::Restored);
}

TEST(NvBackupStore, NamesStatesAndUntrustedRecords) {
  testing::RegistryRoot root;
  const NvBackupStore store(root.Path() + "/nv-backups");
  EXPECT_TRUE(store.Folders().empty());
  EXPECT_TRUE(store.Writable());
  const NvTable table = BuildNvItemList();
  std::string reason;
  const LocalTime noon{2026, 12, 9, 12, 0, 5};
  const StickIdentity cdma{0x1234ABCD, "", "1-1"};
  const StickIdentity umts{std::nullopt, "357123456789012", "1-2"};
  const auto first = store.Keep(cdma, table, noon, KeptBackupState::Restored, reason);
  const auto second = store.Keep(cdma, table, noon, KeptBackupState::Pending, reason);
  const auto other = store.Keep(umts, table, noon, KeptBackupState::Kept, reason);
  ASSERT_TRUE(first && second && other) << reason;
  EXPECT_FALSE(store.Keep(StickIdentity{std::nullopt, "", "1-3"}, table, noon,
                          KeptBackupState::Kept, reason));  // nothing to keep it by
  EXPECT_EQ(first->name, "20261209-120005.nvm");
  EXPECT_EQ(second->name, "20261209-120005-2.nvm");  // the same second: never over the first
  EXPECT_EQ(first->path, root.Path() + "/nv-backups/1234ABCD/20261209-120005.nvm");
  EXPECT_EQ(store.Folders(), (std::vector<std::string>{"1234ABCD", "357123456789012"}));
  std::vector<KeptBackup> list = store.List("1234ABCD");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, second->name);  // newest first
  EXPECT_EQ(list[0].state, KeptBackupState::Pending);
  EXPECT_EQ(list[0].stick.socket, "1-1");
  EXPECT_EQ(list[0].TimeText(), "2026-12-09 12:00:05");
  EXPECT_EQ(store.WaitingFor(cdma).at(0).name, second->name);
  EXPECT_TRUE(store.MarkRestored(list[0]));
  EXPECT_TRUE(store.WaitingFor(cdma).empty());
  EXPECT_EQ(testing::ReadFileBytes(first->path), EncodeNvTable(table));

  // An earlier version's states file is read where a backup has no record of its own; names
  // that are not the store's own never become paths, and a backup nothing names is kept.
  const std::string folder = root.Path() + "/nv-backups/1234ABCD";
  std::ofstream(folder + "/states.txt")
      << "../../etc/passwd pending\n20261209-120005.nvm bogus\n20200101-000000.nvm pending\n";
  std::ofstream(folder + "/20200101-000000.nvm") << "x";
  std::ofstream(folder + "/20190101-000000.nvm") << "x";
  list = store.List("1234ABCD");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].state, KeptBackupState::Restored);  // its record wins
  EXPECT_EQ(list[2].name, "20200101-000000.nvm");
  EXPECT_EQ(list[2].state, KeptBackupState::Pending);
  EXPECT_EQ(list[3].state, KeptBackupState::Kept);
  EXPECT_EQ(store.WaitingFor(cdma).at(0).name, "20200101-000000.nvm");
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
  // What the person reads of a line's file: the system's own path.
  EXPECT_EQ(platform::DisplayPath(home + "\\Channel3.nvm"), home + "Channel3.nvm");
}

}  // namespace
}  // namespace orbek

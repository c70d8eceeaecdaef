// Several sticks updated at once, each on the line of its USB socket, against simulated sticks
// in-process: each line finds its own stick, writes its own NV file and ends on its own.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "platform/files.h"
#include "tests/support/case_names.h"
#include "tests/support/simulated_stick_test.h"
#include "tests/support/update_workflow.h"

namespace orbek::testing {
namespace {

constexpr int kSticks = 3;

class SeveralLines : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<sim::Stick*> plugged;
    for (int i = 0; i < kSticks; ++i) {
      configs.push_back(sim::ConfigOfStick(sim::DefaultStickConfig(), i, kSticks));
      sticks.push_back(std::make_unique<sim::Stick>(configs.back()));
      plugged.push_back(sticks.back().get());
    }
    clock.sticks = plugged;
    bus = std::make_unique<sim::InProcessBus>(plugged);
    for (int i = 0; i < kSticks; ++i) {
      sticks[i]->AddListener(&registry.StickListener(i));
      sticks[i]->Start();
      nvBefore.push_back(sticks[i]->State().nvItems);
    }
    fs::create_directories(installDir);
    fs::create_directories(root.Path() + "/Logs");
    doc.severalLines = true;
    doc.SetNvDirectory(root.Path());
    doc.nvBackupsDirectory = root.Path() + "/kept";
    view = std::make_unique<CVarnelView>(form, doc, false, root.Path() + "/Logs");
    view->exitProgram = [this](int status) { exitStatus = status; };
    ExtractPackage(*view, connectionManager);
    for (LineSession& line : doc.lines)
      SetImagePaths(line);
  }

  void TearDown() override {
    for (LineSession& line : doc.lines) {
      line.link.port.Close();
      line.atPort.port.Close();
    }
    for (int i = 0; i < kSticks; ++i)
      sticks[i]->RemoveListener(&registry.StickListener(i));
    clock.sticks.clear();
  }

  // What each line's search leaves when its stick is ready: the stick bound to the line by its
  // socket, its ports found there and open.
  bool FindEachStickAsTheSearchDoes() {
    for (int index = 0; index < kSticks; ++index) {
      LineSession& line = doc.lines[static_cast<size_t>(index)];
      bool ready = false;
      for (int round = 0; round < 30 && !ready; ++round) {
        PortScanner scanner;
        ready = FindLinePorts(view->Handle(index), scanner) &&
                ReopenPort(line, LinePort::Diagnostic) && ProbeStick(line) &&
                ReopenPort(line, LinePort::Modem);
        if (!ready)
          clock.SleepMs(1000);
      }
      if (!ready)
        return false;
    }
    return true;
  }

  // The stick whose diagnostic port each line found, by line; ASSERT that each line has one of
  // its own.
  void NoteWhichStickEachLineHolds() {
    std::set<int> held;
    for (int line = 0; line < kSticks; ++line) {
      for (int i = 0; i < kSticks; ++i) {
        if (sticks[i]->PortByCom(doc.lines[static_cast<size_t>(line)].diagPort))
          stickOf[line] = i;
      }
      held.insert(stickOf[line]);
    }
    ASSERT_EQ(held, (std::set<int>{0, 1, 2}));
  }

  // Every line's update at once, each on a worker of its own, as start-all launches them.
  void UpdateAllLines() {
    std::vector<std::thread> workers;
    for (int line = 0; line < kSticks; ++line) {
      LineSession& session = doc.lines[static_cast<size_t>(line)];
      doc.selectedBoardTag = VersionSlot(session.versionRecord, 8);
      session.busy = 1;
      view->SetLineState(line, kLineRunning);
      workers.emplace_back([this, line] { UpdateWorker(view->Handle(line), connectionManager); });
    }
    for (std::thread& worker : workers)
      worker.join();
  }

  // The ESN in item 0 of a backup file.
  static uint32_t EsnInBackup(const std::string& path) {
    const Bytes bytes = ReadAll(path);
    if (bytes.size() < 8)
      return 0;
    return static_cast<uint32_t>(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24);
  }

  RegistryRoot root;
  fs::path installDir =
      fs::path(root.Path()) / "drive_c/Program Files/Windows Service/Tazlonewversion";
  StickClock clock;
  sim::RegistryPublisher registry{root.Path(), {}};
  std::vector<sim::StickConfig> configs;
  std::vector<std::unique_ptr<sim::Stick>> sticks;
  std::vector<std::map<uint16_t, sim::NvData>> nvBefore;
  std::unique_ptr<sim::InProcessBus> bus;
  RecordingForm form;
  CVarnelDoc doc;
  std::unique_ptr<CVarnelView> view;
  ConnectionManager connectionManager{kInstallDirectory};
  int exitStatus = -1;
  int stickOf[kSticks] = {-1, -1, -1};  // by line
};

TEST_F(SeveralLines, EachStickIsUpdatedOnItsOwnLineAndKeepsItsOwnNv) {
  ASSERT_TRUE(FindEachStickAsTheSearchDoes());
  ASSERT_NO_FATAL_FAILURE(NoteWhichStickEachLineHolds());
  UpdateAllLines();

  EXPECT_EQ(exitStatus, -1);  // the program goes on: each line ended on its own
  EXPECT_TRUE(form.Boxes().empty());
  for (int line = 0; line < kSticks; ++line) {
    SCOPED_TRACE("line " + std::to_string(line + 1));
    const LineSession& session = doc.lines[static_cast<size_t>(line)];
    const int stick = stickOf[line];
    EXPECT_EQ(form.Picture(control::kStatePicture[line]), control::kBitmapPass);
    EXPECT_EQ(form.Text(control::kStatus[line]), "The update was successful.") << session.statusLog;
    EXPECT_EQ(session.busy, 0);
    ExpectFlashHoldsThePackageOn(*sticks[stick]);
    EXPECT_EQ(ItemsLostBy(*sticks[stick], nvBefore[stick], configs[stick]), 0u);
    ExpectNoDeviations(sticks[stick]->State());
    // Its own backup file, Channel1.nvm to Channel3.nvm, holds its own stick's ESN.
    EXPECT_EQ(session.nvFilePath, root.Path() + "\\Channel" + std::to_string(line + 1) + ".nvm");
    EXPECT_EQ(EsnInBackup(platform::NativePath(session.nvFilePath)), configs[stick].esn);
  }
  // The first line to finish left the images to the others.
  EXPECT_TRUE(fs::exists(installDir / "amss.mbn"));
}

// What one line meets leaves every other line alone.
struct TroubleCase {
  const char* name;
  const char* fault;  // aimed at the second line's stick
  bool stopSecondLine;
  const char* secondLineStatus;
};

class OneLinesTrouble : public SeveralLines, public ::testing::WithParamInterface<TroubleCase> {};

const TroubleCase kTroubles[] = {
    {"a fault aimed at one stick", "error:0x1B:0x0D:1000000", false,
     "Download fail, please check the log file to get fail information!"},
    {"stop on one line", nullptr, true, "downloading is stopped by manual!"},
};

TEST_P(OneLinesTrouble, LeavesEveryOtherLineUntouched) {
  const TroubleCase& row = GetParam();
  ASSERT_TRUE(FindEachStickAsTheSearchDoes());
  ASSERT_NO_FATAL_FAILURE(NoteWhichStickEachLineHolds());
  if (row.fault != nullptr) {
    ASSERT_TRUE(AddFaultTo(*sticks[stickOf[1]], row.fault));
  }
  if (row.stopSecondLine) {
    // Stop pressed on the second line once its stick is in download mode.
    clock.onSleep = [this] {
      if (doc.lines[1].progress >= 21)
        doc.lines[1].busy = 0;
    };
  }
  UpdateAllLines();
  clock.onSleep = nullptr;

  EXPECT_EQ(form.Picture(control::kStatePicture[1]), control::kBitmapFail);
  EXPECT_NE(doc.lines[1].statusLog.find(row.secondLineStatus), std::string::npos)
      << doc.lines[1].statusLog;
  for (int line : {0, 2}) {
    SCOPED_TRACE("line " + std::to_string(line + 1));
    const int stick = stickOf[line];
    EXPECT_EQ(form.Picture(control::kStatePicture[line]), control::kBitmapPass);
    ExpectFlashHoldsThePackageOn(*sticks[stick]);
    EXPECT_EQ(ItemsLostBy(*sticks[stick], nvBefore[stick], configs[stick]), 0u);
  }
  // Every box the trouble raised names its line.
  for (const RecordingForm::Box& box : form.Boxes())
    EXPECT_EQ(box.text.rfind("Line2: ", 0), 0u) << box.text;
}

INSTANTIATE_TEST_SUITE_P(Lines, OneLinesTrouble, ::testing::ValuesIn(kTroubles),
                         CaseName<TroubleCase>);

}  // namespace
}  // namespace orbek::testing

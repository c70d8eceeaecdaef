// Several sticks updated at once, each on the line of its USB socket, against simulated sticks
// in-process: each line finds its own stick, writes its own NV file and its own record in the
// production log, ends on its own, and keeps its result until another stick is in its socket.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "platform/text_format.h"
#include "tests/support/case_names.h"
#include "tests/support/file_contents.h"
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
    // A fourth stick, not plugged in yet, to go into a socket whose stick is pulled out.
    spareConfig = sim::ConfigOfStick(sim::DefaultStickConfig(), kSticks, kSticks + 1);
    spareConfig.initialMode = sim::StickMode::Unplugged;
    spare = std::make_unique<sim::Stick>(spareConfig);
    spare->Start();
    clock.sticks = plugged;
    clock.sticks.push_back(spare.get());
    plugged.push_back(spare.get());
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
    view->factoryLogPath = root.Path() + "/factory-log.csv";
    ExtractPackage(*view, connectionManager);
    for (LineSession& line : doc.lines)
      SetImagePaths(line);
  }

  void TearDown() override {
    for (LineSession& line : doc.lines)
      line.searchThread.reset();
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
      view->NoteLineStarted(line);
      view->SetLineState(line, kLineRunning);
      workers.emplace_back([this, line] {
        workerOf[line] = std::this_thread::get_id();
        UpdateWorker(view->Handle(line), connectionManager);
      });
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

  // Waits, at most a minute of real time, until `done` holds.
  static bool Eventually(const std::function<bool()>& done) {
    for (int waited = 0; waited < 6000 && !done(); ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
  }

  // The production log's records (its header left out), each split at its commas.
  std::vector<std::vector<std::string>> LogRecords() const {
    std::vector<std::vector<std::string>> records;
    std::istringstream log(ReadFileText(root.Path() + "/factory-log.csv"));
    std::string line;
    std::getline(log, line);  // the header
    while (std::getline(log, line)) {
      std::vector<std::string> fields(1);
      bool quoted = false;
      for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"')
          fields.back() += line[++i];
        else if (c == '"')
          quoted = !quoted;
        else if (c == ',' && !quoted)
          fields.emplace_back();
        else
          fields.back() += c;
      }
      records.push_back(fields);
    }
    return records;
  }

  RegistryRoot root;
  fs::path installDir =
      fs::path(root.Path()) / "drive_c/Program Files/Windows Service/Tazlonewversion";
  StickClock clock;
  sim::RegistryPublisher registry{root.Path(), {}};
  std::vector<sim::StickConfig> configs;
  std::vector<std::unique_ptr<sim::Stick>> sticks;
  std::vector<std::map<uint16_t, sim::NvData>> nvBefore;
  sim::StickConfig spareConfig;
  std::unique_ptr<sim::Stick> spare;
  std::unique_ptr<sim::InProcessBus> bus;
  RecordingForm form;
  CVarnelDoc doc;
  std::unique_ptr<CVarnelView> view;
  ConnectionManager connectionManager{kInstallDirectory};
  int exitStatus = -1;
  int stickOf[kSticks] = {-1, -1, -1};  // by line
  std::atomic<std::thread::id> workerOf[kSticks];
};

TEST_F(SeveralLines, EachStickIsUpdatedOnItsOwnLineAndKeepsItsOwnNv) {
  ASSERT_TRUE(FindEachStickAsTheSearchDoes());
  ASSERT_NO_FATAL_FAILURE(NoteWhichStickEachLineHolds());
  // Each line's search, parked while its line is busy, as a launch parks it.
  for (int line = 0; line < kSticks; ++line) {
    StartSearchThread(view->Handle(line));
    ASSERT_TRUE(Eventually([&] { return !form.Text(control::kStatus[line]).empty(); }));
    platform::SuspendableThread& search = *doc.lines[static_cast<size_t>(line)].searchThread;
    search.Suspend();
    ASSERT_TRUE(Eventually([&] { return search.WaitUntilParked(1); }));
  }
  // Each line's socket, read while its search (which keeps it) is parked.
  std::string socketOf[kSticks];
  for (int line = 0; line < kSticks; ++line) {
    socketOf[line] = doc.lines[static_cast<size_t>(line)].socket;
    ASSERT_FALSE(socketOf[line].empty());
  }
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

  // One record per line in the production log, each of its own stick, in the order the lines
  // ended.
  const std::vector<std::vector<std::string>> records = LogRecords();
  ASSERT_EQ(records.size(), static_cast<size_t>(kSticks));
  std::set<std::string> lines;
  for (const std::vector<std::string>& record : records) {
    ASSERT_EQ(record.size(), 12u);
    const int line = std::stoi(record[2]) - 1;
    lines.insert(record[2]);
    const sim::StickConfig& config = configs[stickOf[line]];
    EXPECT_EQ(record[3], socketOf[line]);
    EXPECT_EQ(record[4], Format("%08X", config.esn));
    EXPECT_EQ(record[5], "35712345678" + std::to_string(9012 + stickOf[line]));
    EXPECT_EQ(record[8], "update");
    EXPECT_EQ(record[9], "pass");
    EXPECT_EQ(record[10], "");
    EXPECT_EQ(record[11].rfind(root.Path() + "/kept/", 0), 0u) << record[11];
  }
  EXPECT_EQ(lines, (std::set<std::string>{"1", "2", "3"}));

  // The sticks come back from their final reset: each row keeps its result, and its socket.
  ASSERT_TRUE(
      Eventually([&] { return view->LineReady(0) && view->LineReady(1) && view->LineReady(2); }));
  const auto expectPassed = [&](int line) {
    SCOPED_TRACE("line " + std::to_string(line + 1));
    EXPECT_EQ(form.Picture(control::kStatePicture[line]), control::kBitmapPass);
    EXPECT_EQ(form.ProgressPosition(control::kProgressBar[line]), 100);
    EXPECT_EQ(form.Text(control::kStatus[line]), "The update was successful.");
    EXPECT_NE(form.Text(control::kPort[line]).find("  " + socketOf[line]), std::string::npos);
  };
  for (int line = 0; line < kSticks; ++line)
    expectPassed(line);

  // Another stick in the second line's socket clears that row alone.
  sim::PortListener& socket = registry.StickListener(stickOf[1]);
  {
    sim::Stick& pulled = *sticks[stickOf[1]];
    std::lock_guard<std::recursive_mutex> hold(pulled.Mutex());
    pulled.Reenumerate(sim::StickMode::Unplugged, std::nullopt, /*forever=*/true,
                       /*immediately=*/true);
    pulled.RemoveListener(&socket);
  }
  {
    std::lock_guard<std::recursive_mutex> hold(spare->Mutex());
    spare->AddListener(&socket);
    spare->SetMode(sim::StickMode::Firmware);
  }
  EXPECT_TRUE(Eventually([&] {
    return form.Picture(control::kStatePicture[1]) == control::kBitmapReady &&
           form.Text(control::kStatus[1]) == "Ready to start update.";
  })) << form.Text(control::kStatus[1]);
  EXPECT_EQ(form.ProgressPosition(control::kProgressBar[1]), 0);
  expectPassed(0);
  expectPassed(2);
  doc.lines[1].searchThread.reset();
  std::lock_guard<std::recursive_mutex> hold(spare->Mutex());
  spare->RemoveListener(&socket);
}

// A stick pulled out during its update and plugged into another socket is not taken by its line
// (another line binds it there); its line waits, asks for it back once, naming itself, and goes
// on when it is plugged into its own socket again.
TEST_F(SeveralLines, AStickMovedToAnotherSocketIsWaitedForUntilItIsBack) {
  ASSERT_TRUE(FindEachStickAsTheSearchDoes());
  ASSERT_NO_FATAL_FAILURE(NoteWhichStickEachLineHolds());
  sim::Stick& moved = *sticks[stickOf[1]];
  sim::PortListener& ownSocket = registry.StickListener(stickOf[1]);
  sim::PortListener& otherSocket = registry.StickListener(5);
  const std::string reinsert =
      "Line2: Please reinsert the Stick, then press \"OK\" to finish the update.";
  // Moves the stick, pulled out, to the socket of `to` and plugs it in there (when `plugIn`).
  const auto moveTo = [&](sim::PortListener& from, sim::PortListener& to, bool plugIn) {
    std::lock_guard<std::recursive_mutex> hold(moved.Mutex());
    moved.Reenumerate(sim::StickMode::Unplugged, std::nullopt, /*forever=*/true,
                      /*immediately=*/true);
    moved.RemoveListener(&from);
    moved.AddListener(&to);
    if (plugIn)
      moved.SetMode(sim::StickMode::Firmware);
  };
  std::mutex steps;
  int step = 0;
  static thread_local uint32_t lastSleepMs = 0;
  clock.onSleepMs = [](uint32_t ms) { lastSleepMs = ms; };
  clock.onSleep = [&] {
    std::lock_guard<std::mutex> hold(steps);
    // The line's 10 s wait after "AT+YRST": the stick is back, and is moved to another socket
    // before its line looks for it.
    if (step == 0 && std::this_thread::get_id() == workerOf[1].load() && lastSleepMs == 10000) {
      moveTo(ownSocket, otherSocket, /*plugIn=*/true);
      step = 1;
    }
    // Once its line asked for it, it goes back where it was.
    if (step == 1) {
      for (const RecordingForm::Box& box : form.Boxes()) {
        if (box.text == reinsert) {
          moveTo(otherSocket, ownSocket, /*plugIn=*/true);
          step = 2;
          break;
        }
      }
    }
  };
  UpdateAllLines();
  clock.onSleep = nullptr;
  clock.onSleepMs = nullptr;

  EXPECT_EQ(step, 2);
  for (int line = 0; line < kSticks; ++line) {
    SCOPED_TRACE("line " + std::to_string(line + 1));
    const int stick = stickOf[line];
    EXPECT_EQ(form.Picture(control::kStatePicture[line]), control::kBitmapPass)
        << doc.lines[static_cast<size_t>(line)].statusLog;
    ExpectFlashHoldsThePackageOn(*sticks[stick]);
    EXPECT_EQ(ItemsLostBy(*sticks[stick], nvBefore[stick], configs[stick]), 0u);
  }
  std::vector<std::string> texts;
  for (const RecordingForm::Box& box : form.Boxes())
    texts.push_back(box.text);
  EXPECT_EQ(texts, std::vector<std::string>{reinsert});
  std::lock_guard<std::recursive_mutex> hold(moved.Mutex());
  moved.RemoveListener(&ownSocket);  // TearDown removes it once more: harmless
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
    // Stop pressed on the second line while its images are written (its own worker looks at
    // its progress).
    clock.onSleep = [this] {
      if (std::this_thread::get_id() == workerOf[1].load() && doc.lines[1].progress >= 30)
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
  // The production log has each line's end, the second line's with the text its row shows.
  std::map<std::string, std::vector<std::string>> recordOfLine;
  for (const std::vector<std::string>& record : LogRecords())
    recordOfLine[record[2]] = record;
  ASSERT_EQ(recordOfLine.size(), 3u);
  EXPECT_EQ(recordOfLine["1"][9], "pass");
  EXPECT_EQ(recordOfLine["2"][9], "fail");
  EXPECT_EQ(recordOfLine["2"][10], form.Text(control::kStatus[1]));
  // Every box the trouble raised names its line.
  for (const RecordingForm::Box& box : form.Boxes())
    EXPECT_EQ(box.text.rfind("Line2: ", 0), 0u) << box.text;
}

INSTANTIATE_TEST_SUITE_P(Lines, OneLinesTrouble, ::testing::ValuesIn(kTroubles),
                         CaseName<TroubleCase>);

}  // namespace
}  // namespace orbek::testing

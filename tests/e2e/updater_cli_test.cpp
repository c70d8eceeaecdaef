// The updater program for terminals, orbek-updater-cli, against the real orbek-stick-sim, both
// on a private machine root and a fast clock.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "nv/nv_item_list.h"
#include "sim/sha256.h"
#include "sim/stick_config.h"
#include "sim/stick_json.h"
#include "tests/support/file_contents.h"
#include "tests/support/program_process.h"
#include "tests/support/registry_root.h"
#include "tests/support/simulator_process.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kScale = 20;
constexpr int kUpdateRealMs = 120000;
// Several sticks at once on a busy machine: each NV read must be answered within 100 ms of the
// program's clock, which a faster clock leaves no room for.
constexpr double kSeveralSticksScale = 5;
constexpr const char* kInstall = "drive_c/Program Files/Windows Service/Tazlonewversion";

std::vector<uint8_t> ReadAll(const fs::path& path) {
  return testing::ReadFileBytes(path);
}

std::set<std::string> FilesIn(const fs::path& directory) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory))
    names.insert(entry.path().filename().string());
  return names;
}

class UpdaterProgram : public ::testing::Test {
 protected:
  // The clock of the stick and of the program, as many times faster than real time.
  double scale = kScale;
  void StartStick(const std::vector<std::string>& args = {}) {
    stick = std::make_unique<testing::SimulatorProcess>(ORBEK_STICK_SIM, root.Path(), args, scale);
    ASSERT_NE(stick->WaitReady(), 0);
  }
  std::unique_ptr<testing::ProgramProcess> StartUpdater(
      const std::vector<std::string>& args, std::map<std::string, std::string> environment = {},
      bool terminal = false) {
    environment["ORBEK_ROOT"] = root.Path();
    environment["ORBEK_TIME_SCALE"] = std::to_string(static_cast<int>(scale));
    if (environment.count("LC_ALL") == 0)
      environment["LC_ALL"] = "C";
    return std::make_unique<testing::ProgramProcess>(ORBEK_UPDATER_CLI, args, environment,
                                                     root.Path(), terminal);
  }
  json StopStick() {
    EXPECT_EQ(stick->Stop(), 0);
    return json::parse(stick->Report());
  }

  testing::RegistryRoot root;
  fs::path install = fs::path(root.Path()) / kInstall;
  std::unique_ptr<testing::SimulatorProcess> stick;
};

// What a whole update leaves on the stick: every image as in the package, the NV items back.
void ExpectImagesAndNvOfAWholeUpdate(const json& report,
                                     const sim::StickConfig& factory = sim::DefaultStickConfig()) {
  const fs::path made = ORBEK_PACKAGE_FILE_DIR;
  const std::pair<const char*, const char*> images[] = {{"qcsblhd", "qcsblhd_cfgdata.mbn"},
                                                        {"qcsbl", "qcsbl.mbn"},
                                                        {"oemsbl", "oemsbl.mbn"},
                                                        {"amss", "amss.mbn"},
                                                        {"efs", "efs.mbn"},
                                                        {"nandprg", "nandprgcombined.mbn"},
                                                        {"partitionTable", "partition.mbn"}};
  for (const auto& [type, file] : images) {
    ASSERT_TRUE(report["images"].contains(type)) << type;
    EXPECT_EQ(report["images"][type]["sha256"], sim::Sha256Hex(ReadAll(made / file))) << type;
  }
  // The NV store the flash lost is back: every listed item the stick held, as it was.
  size_t restored = 0;
  for (uint16_t item : NvListedItems()) {
    auto held = factory.nvItems.find(item);
    if (held == factory.nvItems.end() || factory.inactiveNvItems.count(item) != 0)
      continue;
    const std::string key = std::to_string(item);
    ASSERT_TRUE(report["nv"].contains(key)) << item;
    EXPECT_EQ(report["nv"][key]["data"], sim::HexOf(held->second.data(), held->second.size()));
    ++restored;
  }
  EXPECT_GT(restored, 600u);
}

// After an update that ended the program: only the flash programmer's files, the NV list, the
// script and the library are installed.
void ExpectOnlyTheKeptFilesInstalled(const fs::path& install) {
  EXPECT_EQ(FilesIn(install), (std::set<std::string>{"nandprghd.mbn", "nandprgcombined.mbn",
                                                     "NVApp.ini", "killsvr.bat", "ResetUSB.dll"}));
}

void ExpectWholeUpdate(const json& report, const fs::path& install) {
  // Every request is what the updater must send.
  EXPECT_TRUE(report["deviations"].empty()) << report["deviations"].dump();
  ExpectImagesAndNvOfAWholeUpdate(report);
  ExpectOnlyTheKeptFilesInstalled(install);
}

// A stick rescued after its programmer was left running was first asked DIAG by the search,
// which the programmer reads as a hello too short to be one: that is all it may list.
void ExpectRescue(const json& report, const fs::path& install) {
  for (const json& deviation : report["deviations"])
    EXPECT_EQ(deviation["reason"], "hello shorter than 36 bytes") << deviation.dump();
  ExpectImagesAndNvOfAWholeUpdate(report);
  ExpectOnlyTheKeptFilesInstalled(install);
}

TEST_F(UpdaterProgram, WholeUpdateOfTheSimulatedStick) {
  StartStick();
  auto updater = StartUpdater({"--start", "--yes", "--once"});
  EXPECT_EQ(updater->Wait(kUpdateRealMs), 0) << updater->Output();
  EXPECT_NE(updater->Output().find("The update was successful."), std::string::npos);
  ExpectWholeUpdate(StopStick(), install);
}

// The factory face on a terminal: three sticks, each on the line of its socket, updated at once;
// every line passes and each stick keeps its own NV. The sockets are read from the registry, and
// on Linux from sysfs, where the sticks' ttys are numbered anew at every re-enumeration.
class FactoryOnATerminal : public UpdaterProgram, public ::testing::WithParamInterface<bool> {};

TEST_P(FactoryOnATerminal, UpdatesThreeSticksAtOnce) {
  constexpr int kSticks = 3;
  const bool sysfs = GetParam();
  std::vector<std::string> simulated = {"--sticks", std::to_string(kSticks)};
  std::map<std::string, std::string> environment;
  if (sysfs) {
    simulated.push_back("--sysfs");
    environment = {{"ORBEK_SYSFS_ROOT", root.Path() + "/sys"},
                   {"ORBEK_DEV_ROOT", root.Path() + "/dev"}};
  }
  scale = kSeveralSticksScale;
  StartStick(simulated);
  ASSERT_NE(stick->WaitReady(20000, kSticks), 0);
  auto updater =
      StartUpdater({"--factory", "--sticks", std::to_string(kSticks), "--start", "--yes", "--once"},
                   environment, /*terminal=*/true);
  EXPECT_EQ(updater->Wait(kUpdateRealMs * static_cast<int>(kScale / kSeveralSticksScale)), 0)
      << updater->Output();
  for (int line = 1; line <= kSticks; ++line) {
    const std::string named = "Line " + std::to_string(line) + " — ";
    EXPECT_NE(updater->Output().find(named + "The update was successful."), std::string::npos)
        << updater->Output();
    EXPECT_NE(updater->Output().find(named + "Pass"), std::string::npos);
  }
  EXPECT_EQ(updater->Output().find("Line 4 — Running"), std::string::npos);
  const json report = StopStick();
  ASSERT_EQ(report["sticks"].size(), static_cast<size_t>(kSticks));
  for (int index = 0; index < kSticks; ++index) {
    SCOPED_TRACE("stick " + std::to_string(index + 1));
    const json& one = report["sticks"][static_cast<size_t>(index)];
    EXPECT_TRUE(one["deviations"].empty()) << one["deviations"].dump();
    ExpectImagesAndNvOfAWholeUpdate(one,
                                    sim::ConfigOfStick(sim::DefaultStickConfig(), index, kSticks));
  }
  // The program ended as its window closes: the package and the re-plug library are gone.
  EXPECT_EQ(FilesIn(install), (std::set<std::string>{"nandprghd.mbn", "nandprgcombined.mbn",
                                                     "NVApp.ini", "killsvr.bat"}));
}

INSTANTIATE_TEST_SUITE_P(PortViews, FactoryOnATerminal, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Sysfs" : "Registry");
                         });

// A stick that shows itself only as Linux shows a real one: USB devices in sysfs and tty nodes,
// no registry entries and no COM links. The updater finds it through every re-enumeration.
TEST_F(UpdaterProgram, WholeUpdateWithThePortsFoundInSysfs) {
  StartStick({"--sysfs"});
  const std::map<std::string, std::string> linux = {{"ORBEK_SYSFS_ROOT", root.Path() + "/sys"},
                                                    {"ORBEK_DEV_ROOT", root.Path() + "/dev"}};
  auto updater = StartUpdater({"--start", "--yes", "--once"}, linux);
  EXPECT_EQ(updater->Wait(kUpdateRealMs), 0) << updater->Output();
  EXPECT_NE(updater->Output().find("Port information: COM34"), std::string::npos);
  const json report = StopStick();
  EXPECT_FALSE(fs::exists(fs::path(root.Path()) / "registry.reg"));
  EXPECT_GE(report["modes"].size(), 6u);  // firmware, reset, download, flash programmer, back
  ExpectWholeUpdate(report, install);
}

// A port node the user may not open: the status line names it and the group it belongs to,
// instead of searching silently. (As root, the updater runs as nobody: root opens anything.)
TEST_F(UpdaterProgram, PortWithoutPermissionIsNamedWithItsGroup) {
  StartStick({"--sysfs"});
  const fs::path node = fs::path(root.Path()) / "dev/ttyUSB0";
  std::string group = "root";
  std::vector<std::string> args;
  std::string program = ORBEK_UPDATER_CLI;
  if (geteuid() == 0) {
    fs::permissions(root.Path(), fs::perms::all);
    args = {"--reuid=65534", "--regid=65534", "--clear-groups", program};
    program = "/usr/bin/setpriv";
  } else {
    fs::permissions(fs::read_symlink(node), fs::perms::none);
    group = getgrgid(getegid())->gr_name;
  }
  std::map<std::string, std::string> environment = {{"ORBEK_ROOT", root.Path()},
                                                    {"ORBEK_SYSFS_ROOT", root.Path() + "/sys"},
                                                    {"ORBEK_DEV_ROOT", root.Path() + "/dev"},
                                                    {"ORBEK_TIME_SCALE", "20"},
                                                    {"LC_ALL", "C"}};
  testing::ProgramProcess updater(program, args, environment, root.Path());
  const std::string expected =
      "No permission to open " + node.string() + ": add your user to the group " + group;
  EXPECT_TRUE(updater.WaitForOutput(expected, 30000)) << updater.Output();
  updater.Signal(SIGKILL);
  updater.Wait(5000);
  StopStick();
}

// A port that another program holds (a braille driver, a modem manager): the status line names
// the device as busy instead of searching silently.
TEST_F(UpdaterProgram, PortHeldByAnotherProgramIsNamedAsBusy) {
  StartStick({"--sysfs"});
  const fs::path node = fs::path(root.Path()) / "dev/ttyUSB0";
  const int held = open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  auto updater = StartUpdater(
      {}, {{"ORBEK_SYSFS_ROOT", root.Path() + "/sys"}, {"ORBEK_DEV_ROOT", root.Path() + "/dev"}});
  EXPECT_TRUE(updater->WaitForOutput(node.string() + " is in use by another program", 30000))
      << updater->Output();
  // Let go, and the stick is found.
  close(held);
  EXPECT_TRUE(updater->WaitForOutput("Ready to start update.", 30000)) << updater->Output();
  updater->Signal(SIGKILL);
  updater->Wait(5000);
  StopStick();
}

// How a second copy's box gets its answer, and the status the copy ends with.
struct SecondCopy {
  const char* how;
  std::vector<std::string> args;
  bool terminal;
  // What the person does once the box waits.
  enum { Nothing, Enter, InputEnds, CtrlC } answer;
  int status;
};

TEST_F(UpdaterProgram, SecondInstanceLeavesTheFirstAlone) {
  StartStick();
  auto first = StartUpdater({});
  ASSERT_TRUE(first->WaitForOutput("Ready to start update.", 30000)) << first->Output();
  const auto written = fs::last_write_time(install / "amss.mbn");
  const SecondCopy copies[] = {
      {"answered by --yes", {"--yes"}, false, SecondCopy::Nothing, 0},
      {"Enter on a terminal", {}, true, SecondCopy::Enter, 0},
      {"input at its end", {}, false, SecondCopy::InputEnds, 0},
      {"Ctrl-C on a terminal", {}, true, SecondCopy::CtrlC, 0},
      {"refused with --once", {"--yes", "--once"}, false, SecondCopy::Nothing, 1},
  };
  for (const SecondCopy& copy : copies) {
    SCOPED_TRACE(copy.how);
    auto second = StartUpdater(copy.args, {}, copy.terminal);
    ASSERT_TRUE(second->WaitForOutput(
        "Another update is in progress. Please complete this one and try again!", 30000))
        << second->Output();
    ASSERT_TRUE(second->WaitForOutput("[OK]", 30000)) << second->Output();
    if (copy.answer == SecondCopy::Enter)
      second->Input("\n");
    else if (copy.answer == SecondCopy::InputEnds)
      second->Input("", /*close=*/true);
    else if (copy.answer == SecondCopy::CtrlC)
      second->Signal(SIGINT);
    EXPECT_EQ(second->Wait(30000), copy.status) << second->Output();
  }
  auto german = StartUpdater({"--yes"}, {{"LC_ALL", "de_DE.UTF-8"}});
  EXPECT_EQ(german->Wait(30000), 0);
  EXPECT_NE(german->Output().find("Ein anderes Update wird gerade durchgeführt."),
            std::string::npos)
      << german->Output();
  EXPECT_EQ(fs::last_write_time(install / "amss.mbn"), written);
  // The first one is still there and closes when asked (no line busy: no question).
  first->Signal(SIGINT);
  EXPECT_EQ(first->Wait(30000), 0);
  EXPECT_FALSE(fs::exists(install / "amss.mbn"));
  EXPECT_FALSE(fs::exists(install / "ResetUSB.dll"));
}

// Without --start only Enter starts an update: once the input is at its end, the program says
// so and ends instead of waiting for ever.
// Without --start nobody presses UPDATE once the input has ended: the program ends, with
// status 1 where --once asked for the work to be done.
TEST_F(UpdaterProgram, InputAtItsEndEndsTheProgramAtTheReadyPrompt) {
  StartStick();
  const struct {
    std::vector<std::string> args;
    const char* text;
    int status;
  } rows[] = {
      {{}, "The input has ended: nobody can press UPDATE any more", 0},
      {{"--once"}, "The input has ended: nobody can press UPDATE any more", 1},
      {{"--factory", "--once"}, "The input has ended: nobody can start a line any more", 1}};
  for (const auto& row : rows) {
    auto updater = StartUpdater(row.args);
    updater->Input("", /*close=*/true);
    EXPECT_EQ(updater->Wait(30000), row.status) << updater->Output();
    EXPECT_NE(updater->Output().find(row.text), std::string::npos) << updater->Output();
  }
  EXPECT_TRUE(StopStick()["images"].empty());
}

// With the output piped, a question waiting during the update is not printed again after a
// progress line (a status line may repeat it: the person then sees it after the news).
TEST_F(UpdaterProgram, PipedQuestionIsNotRepeatedByProgress) {
  StartStick();
  auto updater = StartUpdater({"--start"});
  ASSERT_TRUE(updater->WaitForOutput("Progress [", 60000)) << updater->Output();
  updater->Signal(SIGINT);
  ASSERT_TRUE(updater->WaitForOutput("[Yes/No]", 30000)) << updater->Output();
  const size_t progressLines = updater->OutputCount("Progress [");
  ASSERT_TRUE(updater->WaitForOutputCount("Progress [", progressLines + 3, 60000))
      << updater->Output();
  std::istringstream lines(updater->Output());
  std::string previous;
  for (std::string line; std::getline(lines, line); previous = line) {
    if (line.rfind("[Yes/No]", 0) == 0) {
      EXPECT_NE(previous.rfind("Progress [", 0), 0u) << updater->Output();
    }
  }
  updater->Input("n\n");
  ASSERT_TRUE(updater->WaitForOutput("The update was successful.", kUpdateRealMs))
      << updater->Output();
  ASSERT_TRUE(updater->WaitForOutput("[OK]", 30000)) << updater->Output();
  updater->Input("\n");
  EXPECT_EQ(updater->Wait(30000), 0) << updater->Output();
  StopStick();
}

TEST_F(UpdaterProgram, InstallDirectoryThatCannotBeMade) {
  fs::create_directories(fs::path(root.Path()) / "drive_c/Program Files");
  std::ofstream(fs::path(root.Path()) / "drive_c/Program Files/Windows Service") << "a file";
  // The box ends the program: with status 0, but 1 where the update was asked for (--once).
  for (const auto& [args, status] :
       {std::pair<std::vector<std::string>, int>{{"--yes"}, 0}, {{"--yes", "--once"}, 1}}) {
    auto updater = StartUpdater(args);
    EXPECT_EQ(updater->Wait(30000), status) << updater->Output();
    EXPECT_NE(updater->Output().find("source file path error!"), std::string::npos)
        << updater->Output();
  }
}

TEST_F(UpdaterProgram, BoardTagThatDoesNotFitClosesTheProgram) {
  const std::string config = root.Path() + "/con.json";
  std::ofstream(config) << R"({"boardTag": "R415C1_CON"})";
  StartStick({"--config", config});
  auto updater = StartUpdater({"--start", "--yes"});
  EXPECT_EQ(updater->Wait(60000), 0);
  EXPECT_NE(updater->Output().find("Selected Update Version does not apply to your device!"),
            std::string::npos)
      << updater->Output();
  EXPECT_EQ(updater->Output().find("Downloading..."), std::string::npos);
}

TEST_F(UpdaterProgram, InterruptAnsweredNoLetsTheUpdateFinish) {
  StartStick();
  auto updater = StartUpdater({"--start"});
  ASSERT_TRUE(updater->WaitForOutput("Downloading...", 60000)) << updater->Output();
  updater->Signal(SIGINT);
  ASSERT_TRUE(updater->WaitForOutput("[Yes/No]", 30000)) << updater->Output();
  updater->Input("n\n", /*close=*/true);  // and OK to every later box
  EXPECT_EQ(updater->Wait(kUpdateRealMs), 0) << updater->Output();
  EXPECT_NE(updater->Output().find("The update was successful."), std::string::npos);
}

// A count is digits alone: blanks, signs and numbers past the lines are refused before anything
// starts.
TEST_F(UpdaterProgram, StickCountsThatAreNotPlainNumbersAreRefused) {
  for (const char* count : {" 2", "+3", "0", "9", "2x", ""}) {
    auto updater = StartUpdater({"--factory", "--sticks", count});
    EXPECT_EQ(updater->Wait(30000), 2) << "[" << count << "] " << updater->Output();
    EXPECT_NE(updater->Output().find("--sticks takes a number from 1 to 8"), std::string::npos)
        << updater->Output();
  }
}

TEST_F(UpdaterProgram, InterruptAnsweredYesEndsAndCleansUp) {
  StartStick();
  const std::string trace = root.Path() + "/trace.txt";
  auto updater = StartUpdater({"--start"}, {{"ORBEK_TRACE", trace}});
  ASSERT_TRUE(updater->WaitForOutput("Downloading...", 60000)) << updater->Output();
  updater->Signal(SIGINT);
  ASSERT_TRUE(updater->WaitForOutput("[Yes/No]", 30000)) << updater->Output();
  updater->Input("y\n");
  // The stick is left part-way: the person is told what to do, and the status says it failed.
  ASSERT_TRUE(
      updater->WaitForOutput("The update was interrupted: the stick must be updated again. "
                             "Run this program again and press UPDATE; if the stick is "
                             "not found, unplug it and plug it in again.",
                             30000))
      << updater->Output();
  // While that box is open the package is gone, and the worker, stopped before it went, sends
  // the stick nothing more.
  for (const char* gone : {"amss.mbn", "efs.mbn", "partition.mbn", "ResetUSB.dll"})
    EXPECT_FALSE(fs::exists(install / gone)) << gone;
  const auto traced = fs::file_size(trace);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // 10 s of the program's time
  EXPECT_EQ(fs::file_size(trace), traced);
  updater->Input("\n", /*close=*/true);
  EXPECT_EQ(updater->Wait(30000), 1) << updater->Output();
  EXPECT_EQ(updater->Output().find("The update was successful."), std::string::npos);
}

TEST_F(UpdaterProgram, TerminatedDuringAnUpdateSaysWhatToDoAndCleansUp) {
  StartStick();
  auto updater = StartUpdater({"--start"}, {{"LC_ALL", "de_DE.UTF-8"}});
  ASSERT_TRUE(updater->WaitForOutput("Gerät wird aktualisiert...", 60000)) << updater->Output();
  updater->Signal(SIGTERM);
  EXPECT_EQ(updater->Wait(30000), 1) << updater->Output();
  EXPECT_NE(updater->Output().find("Das Update wurde unterbrochen: das Gerät muss erneut "
                                   "aktualisiert werden."),
            std::string::npos)
      << updater->Output();
  for (const char* gone : {"amss.mbn", "efs.mbn", "partition.mbn", "ResetUSB.dll"})
    EXPECT_FALSE(fs::exists(install / gone)) << gone;
}

TEST_F(UpdaterProgram, FailedUpdateEndsWithStatusOneAndItsLog) {
  StartStick({"--fault", "error:0x17:0x0D:1000000"});  // the security mode refused
  auto updater = StartUpdater({"--start", "--yes", "--once"});
  EXPECT_EQ(updater->Wait(kUpdateRealMs), 1) << updater->Output();
  const std::string text = "Download fail, please check the log file to get fail information!";
  std::string log;
  for (const fs::directory_entry& entry : fs::directory_iterator(root.Path() + "/Logs")) {
    log = testing::ReadFileText(entry.path());
  }
  ASSERT_GE(log.size(), text.size() + 2);
  EXPECT_EQ(log.substr(log.size() - text.size() - 2), text + "\r\n");
  EXPECT_NE(updater->Output().find("Download failure, Please download again!"), std::string::npos);
}

// A person at a terminal (a pseudo-terminal): no options, Enter presses UPDATE.
class PersonAtTheTerminal : public UpdaterProgram {
 protected:
  std::unique_ptr<testing::ProgramProcess> StartAtTerminal(const char* locale = "C") {
    return StartUpdater({}, {{"LC_ALL", locale}}, /*terminal=*/true);
  }
  // Ends the program as a person would during an update: Ctrl-C, then Yes, then OK to what the
  // program says about the stick left part-way.
  static void CloseDuringTheUpdate(testing::ProgramProcess& updater) {
    updater.Signal(SIGINT);
    ASSERT_TRUE(updater.WaitForOutput("[Yes/No]", 30000)) << updater.Output();
    const size_t boxes = updater.OutputCount("[OK]");
    updater.Input("y\n");
    ASSERT_TRUE(updater.WaitForOutputCount("[OK]", boxes + 1, 30000)) << updater.Output();
    updater.Input("\n");
    EXPECT_EQ(updater.Wait(30000), 1) << updater.Output();
  }
};

TEST_F(PersonAtTheTerminal, EnterStartsTheUpdateAndEverythingIsShown) {
  StartStick();
  auto updater = StartAtTerminal();
  ASSERT_TRUE(updater->WaitForOutput("UPDATE is ready", 30000)) << updater->Output();
  // What the ready prompt follows is all there before it.
  const size_t prompt = updater->Output().find("UPDATE is ready");
  for (const char* shown :
       {"Follow these steps to update your USB Stick:", "== Orbek Updater ==",
        "Update version: BD_R415C1F3V1.0.1B08 (Firmware), WIN_1.0.5B06 (Windows), MAC_1.0.5B06 "
        "(Mac)",
        "Current version: R415C1_FW_1.2.0.17 (Firmware), WIN_1.0.5B06 (Windows), MAC_1.0.5B06 "
        "(Mac)",
        "Port information: COM5", "Ready to start update."}) {
    EXPECT_LT(updater->Output().find(shown), prompt) << shown;
  }
  updater->Input("\n");
  ASSERT_TRUE(updater->WaitForOutput("Progress [", 30000)) << updater->Output();
  ASSERT_TRUE(updater->WaitForOutput("The update was successful.", kUpdateRealMs))
      << updater->Output();
  ASSERT_TRUE(updater->WaitForOutput("[OK]", 30000)) << updater->Output();
  EXPECT_NE(updater->Output().find("] 100%"), std::string::npos);
  updater->Input("\n");  // OK
  EXPECT_EQ(updater->Wait(30000), 0) << updater->Output();
  EXPECT_TRUE(StopStick()["images"].contains("amss"));
}

TEST_F(PersonAtTheTerminal, GermanSystemGermanLabels) {
  StartStick();
  auto updater = StartAtTerminal("de_DE.UTF-8");
  // The console's own prompt comes once UPDATE can be pressed (the status text may come first).
  ASSERT_TRUE(updater->WaitForOutput("Fertig, bitte UPDATE drücken", 30000)) << updater->Output();
  ASSERT_TRUE(updater->WaitForOutput("UPDATE ist bereit: Enter drücken", 30000))
      << updater->Output();
  updater->Input("update\n");
  ASSERT_TRUE(updater->WaitForOutput("Fortschritt: [", 30000)) << updater->Output();
  for (const char* label : {"Port Information: COM5", "Bisherige Version: R415C1_FW_1.2.0.17",
                            "Neue Version: BD_R415C1F3V1.0.1B08"}) {
    EXPECT_TRUE(updater->WaitForOutput(label, 30000)) << label;
  }
  for (const char* english : {"Port information:", "Current version:", "Progress ["})
    EXPECT_EQ(updater->Output().find(english), std::string::npos) << english;
  CloseDuringTheUpdate(*updater);
}

TEST_F(PersonAtTheTerminal, AfterAFailedUpdateEnterStartsAnother) {
  StartStick({"--fault", "error:0x17:0x0D:1000000"});  // every pass fails
  auto updater = StartAtTerminal();
  ASSERT_TRUE(updater->WaitForOutput("UPDATE is ready", 30000)) << updater->Output();
  updater->Input("\n");
  ASSERT_TRUE(updater->WaitForOutput("Download failure, Please download again!", kUpdateRealMs))
      << updater->Output();
  ASSERT_TRUE(updater->WaitForOutput("[OK]", 30000)) << updater->Output();
  // The stick is left to its flash programmer: the person re-plugs it, waits, and tries again.
  updater->Input("\n");
  stick->Replug();
  ASSERT_TRUE(updater->WaitForOutputCount("Ready to start update.", 2, 60000)) << updater->Output();
  EXPECT_EQ(updater->OutputCount("please check if   the config file is exist"), 0u);
  // As a person does: Enter, and again after "not available now" (the failed update's worker
  // may still be ending, or the search may be taking the stick in again, when it shows ready).
  for (int press = 0; press < 20 && updater->OutputCount("Downloading...") < 2; ++press) {
    updater->Input("\n");
    updater->WaitForOutputCount("Downloading...", 2, 3000);
  }
  ASSERT_GE(updater->OutputCount("Downloading..."), 2u) << updater->Output();
  CloseDuringTheUpdate(*updater);
}

TEST_F(UpdaterProgram, NvBackupFromOneStickRestoredOntoAWipedOne) {
  const std::string file = root.Path() + "/saved.nvm";
  StartStick();
  auto backup = StartUpdater({"--nv-backup", file});
  EXPECT_EQ(backup->Wait(kUpdateRealMs), 0) << backup->Output();
  EXPECT_NE(backup->Output().find("The NV was backed up."), std::string::npos) << backup->Output();
  StopStick();
  const std::vector<uint8_t> saved = ReadAll(file);
  NvTable table;
  ASSERT_TRUE(DecodeNvTable(saved.data(), saved.size(), table));

  const std::string wiped = root.Path() + "/wiped.json";
  std::ofstream(wiped) << R"({"nv": {}, "readOnlyNv": []})";
  StartStick({"--config", wiped});
  auto restore = StartUpdater({"--nv-restore", file});
  EXPECT_EQ(restore->Wait(kUpdateRealMs), 0) << restore->Output();
  EXPECT_NE(restore->Output().find("Waiting for the stick to answer again after its reset."),
            std::string::npos)
      << restore->Output();
  // The restore ended once the stick answered again: a backup right after it finds it ready.
  auto again = StartUpdater({"--nv-backup", root.Path() + "/again.nvm"});
  EXPECT_EQ(again->Wait(kUpdateRealMs), 0) << again->Output();
  const json after = StopStick()["nv"];
  // Every item the backup read is back on the wiped stick, as it was read.
  size_t back = 0;
  for (const NvRecord& record : table) {
    if (record.itemId >= kNvEndMarker)
      break;
    if (record.status != 0)
      continue;
    const std::string key = std::to_string(record.itemId);
    ASSERT_TRUE(after.contains(key)) << record.itemId;
    EXPECT_EQ(after[key]["data"], sim::HexOf(record.data.data(), record.data.size()));
    ++back;
  }
  EXPECT_GT(back, 600u);

  // The backup was also kept for good, under the stick's ESN and IMEI.
  auto list = StartUpdater({"--nv-backups"});
  EXPECT_EQ(list->Wait(30000), 0) << list->Output();
  EXPECT_NE(list->Output().find("Stick ESN 80A1B2C3, IMEI 357123456789012 (" + root.Path() +
                                "/nv-backups/80A1B2C3-357123456789012):"),
            std::string::npos)
      << list->Output();
  EXPECT_NE(list->Output().find(".nvm  kept"), std::string::npos) << list->Output();
}

// NV files the options name are checked before the stick is touched: a backup goes only into a
// regular or new file, a restore reads only a backup file. Each refusal says why and ends with
// status 1, in the system's language.
struct NvOptionRefusal {
  const char* option;
  const char* file;  // under the test's root; "/dev/null" as it is
  const char* text;
  const char* language = "C";
};

TEST_F(UpdaterProgram, NvOptionsRefuseWhatIsNoBackupFile) {
  const std::string dir = root.Path();
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  fs::create_directories(dir + "/folder");
  std::vector<uint8_t> random(kNvBackupFileSize);
  for (size_t i = 0; i < random.size(); ++i)
    random[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  std::ofstream(dir + "/random.nvm", std::ios::binary)
      .write(reinterpret_cast<const char*>(random.data()),
             static_cast<std::streamsize>(random.size()));
  const NvOptionRefusal refusals[] = {
      {"--nv-backup", "/dev/null",
       "/dev/null is not a regular file: no NV backup is written there."},
      {"--nv-backup", "/folder", "/folder is not a regular file: no NV backup is written there."},
      {"--nv-backup", "/fifo", "/fifo is not a regular file: no NV backup is written there."},
      {"--nv-backup", "/missing/x.nvm", "The folder "},
      {"--nv-restore", "/random.nvm", "/random.nvm is not an NV backup: slot 0 has padding"},
      {"--nv-restore", "/fifo", "/fifo is not a regular file that can be read."},
      {"--nv-restore", "/folder", "/folder is not a regular file that can be read."},
      {"--nv-restore", "/none.nvm", "/none.nvm gibt es nicht.", "de_DE.UTF-8"},
  };
  for (const NvOptionRefusal& refusal : refusals) {
    const std::string file =
        std::string(refusal.file).rfind("/dev/", 0) == 0 ? refusal.file : dir + refusal.file;
    SCOPED_TRACE(std::string(refusal.option) + " " + file);
    auto updater = StartUpdater({refusal.option, file, "--yes"}, {{"LC_ALL", refusal.language}});
    EXPECT_EQ(updater->Wait(30000), 1) << updater->Output();
    EXPECT_NE(updater->Output().find(refusal.text), std::string::npos) << updater->Output();
  }
  EXPECT_TRUE(fs::is_fifo(dir + "/fifo"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_directory(dir + "/folder"));
  EXPECT_EQ(ReadAll(dir + "/random.nvm"), random);
  EXPECT_FALSE(fs::exists(install / "amss.mbn"));  // none of them even started up
}

// Another stick's backup would give this stick that one's IMEI: with --yes the question is
// answered with its safe No, and nothing is written.
TEST_F(UpdaterProgram, NvRestoreOfAnotherSticksBackupIsRefusedWithYes) {
  NvTable table = BuildNvItemList();
  const uint32_t otherEsn = 0x11223344;
  for (int i = 0; i < 4; ++i)
    table[0].data[static_cast<size_t>(i)] = static_cast<uint8_t>(otherEsn >> (8 * i));
  const std::vector<uint8_t> bytes = EncodeNvTable(table);
  const std::string file = root.Path() + "/other.nvm";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  StartStick();
  auto restore = StartUpdater({"--nv-restore", file, "--yes"});
  EXPECT_EQ(restore->Wait(kUpdateRealMs), 1) << restore->Output();
  EXPECT_NE(restore->Output().find("belongs to another stick (ESN 11223344, IMEI -); this stick "
                                   "holds ESN 80A1B2C3, IMEI 357123456789012."),
            std::string::npos)
      << restore->Output();
  EXPECT_NE(restore->Output().find("[Yes/No] No"), std::string::npos) << restore->Output();
  const json report = StopStick();
  EXPECT_FALSE(report["counts"]["firmware"].contains("0x27")) << report["counts"].dump();
}

TEST_F(UpdaterProgram, NvRestoreOfAMissingFileFails) {
  StartStick();
  auto restore = StartUpdater({"--nv-restore", root.Path() + "/none.nvm", "--yes"});
  EXPECT_EQ(restore->Wait(kUpdateRealMs), 1) << restore->Output();
  EXPECT_NE(restore->Output().find("The NV file " + root.Path() + "/none.nvm does not exist."),
            std::string::npos)
      << restore->Output();
}

// The updater killed mid-AMSS leaves the stick in its programmer with half a flash. The next
// run finds it in download mode (after a re-plug) or its programmer still running (without
// one), the person presses Enter, and the rescue writes every image and restores the NV.
class KilledMidUpdate : public PersonAtTheTerminal, public ::testing::WithParamInterface<bool> {};

TEST_P(KilledMidUpdate, NextRunRescuesTheStick) {
  const bool replugged = GetParam();
  StartStick();
  auto first = StartUpdater({"--start"});
  ASSERT_TRUE(first->WaitForOutput("] 40%", kUpdateRealMs)) << first->Output();
  first->Signal(SIGKILL);
  first->Wait(30000);
  if (replugged)
    stick->Replug();

  auto second = StartAtTerminal();
  ASSERT_TRUE(
      second->WaitForOutput("The stick is in download mode: an earlier update did not "
                            "finish. UPDATE writes the firmware again.",
                            60000))
      << second->Output();
  ASSERT_TRUE(second->WaitForOutput("UPDATE is ready", 30000)) << second->Output();
  second->Input("\n", /*close=*/true);
  EXPECT_EQ(second->Wait(kUpdateRealMs), 0) << second->Output();
  EXPECT_NE(second->Output().find("The update was successful."), std::string::npos);
  ExpectRescue(StopStick(), install);
}

INSTANTIATE_TEST_SUITE_P(Replugged, KilledMidUpdate, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Replugged" : "ProgrammerStillRunning");
                         });

}  // namespace
}  // namespace orbek

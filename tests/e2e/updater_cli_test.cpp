// The updater program for terminals, orbek-updater-cli, against the real orbek-stick-sim, both
// on a private machine root and a fast clock.
#include <gtest/gtest.h>
#include <signal.h>

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
  void StartStick(const std::vector<std::string>& args = {}) {
    stick = std::make_unique<testing::SimulatorProcess>(ORBEK_STICK_SIM, root.Path(), args, kScale);
    ASSERT_NE(stick->WaitReady(), 0);
  }
  std::unique_ptr<testing::ProgramProcess> StartUpdater(
      const std::vector<std::string>& args, std::map<std::string, std::string> environment = {}) {
    environment["ORBEK_ROOT"] = root.Path();
    environment["ORBEK_TIME_SCALE"] = std::to_string(static_cast<int>(kScale));
    if (environment.count("LC_ALL") == 0)
      environment["LC_ALL"] = "C";
    return std::make_unique<testing::ProgramProcess>(ORBEK_UPDATER_CLI, args, environment,
                                                     root.Path());
  }
  json StopStick() {
    EXPECT_EQ(stick->Stop(), 0);
    return json::parse(stick->Report());
  }

  testing::RegistryRoot root;
  fs::path install = fs::path(root.Path()) / kInstall;
  std::unique_ptr<testing::SimulatorProcess> stick;
};

TEST_F(UpdaterProgram, WholeUpdateOfTheSimulatedStick) {
  StartStick();
  auto updater = StartUpdater({"--start", "--yes", "--once"});
  EXPECT_EQ(updater->Wait(kUpdateRealMs), 0) << updater->Output();
  EXPECT_NE(updater->Output().find("The update was successful."), std::string::npos);
  const json report = StopStick();

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
  const sim::StickConfig factory = sim::DefaultStickConfig();
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
  EXPECT_EQ(FilesIn(install), (std::set<std::string>{"nandprghd.mbn", "nandprgcombined.mbn",
                                                     "NVApp.ini", "killsvr.bat", "ResetUSB.dll"}));
}

TEST_F(UpdaterProgram, SecondInstanceLeavesTheFirstAlone) {
  StartStick();
  auto first = StartUpdater({});
  ASSERT_TRUE(first->WaitForOutput("Ready to start update.", 30000)) << first->Output();
  const auto written = fs::last_write_time(install / "amss.mbn");
  auto second = StartUpdater({"--yes"});
  EXPECT_EQ(second->Wait(30000), 0);
  EXPECT_NE(second->Output().find(
                "Another update is in progress. Please complete this one and try again!"),
            std::string::npos)
      << second->Output();
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

TEST_F(UpdaterProgram, InstallDirectoryThatCannotBeMade) {
  fs::create_directories(fs::path(root.Path()) / "drive_c/Program Files");
  std::ofstream(fs::path(root.Path()) / "drive_c/Program Files/Windows Service") << "a file";
  auto updater = StartUpdater({"--yes"});
  EXPECT_EQ(updater->Wait(30000), 0);
  EXPECT_NE(updater->Output().find("source file path error!"), std::string::npos)
      << updater->Output();
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

TEST_F(UpdaterProgram, InterruptAnsweredYesEndsAndCleansUp) {
  StartStick();
  auto updater = StartUpdater({"--start"});
  ASSERT_TRUE(updater->WaitForOutput("Downloading...", 60000)) << updater->Output();
  updater->Signal(SIGINT);
  ASSERT_TRUE(updater->WaitForOutput("[Yes/No]", 30000)) << updater->Output();
  updater->Input("y\n");
  EXPECT_EQ(updater->Wait(30000), 0) << updater->Output();
  EXPECT_EQ(updater->Output().find("The update was successful."), std::string::npos);
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

}  // namespace
}  // namespace orbek

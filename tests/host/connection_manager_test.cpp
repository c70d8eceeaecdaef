// The connection manager's stop and restart, with a recording "cmd" on PATH.
#include "host/connection_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/regedit_text.h"
#include "tests/support/file_contents.h"
#include "tests/support/recording_cmd.h"
#include "tests/support/registry_root.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInstall = "C:\\Program Files\\Windows Service\\Tazlonewversion";

using testing::ReadFileText;

class ConnectionManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installDir = fs::path(root.Path()) / "drive_c/Program Files/Windows Service/Tazlonewversion";
    fs::create_directories(installDir);
  }

  void Register(const std::string& location) {
    root.Write("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
               std::string(kConnectionManagerKey) +
               "]\n\"InstallLocation\"=" + platform::RegeditQuote(location) + "\n");
  }

  testing::RegistryRoot root;
  fs::path installDir;
  testing::RecordingCmd cmd{root.Path()};
  ConnectionManager manager{kInstall};
};

TEST_F(ConnectionManagerTest, StopRunsKillsvrInTheInstallDirectory) {
  EXPECT_TRUE(manager.StopConnectionManager());
  EXPECT_EQ(cmd.Log(), installDir.string() + " /c call killsvr.bat\n");
}

TEST_F(ConnectionManagerTest, InstalledManagerIsRestartedWithTheExactScript) {
  Register("C:\\Apps\\CM");
  fs::create_directories(fs::path(root.Path()) / "drive_c/Apps/CM/Bin");
  manager.FindConnectionManager();
  EXPECT_EQ(manager.cmInstallLocation(), "C:\\Apps\\CM");
  ASSERT_TRUE(manager.cmPresent());
  ASSERT_TRUE(manager.RestartConnectionManager());
  EXPECT_EQ(ReadFileText(installDir / "tessard.bat"),
            "set\r\nset DBUS_STARTER_ADDRESS=\r\nset DBUS_STARTER_BUS_TYPE=\r\nset "
            "DBUS_SESSION_BUS_ADDRESS=\r\nset\r\nstart \"start tessard\" "
            "\"C:\\Apps\\CM\\Bin/tessard.exe\"");
  EXPECT_EQ(cmd.Log(), installDir.string() + " /c call tessard.bat\n");
}

TEST_F(ConnectionManagerTest, NoRestartWithoutAUsableLocation) {
  manager.FindConnectionManager();  // no key
  EXPECT_FALSE(manager.cmPresent());
  EXPECT_FALSE(manager.RestartConnectionManager());
  EXPECT_FALSE(fs::exists(installDir / "tessard.bat"));

  Register("C:\\Apps\\CM");  // registered, but no Bin directory
  ConnectionManager withoutBin(kInstall);
  withoutBin.FindConnectionManager();
  EXPECT_FALSE(withoutBin.cmPresent());

  Register("C:\\Apps\\\"CM");  // a quote would break the script line
  ConnectionManager quoted(kInstall);
  quoted.FindConnectionManager();
  EXPECT_FALSE(quoted.RestartConnectionManager());
  Register("C:\\" + std::string(450, 'x'));  // the script would pass its 499 characters
  ConnectionManager tooLong(kInstall);
  tooLong.FindConnectionManager();
  EXPECT_TRUE(tooLong.RestartScript().empty());
  EXPECT_FALSE(tooLong.RestartConnectionManager());
  EXPECT_FALSE(fs::exists(installDir / "tessard.bat"));
  EXPECT_FALSE(cmd.Ran());
}

TEST_F(ConnectionManagerTest, MissingInterpreterReturnsAtOnce) {
  setenv("PATH", "/nonexistent", 1);
  EXPECT_TRUE(manager.StopConnectionManager());
  EXPECT_FALSE(cmd.Ran());
}

}  // namespace
}  // namespace orbek

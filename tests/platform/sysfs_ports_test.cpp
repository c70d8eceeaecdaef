// The stick's ports from a sysfs tree on Linux: the view the port search reads, the COM numbers
// of ttys and the dosdevices links the program keeps.
#include "platform/posix/sysfs_ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ports/port_scanner.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "tests/support/scoped_environment.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;
using platform::SysfsPortRules;

const SysfsPortRules kRules{0x1234, 0, 1, "qcusbser6k", "qcusbmdm6k"};

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text << "\n";
}

// A fake /sys and /dev under a private ORBEK_ROOT, pointed at by ORBEK_SYSFS_ROOT and
// ORBEK_DEV_ROOT.
class SysfsTree : public ::testing::Test {
 protected:
  SysfsTree()
      : sysfs_("ORBEK_SYSFS_ROOT", (fs::path(root_.Path()) / "sys").c_str()),
        dev_("ORBEK_DEV_ROOT", (fs::path(root_.Path()) / "dev").c_str()) {
    fs::create_directories(Devices());
    fs::create_directories(Dev());
  }

  fs::path Devices() const { return fs::path(root_.Path()) / "sys/bus/usb/devices"; }
  fs::path Dev() const { return fs::path(root_.Path()) / "dev"; }

  // A USB device (sysfs name such as 1-2) with one interface per (number, tty); cdc-acm ttys sit
  // in a "tty" directory, usb-serial ones directly below the interface.
  void Plug(const std::string& device, uint16_t vendor, int devnum,
            const std::vector<std::pair<int, std::string>>& interfaces) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04x", vendor);
    fs::create_directories(Devices() / device);
    WriteText(Devices() / device / "idVendor", hex);
    WriteText(Devices() / device / "idProduct", "5678");
    WriteText(Devices() / device / "devnum", std::to_string(devnum));
    for (const auto& [number, tty] : interfaces) {
      const fs::path interface = Devices() / (device + ":1." + std::to_string(number));
      const bool acm = tty.rfind("ttyACM", 0) == 0;
      fs::create_directories(acm ? interface / "tty" / tty : interface / tty);
      WriteText(interface / "bInterfaceNumber", "0" + std::to_string(number));
      WriteText(Dev() / tty, "");  // the node
    }
  }
  void Unplug(const std::string& device) {
    for (const auto& entry : fs::directory_iterator(Devices())) {
      const std::string name = entry.path().filename();
      if (name == device || name.rfind(device + ":", 0) == 0)
        fs::remove_all(entry.path());
    }
  }

  testing::RegistryRoot root_;
  testing::ScopedEnvironment sysfs_;
  testing::ScopedEnvironment dev_;
};

TEST(SysfsComNumbers, FollowTheTtyFamilies) {
  const struct {
    const char* tty;
    int com;
  } cases[] = {{"ttyS0", 1},    {"ttyS31", 32},  {"ttyUSB0", 34}, {"ttyUSB31", 65},
               {"ttyACM0", 66}, {"ttyACM2", 68}, {"ttyUSB32", 0}, {"ttyUSB", 0},
               {"ttyUSBx", 0},  {"ttyUSB-1", 0}, {"tty0", 0},     {"ttyUSB007", 41}};
  for (const auto& c : cases)
    EXPECT_EQ(platform::ComNumberOfTty(c.tty), c.com) << c.tty;
}

TEST_F(SysfsTree, PortsByInterfaceNumberOfTheVendorsDevices) {
  Plug("1-1", 0x1234, 5, {{0, "ttyUSB0"}, {1, "ttyUSB1"}, {2, "ttyUSB2"}});
  Plug("1-2", 0x4321, 6, {{0, "ttyUSB3"}, {1, "ttyUSB4"}});  // another vendor's modem
  Plug("1-3", 0x1234, 7, {{1, "ttyACM0"}});                  // a cdc-acm modem port

  const std::vector<platform::SysfsPort> ports =
      platform::ScanSysfsPorts((fs::path(root_.Path()) / "sys").string(), kRules);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].instanceId, "USB\\VID_1234&PID_5678&MI_00\\1-1:1.0");
  EXPECT_TRUE(ports[0].diagnostic);
  EXPECT_EQ(ports[0].com, 34);
  EXPECT_EQ(ports[1].tty, "ttyUSB1");
  EXPECT_FALSE(ports[1].diagnostic);
  EXPECT_EQ(ports[2].tty, "ttyACM0");
  EXPECT_EQ(ports[2].com, 66);

  // The search reads them as the drivers' entries: the last enumerated modem port wins.
  PortScanner scanner;
  const FoundPorts found = scanner.ScanOnce();
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.diagPort, 34);
  EXPECT_EQ(found.dataPort, 66);
  EXPECT_EQ(fs::read_symlink(fs::path(root_.Path()) / "dosdevices/com34"), Dev() / "ttyUSB0");
  EXPECT_EQ(fs::read_symlink(fs::path(root_.Path()) / "dosdevices/com66"), Dev() / "ttyACM0");
}

TEST_F(SysfsTree, ASecondStickPluggedLaterWins) {
  Plug("2-1", 0x1234, 9, {{0, "ttyUSB4"}, {1, "ttyUSB5"}});
  Plug("1-1", 0x1234, 3, {{0, "ttyUSB0"}, {1, "ttyUSB1"}});
  PortScanner scanner;
  FoundPorts found = scanner.ScanOnce();
  EXPECT_EQ(found.diagPort, 38);
  EXPECT_EQ(found.dataPort, 39);

  Unplug("2-1");
  usleep(60000);  // past the view's freshness
  found = scanner.ScanOnce();
  EXPECT_EQ(found.diagPort, 34);
  EXPECT_EQ(found.dataPort, 35);
}

TEST_F(SysfsTree, TheExportFileComesFirstSysfsLast) {
  root_.Write(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum]\n"
      "\"Count\"=dword:00000001\n\"0\"=\"USB\\\\FILE\\\\0\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\FILE\\0\\Device Parameters]\n"
      "\"PortName\"=\"COM7\"\n");
  PortScanner scanner;
  EXPECT_EQ(scanner.ScanOnce().diagPort, 7);

  Plug("1-1", 0x1234, 3, {{0, "ttyUSB2"}});
  usleep(60000);
  const FoundPorts found = scanner.ScanOnce();
  EXPECT_EQ(found.diagPort, 36);
  auto service =
      platform::OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum");
  ASSERT_NE(service, nullptr);
  uint32_t count = 0;
  std::string first;
  EXPECT_TRUE(service->ReadDword("Count", count));
  EXPECT_EQ(count, 2u);
  EXPECT_TRUE(service->ReadString("0", first));
  EXPECT_EQ(first, "USB\\FILE\\0");
}

TEST_F(SysfsTree, MalformedEntriesArePassedOver) {
  Plug("1-1", 0x1234, 3, {{0, "ttyUSB0"}});
  WriteText(Devices() / "1-1" / "idVendor", "12345678901234567890");
  Plug("1-2", 0x1234, 4, {{0, "ttyUSB1"}});
  WriteText(Devices() / "1-2:1.0" / "bInterfaceNumber", "zz");
  Plug("1-3", 0x1234, 5, {{0, "ttyUSB2"}});
  fs::remove_all(Devices() / "1-3:1.0" / "ttyUSB2");  // no tty (yet)
  fs::create_directories(Devices() / "1-4:1.0");      // an interface without its device
  EXPECT_TRUE(platform::ScanSysfsPorts((fs::path(root_.Path()) / "sys").string(), kRules).empty());
}

TEST_F(SysfsTree, ComLinksFollowThePorts) {
  const fs::path dosdevices = fs::path(root_.Path()) / "dosdevices";
  fs::create_directories(dosdevices);
  fs::create_symlink("/dev/null", dosdevices / "com3");         // someone else's
  fs::create_symlink(Dev() / "ttyUSB9", dosdevices / "com43");  // a tty gone
  fs::create_symlink(Dev() / "ttyUSB1", dosdevices / "com34");  // a stale target
  Plug("1-1", 0x1234, 3, {{0, "ttyUSB0"}});
  platform::KeepComLinks(
      platform::ScanSysfsPorts((fs::path(root_.Path()) / "sys").string(), kRules), root_.Path(),
      Dev().string());
  EXPECT_EQ(fs::read_symlink(dosdevices / "com34"), Dev() / "ttyUSB0");
  EXPECT_EQ(fs::read_symlink(dosdevices / "com3"), "/dev/null");
  EXPECT_FALSE(fs::is_symlink(dosdevices / "com43"));
}

// Only links are the program's: a file of another kind at a port's name stays, and a dosdevices
// that links to another folder is not touched at all.
TEST_F(SysfsTree, ComLinksNeverTouchWhatIsNotTheirs) {
  const fs::path elsewhere = fs::path(root_.Path()) / "elsewhere";
  fs::create_directories(elsewhere);
  WriteText(elsewhere / "com34", "keep");
  fs::create_symlink(Dev() / "ttyUSB9", elsewhere / "com43");
  Plug("1-1", 0x1234, 3, {{0, "ttyUSB0"}});
  const auto ports = platform::ScanSysfsPorts((fs::path(root_.Path()) / "sys").string(), kRules);

  const fs::path linkedRoot = fs::path(root_.Path()) / "linked";
  fs::create_directories(linkedRoot);
  fs::create_symlink(elsewhere, linkedRoot / "dosdevices");
  EXPECT_FALSE(platform::KeepComLinks(ports, linkedRoot.string(), Dev().string()));
  EXPECT_TRUE(fs::is_symlink(elsewhere / "com43"));
  EXPECT_FALSE(fs::is_symlink(elsewhere / "com34"));

  const fs::path ownRoot = fs::path(root_.Path()) / "own";
  fs::create_directories(ownRoot / "dosdevices");
  WriteText(ownRoot / "dosdevices" / "com34", "keep");
  EXPECT_TRUE(platform::KeepComLinks(ports, ownRoot.string(), Dev().string()));
  EXPECT_FALSE(fs::is_symlink(ownRoot / "dosdevices" / "com34"));
  EXPECT_EQ(testing::ReadFileText((ownRoot / "dosdevices" / "com34").string()), "keep\n");
}

TEST_F(SysfsTree, ATreeChangingWhileReadGivesTheStickOrNothing) {
  std::atomic<bool> done{false};
  std::thread plugger([&] {
    while (!done) {
      Plug("1-1", 0x1234, 3, {{0, "ttyUSB0"}, {1, "ttyUSB1"}});
      Unplug("1-1");
    }
  });
  const std::string sysfs = (fs::path(root_.Path()) / "sys").string();
  for (int i = 0; i < 2000; ++i) {
    for (const platform::SysfsPort& port : platform::ScanSysfsPorts(sysfs, kRules))
      EXPECT_EQ(port.com, port.diagnostic ? 34 : 35);
  }
  done = true;
  plugger.join();
}

}  // namespace
}  // namespace orbek

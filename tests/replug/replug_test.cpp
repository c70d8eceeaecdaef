// The re-plug library over a fake sysfs tree, with the SCSI command watched through its seam.
#include "replug/replug.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/dynamic_library.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrefix = "USB\\Vid_1234&Pid_2000";

class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orbek-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root / "sys/bus/usb/devices");
    fs::create_directories(root / "dev");
    setenv("ORBEK_SYSFS_ROOT", (root / "sys").c_str(), 1);
    setenv("ORBEK_DEV_ROOT", (root / "dev").c_str(), 1);
    replug::ResetFoundFlag();
    replug::SetScsiSender([this](const std::string& volume, const uint8_t* cdb, size_t length) {
      sent.push_back({volume, std::vector<uint8_t>(cdb, cdb + length)});
    });
  }

  void TearDown() override {
    replug::SetScsiSender(nullptr);
    unsetenv("ORBEK_SYSFS_ROOT");
    unsetenv("ORBEK_DEV_ROOT");
    fs::remove_all(root);
  }

  // A USB device at `path` (below sys/devices), listed in bus/usb/devices.
  fs::path Device(const std::string& path, const std::string& vendor, const std::string& product) {
    fs::path device = root / "sys/devices" / path;
    fs::create_directories(device);
    std::ofstream(device / "idVendor") << vendor << "\n";
    std::ofstream(device / "idProduct") << product << "\n";
    fs::create_directory_symlink(device, root / "sys/bus/usb/devices" / device.filename());
    return device;
  }

  // A CD-ROM volume below `device`, through an interface and the SCSI host's nodes (none of
  // which is a USB device).
  void Volume(const fs::path& device, const std::string& name, int host) {
    fs::path node = device / (device.filename().string() + ":1.0") /
                    ("host" + std::to_string(host)) / "target0:0:0" / "0:0:0:0" / "block" / name;
    fs::create_directories(node);
    std::ofstream(node / "dev") << "11:0\n";
    // sysfs links back up the tree; the walk must not follow them.
    fs::create_directory_symlink(root / "sys/devices", node / "subsystem");
  }

  std::vector<std::string> Volumes() const {
    std::vector<std::string> volumes;
    for (const auto& [volume, cdb] : sent)
      volumes.push_back(volume);
    return volumes;
  }

  fs::path root;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> sent;
};

TEST_F(FakeSysfs, StickInCdromModeGetsTheCommandOnEachVolume) {
  fs::path stick = Device("pci0000:00/usb1/1-1", "1234", "2000");
  Volume(stick, "sr0", 0);
  EXPECT_EQ(replug::Replug(kPrefix), 1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, (root / "dev/sr0").string());
  EXPECT_EQ(sent[0].second, (std::vector<uint8_t>{0x85, 1, 1, 1, 1, 1, 1, 1, 1, 1}));

  sent.clear();
  Volume(stick, "sr1", 1);
  EXPECT_EQ(replug::Replug("usb\\VID_1234&PID_2000"), 1);  // compared without regard to case
  EXPECT_EQ(Volumes(),
            (std::vector<std::string>{(root / "dev/sr0").string(), (root / "dev/sr1").string()}));
}

TEST_F(FakeSysfs, OtherDevicesAreLeftAlone) {
  fs::path other = Device("pci0000:00/usb1/1-2", "abcd", "2000");
  Volume(other, "sr0", 0);
  fs::path modem = Device("pci0000:00/usb1/1-3", "1234", "1000");  // the stick, not a CD-ROM
  Volume(modem, "sr1", 1);
  EXPECT_EQ(replug::Replug(kPrefix), 0);
  EXPECT_TRUE(sent.empty());

  fs::path bare = Device("pci0000:00/usb1/1-4", "1234", "2000");  // matching, without volumes
  EXPECT_EQ(replug::Replug(kPrefix), 0);
  EXPECT_TRUE(sent.empty());
  static_cast<void>(bare);
}

TEST_F(FakeSysfs, UsbDevicesBelowAMatchingOneKeepTheirOwnMark) {
  fs::path hub = Device("pci0000:00/usb1/1-1", "1234", "2000");
  fs::path child = Device("pci0000:00/usb1/1-1/1-1.2", "abcd", "0001");
  Volume(child, "sr3", 3);
  EXPECT_EQ(replug::Replug(kPrefix), 0);  // the hub matches, but the volume is another device's
  EXPECT_TRUE(sent.empty());
  Volume(hub, "sr4", 4);
  EXPECT_EQ(replug::Replug(kPrefix), 1);
  EXPECT_EQ(Volumes(), std::vector<std::string>{(root / "dev/sr4").string()});
}

TEST_F(FakeSysfs, ExportedFromTheLibrary) {
  auto library = platform::DynamicLibrary::Load(ORBEK_RESETUSB_PATH);
  ASSERT_NE(library, nullptr);
  auto replug = reinterpret_cast<int32_t (*)(const char*)>(library->Symbol("Replug"));
  ASSERT_NE(replug, nullptr);
  EXPECT_EQ(replug(kPrefix), 0);  // nothing plugged in the fake tree
  EXPECT_EQ(library->Symbol("FindMarkedVolumes"), nullptr);
}

}  // namespace
}  // namespace orbek

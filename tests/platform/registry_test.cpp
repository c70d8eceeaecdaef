// The posix registry: a regedit export under ORBEK_ROOT, read again when it changes.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/regedit_text.h"

namespace orbek::platform {
namespace {

const char* kExample =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum]\r\n"
    "\"Count\"=dword:00000001\r\n"
    "\"0\"=\"USB\\\\VID_1234&PID_5678&MI_00\\\\7&1a2b3c4d&0&0000\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1234&PID_5678&MI_00\\7&"
    "1a2b3c4d&"
    "0&0000\\Device Parameters]\r\n"
    "\"PortName\"=\"COM7\"\r\n";

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orbek-registry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    const char* previous = std::getenv("ORBEK_ROOT");
    hadRoot_ = previous != nullptr;
    if (hadRoot_)
      previousRoot_ = previous;
    setenv("ORBEK_ROOT", root_.c_str(), 1);
  }

  void TearDown() override {
    if (hadRoot_) {
      setenv("ORBEK_ROOT", previousRoot_.c_str(), 1);
    } else {
      unsetenv("ORBEK_ROOT");
    }
    std::filesystem::remove_all(root_);
  }

  void Write(const std::string& bytes) {
    // Replace, as the simulated stick does, so that the reader sees a new file.
    std::string temporary = root_ + "/registry.reg.new";
    std::ofstream(temporary, std::ios::binary) << bytes;
    std::filesystem::rename(temporary, root_ + "/registry.reg");
  }

  std::string root_;
  std::string previousRoot_;
  bool hadRoot_ = false;
};

TEST_F(RegistryFile, ReadsTheDriverServiceEntries) {
  Write(kExample);
  auto service = OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum");
  ASSERT_NE(service, nullptr);
  uint32_t count = 0;
  ASSERT_TRUE(service->ReadDword("Count", count));
  EXPECT_EQ(count, 1u);
  std::string instance;
  ASSERT_TRUE(service->ReadString("0", instance));
  EXPECT_EQ(instance, "USB\\VID_1234&PID_5678&MI_00\\7&1a2b3c4d&0&0000");

  // Key names compare without regard to case, and the instance id leads to its port name.
  auto parameters =
      OpenLocalMachineKey("system\\currentcontrolset\\enum\\" + instance + "\\Device Parameters");
  ASSERT_NE(parameters, nullptr);
  std::string port;
  ASSERT_TRUE(parameters->ReadString("PortName", port));
  EXPECT_EQ(port, "COM7");
}

TEST_F(RegistryFile, ReadsUtf16WithByteOrderMark) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string(kExample)) {
    utf16 += c;
    utf16 += '\0';
  }
  Write(utf16);
  auto key = OpenLocalMachineKey(
      "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1234&PID_5678&MI_00\\7&1a2b3c4d&0&0000\\Device "
      "Parameters");
  ASSERT_NE(key, nullptr);
  std::string port;
  EXPECT_TRUE(key->ReadString("PortName", port));
  EXPECT_EQ(port, "COM7");
}

TEST_F(RegistryFile, MissingKeysValuesAndWrongTypesFail) {
  Write(kExample);
  EXPECT_EQ(OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Services\\Tavrousbser6k\\Enum"),
            nullptr);
  auto service = OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum");
  ASSERT_NE(service, nullptr);
  std::string text = "unchanged";
  uint32_t number = 99;
  EXPECT_FALSE(service->ReadString("Count", text));  // a DWORD is not a text
  EXPECT_FALSE(service->ReadDword("0", number));     // nor a text a DWORD
  EXPECT_FALSE(service->ReadString("1", text));
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(number, 99u);
  EXPECT_FALSE(service->ReadString("0", text, 10));  // longer than the caller's buffer

  std::filesystem::remove(root_ + "/registry.reg");
  EXPECT_EQ(OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum"), nullptr);
}

TEST_F(RegistryFile, TruncatedFileKeepsOnlyCompleteEntries) {
  std::string example = kExample;
  Write(example.substr(0, example.find("COM7") + 2));  // cut inside the last value
  auto parameters = OpenLocalMachineKey(
      "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1234&PID_5678&MI_00\\7&1a2b3c4d&0&0000\\Device "
      "Parameters");
  ASSERT_NE(parameters, nullptr);
  std::string port;
  EXPECT_FALSE(parameters->ReadString("PortName", port));

  Write(example.substr(0, 20));  // not even the header
  EXPECT_EQ(OpenLocalMachineKey("SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum"), nullptr);
}

// Only a regular file of a sane size is an export: a pipe would block the search for ever, a
// device would be read without end.
TEST_F(RegistryFile, OnlyARegularFileIsRead) {
  const std::string path = root_ + "/registry.reg";
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\qcusbser6k\\Enum";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(OpenLocalMachineKey(key), nullptr);  // at once, with no writer on the pipe
  std::filesystem::remove(path);
  std::filesystem::create_symlink("/dev/zero", path);
  EXPECT_EQ(OpenLocalMachineKey(key), nullptr);
  std::filesystem::remove(path);
  Write(kExample);
  EXPECT_NE(OpenLocalMachineKey(key), nullptr);
}

TEST(RegeditText, QuotingRoundTrips) {
  std::string tricky = "a\\b\"c\\\\";
  std::string text = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=" +
                     RegeditQuote(tricky) + "\n\"d\"=dword:0000001G\n";
  RegeditKeys keys = ParseRegedit(text);
  ASSERT_EQ(keys.count("HKEY_LOCAL_MACHINE\\K"), 1u);
  EXPECT_EQ(keys["HKEY_LOCAL_MACHINE\\K"]["v"].text, tricky);
  EXPECT_EQ(keys["HKEY_LOCAL_MACHINE\\K"].count("d"), 0u);  // not a hexadecimal number
}

}  // namespace
}  // namespace orbek::platform

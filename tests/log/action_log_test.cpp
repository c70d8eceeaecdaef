#include "log/action_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/language.h"
#include "platform/text_encoding.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;

using testing::ReadFileText;

TEST(Stamps, PlainDecimalWithoutLeadingZeros) {
  const LocalTime time{2010, 7, 16, 9, 5, 3};
  EXPECT_EQ(StatusStamp(time), "2010.7.16 9:5:3");
  EXPECT_EQ(FileStamp(time), "2010716953");
  // Different dates can share a file stamp.
  EXPECT_EQ(FileStamp({2010, 1, 11, 8, 0, 0}), FileStamp({2010, 11, 1, 8, 0, 0}));
}

TEST(LegacyText, LatinAsWindows1252AndTheRestAsGbk) {
  EXPECT_EQ(platform::Utf8ToLegacy("Gerät"), "Ger\xE4t");
  EXPECT_EQ(platform::Utf8ToLegacy("——"), "\xA1\xAA\xA1\xAA");
  EXPECT_EQ(platform::Utf8ToLegacy("Load Fail图标失败!"),
            "Load Fail\xCD\xBC\xB1\xEA\xCA\xA7\xB0\xDC!");
  EXPECT_EQ(platform::Utf8ToLegacy("\xFF"
                                   "a"),
            "?a");                                             // not UTF-8
  EXPECT_EQ(platform::Utf8ToLegacy("\xF0\x9F\x98\x80"), "?");  // no 8-bit form
}

class ActionLogFiles : public ::testing::Test {
 protected:
  testing::RegistryRoot root;  // a private directory to write in
  std::string logs = LogDirectory(root.Path());
};

TEST_F(ActionLogFiles, WritesTheWholeStatusLogWithCrLf) {
  const LocalTime time{2010, 7, 16, 9, 5, 3};
  WriteActionLog(logs, 0, "2010.7.16 9:5:3——Gerät bereit\n线路1\n", time);
  const std::string path = root.Path() + "/Logs/ActionLog1_2010716953.txt";
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(ReadFileText(path),
            "2010.7.16 9:5:3\xA1\xAA\xA1\xAAGer\xE4t bereit\r\n\xCF\xDF\xC2\xB7"
            "1\r\n");

  // The same line within the same second replaces the file.
  WriteActionLog(logs, 0, "second\n", time);
  EXPECT_EQ(ReadFileText(path), "second\r\n");
  WriteActionLog(logs, 7, "other line\n", time);
  EXPECT_TRUE(fs::exists(root.Path() + "/Logs/ActionLog8_2010716953.txt"));
}

TEST_F(ActionLogFiles, UnwritableDirectoryLeavesNoTrace) {
  const std::string blocker = root.Path() + "/not-a-directory";
  std::ofstream(blocker) << "x";
  WriteActionLog(LogDirectory(blocker), 0, "lost\n", {2010, 7, 16, 9, 5, 3});
  EXPECT_FALSE(fs::exists(blocker + "/Logs"));
}

TEST_F(ActionLogFiles, EnsureDirectoryCreatesOneLevel) {
  EXPECT_TRUE(EnsureDirectory(root.Path()));
  EXPECT_TRUE(EnsureDirectory(root.Path() + "\\new\\"));
  EXPECT_TRUE(fs::is_directory(root.Path() + "/new"));
  EXPECT_FALSE(EnsureDirectory(root.Path() + "\\a\\b"));
  EXPECT_TRUE(EnsureDirectory("C:\\"));
}

TEST(Platform, WindowsPathsUnderTheRoot) {
  testing::RegistryRoot root;
  EXPECT_EQ(platform::NativePath("C:\\Program Files\\Windows Service"),
            root.Path() + "/drive_c/Program Files/Windows Service");
  EXPECT_EQ(platform::NativePath("/tmp\\Logs\\a.txt"), "/tmp/Logs/a.txt");
}

TEST(Platform, LanguageFromTheLocale) {
  const char* saved[] = {std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")};
  std::string values[3];
  for (int i = 0; i < 3; ++i)
    values[i] = saved[i] != nullptr ? saved[i] : "";
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(platform::SystemDefaultLanguageId(), 0x0407);
  setenv("LANG", "de_AT.UTF-8", 1);
  EXPECT_EQ(platform::SystemDefaultLanguageId(), 0x0C07);
  setenv("LC_ALL", "en_GB.UTF-8", 1);
  EXPECT_EQ(platform::SystemDefaultLanguageId(), 0x0409);
  unsetenv("LC_ALL");
  unsetenv("LANG");
  EXPECT_EQ(platform::SystemDefaultLanguageId(), 0x0409);
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (int i = 0; i < 3; ++i) {
    if (saved[i] != nullptr)
      setenv(names[i], values[i].c_str(), 1);
  }
}

}  // namespace
}  // namespace orbek

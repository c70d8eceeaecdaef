// Extraction of the embedded package, its paths and its deletions.
#include "package/image_package.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "host/connection_manager.h"
#include "platform/regedit_text.h"
#include "tests/support/file_contents.h"
#include "tests/support/recording_cmd.h"
#include "tests/support/registry_root.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;

using testing::ReadFileText;

fs::path MadeFile(const std::string& name) {
  return name == "ResetUSB.dll" ? fs::path(ORBEK_RESETUSB_PATH)
                                : fs::path(ORBEK_PACKAGE_FILE_DIR) / name;
}

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(installDir); }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const RecordingForm::Box& box : form.Boxes())
      texts.push_back(box.text);
    return texts;
  }

  void ExpectEveryFileAsEmbedded() {
    for (const PackageFile& file : kImagePackage) {
      const std::string made = ReadFileText(MadeFile(file.fileName));
      ASSERT_FALSE(made.empty()) << file.fileName;
      EXPECT_TRUE(ReadFileText(installDir / file.fileName) == made) << file.fileName;
    }
  }

  testing::RegistryRoot root;
  fs::path installDir =
      fs::path(root.Path()) / "drive_c/Program Files/Windows Service/Tazlonewversion";
  // At the stop the script must already lie there and the re-plug library not yet.
  testing::RecordingCmd cmd{
      root.Path(), "test -e killsvr.bat && test ! -e ResetUSB.dll && echo ordered >> \"$LOG\""};
  RecordingForm form;
  CVarnelDoc doc;
  CVarnelView view{form, doc, false, ""};
  ConnectionManager manager{kInstallDirectory};
};

TEST_F(Extraction, EveryFileIsWrittenAsEmbeddedWithTheStopBeforeTheLibrary) {
  ExtractPackage(view, manager);
  ExpectEveryFileAsEmbedded();
  EXPECT_TRUE(BoxTexts().empty());
  const std::string log = cmd.Log();
  EXPECT_EQ(log, installDir.string() + " /c call killsvr.bat\nordered\n");
}

TEST_F(Extraction, SecondStartReplacesChangedFiles) {
  ExtractPackage(view, manager);
  std::ofstream(installDir / "partition.mbn", std::ios::binary) << "changed";
  std::ofstream(installDir / "efs.mbn", std::ios::binary | std::ios::app) << "tail";
  fs::remove(installDir / "NVApp.ini");
  ExtractPackage(view, manager);
  ExpectEveryFileAsEmbedded();
}

TEST_F(Extraction, UnwritableFileIsReportedOnceAndTheRestGoesOn) {
  fs::create_directories(installDir / "amss.mbn");  // cannot be opened for writing
  ExtractPackage(view, manager);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"read amss.mbn fail!"});
  EXPECT_EQ(form.Boxes()[0].caption, "Orbek Updater");
  for (const PackageFile& file : kImagePackage) {
    if (std::string(file.fileName) != "amss.mbn") {
      EXPECT_TRUE(ReadFileText(installDir / file.fileName) ==
                  ReadFileText(MadeFile(file.fileName)));
    }
  }
  EXPECT_TRUE(cmd.Ran());
}

TEST_F(Extraction, WriteThatFailsPartWayIsAFailureAndLeavesNoPartialImage) {
  fs::create_symlink("/dev/full", installDir / "efs.mbn");  // every write: no space left
  EXPECT_FALSE(ExtractImage(view, 166, "efs.mbn"));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"read efs.mbn fail!"});
  EXPECT_FALSE(fs::exists(fs::symlink_status(installDir / "efs.mbn")));
}

TEST_F(Extraction, MissingResourceWritesAnEmptyFile) {
  std::ofstream(installDir / "old.bin") << "old";
  EXPECT_TRUE(ExtractImage(view, 999, "old.bin"));
  EXPECT_EQ(fs::file_size(installDir / "old.bin"), 0u);
  EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(Extraction, DeleteImagesKeepsProgrammersScriptsAndLibrary) {
  ExtractPackage(view, manager);
  std::ofstream(installDir / "tessard.bat") << "set";
  DeleteImages();
  std::set<std::string> left;
  for (const fs::directory_entry& entry : fs::directory_iterator(installDir))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"nandprghd.mbn", "nandprgcombined.mbn", "NVApp.ini",
                                         "killsvr.bat", "tessard.bat", "ResetUSB.dll"}));
}

TEST_F(Extraction, RemovePackageDeletesTheLibraryAndRestartsAFoundManager) {
  root.Write("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
             std::string(kConnectionManagerKey) +
             "]\n\"InstallLocation\"=" + platform::RegeditQuote("C:\\CM") + "\n");
  fs::create_directories(fs::path(root.Path()) / "drive_c/CM/Bin");
  ExtractPackage(view, manager);
  ASSERT_TRUE(manager.cmPresent());
  RemovePackage(nullptr, manager);
  std::set<std::string> left;
  for (const fs::directory_entry& entry : fs::directory_iterator(installDir))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"nandprghd.mbn", "nandprgcombined.mbn", "NVApp.ini",
                                         "killsvr.bat", "tessard.bat"}));
  EXPECT_NE(cmd.Log().find(installDir.string() + " /c call tessard.bat\n"), std::string::npos);
}

TEST(PackagePaths, DriveRootTakesTheNameDirectly) {
  testing::RegistryRoot root;
  std::string path;
  EXPECT_FALSE(FileExistsIn("C:\\", "a.bin", path));
  EXPECT_EQ(path, "C:\\a.bin");
  fs::create_directories(fs::path(root.Path()) / "drive_c/dir");
  std::ofstream(fs::path(root.Path()) / "drive_c/dir/a.bin") << "x";
  EXPECT_TRUE(FileExistsIn("C:\\dir", "a.bin", path));
  EXPECT_EQ(path, "C:\\dir\\a.bin");
}

TEST(PackagePaths, LineZeroGetsEveryImagePath) {
  LineSession line;
  SetImagePaths(line);
  const std::string dir = "C:\\Program Files\\Windows Service\\Tazlonewversion";
  EXPECT_EQ(line.imageDirectory, dir);
  EXPECT_EQ(line.partitionPath, dir + "\\partition.mbn");
  EXPECT_EQ(line.qcsblHeaderPath, dir + "\\qcsblhd_cfgdata.mbn");
  EXPECT_EQ(line.oemsblHeaderPath, dir + "\\oemsblhd.mbn");
  EXPECT_EQ(line.amssHeaderPath, dir + "\\amsshd.mbn");
  EXPECT_EQ(line.efsPath, dir + "\\efs.mbn");
  EXPECT_EQ(line.nandprgHeaderPath, dir + "\\nandprghd.mbn");
  EXPECT_EQ(line.nandprgPath, dir + "\\nandprgcombined.mbn");
}

}  // namespace
}  // namespace orbek

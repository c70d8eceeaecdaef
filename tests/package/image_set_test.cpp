// The package the maker writes, the version-record lookup and the image-set check.
#include "package/image_set.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "sim/stick_config.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "tools/package_maker.h"

namespace orbek {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const fs::path& path) {
  return testing::ReadFileBytes(path);
}

uint32_t Word(const Bytes& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(tools::MakePackage(dir.string(), tools::SmallPackageSizes(), 7, error)) << error;
    view.doc().lines[0].imageDirectory = dir.string();
    view.doc().lines[0].amssPath = (dir / "amss.mbn").string();
    view.doc().lines[0].stickState = kStickAnswers;
  }

  void WriteFile(const std::string& name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  testing::RegistryRoot root;
  fs::path dir = fs::path(root.Path()) / "package";
  RecordingForm form;
  CVarnelDoc doc;
  CVarnelView view{form, doc, false, "/tmp"};
};

TEST_F(Package, LayoutsAreConsistent) {
  const tools::PackageSizes sizes = tools::SmallPackageSizes();
  const Bytes amss = ReadAll(dir / "amss.mbn");
  const Bytes amssHeader = ReadAll(dir / "amsshd.mbn");
  ASSERT_EQ(amssHeader.size(), 40u);
  EXPECT_EQ(Word(amssHeader, 16), amss.size());  // image size = length of the data file
  EXPECT_EQ(Word(amssHeader, 24), 0x00134000u + amss.size());
  EXPECT_EQ(Word(ReadAll(dir / "oemsblhd.mbn"), 16), ReadAll(dir / "oemsbl.mbn").size());

  const Bytes programmer = ReadAll(dir / "nandprgcombined.mbn");
  EXPECT_EQ(ReadAll(dir / "nandprghd.mbn"), Bytes(programmer.begin(), programmer.begin() + 40));
  const Bytes armprg = ReadAll(dir / "armprg.bin");
  EXPECT_EQ(Bytes(armprg.begin(), armprg.begin() + 40),
            Bytes(programmer.begin(), programmer.begin() + 40));
  EXPECT_EQ(Word(programmer, 12), 0x00800028u);
  EXPECT_EQ(Word(programmer, 16), programmer.size() - 40);

  const Bytes table = ReadAll(dir / "partition.mbn");
  ASSERT_EQ(table.size(), 464u);
  EXPECT_EQ(Word(table, 0), 0xAA7D1B9Au);
  EXPECT_EQ(Word(table, 4), 0x1F7D48BCu);
  EXPECT_EQ(Word(table, 8), 3u);
  EXPECT_EQ(Word(table, 12), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&table[16])), "0:MIBIB");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&table[16 + 9 * 28])), "0:EFS2");
  EXPECT_EQ(Word(table, 16 + 9 * 28 + 16), 0xFFFFFFFFu);

  EXPECT_EQ(Bytes(amss.begin(), amss.begin() + 4), (Bytes{0x7F, 'E', 'L', 'F'}));
  EXPECT_EQ(amss[4], 1);    // 32-bit
  EXPECT_EQ(amss[5], 1);    // little-endian
  EXPECT_EQ(amss[18], 40);  // ARM
  FirmwareRecord record{};
  ASSERT_EQ(FindVersionRecordInFile((dir / "amss.mbn").string(), record), RecordLookup::Found);
  EXPECT_EQ(Bytes(record.begin(), record.end()), tools::FirmwareVersionRecord());
  EXPECT_EQ(Bytes(amss.begin() + sizes.amssRecordOffset, amss.begin() + sizes.amssRecordOffset + 4),
            (Bytes{0x2C, 0x1A, 0xBE, 0x6E}));
  // The stick the simulator plays accepts the package's firmware.
  EXPECT_EQ(tools::FirmwareVersionRecord(), sim::DefaultFirmwareRecord());

  const Bytes script = ReadAll(dir / "killsvr.bat");
  const std::string text(script.begin(), script.end());
  EXPECT_NE(text.find("taskkill /F /IM tessard.exe\r\ntaskkill /F /IM dbus-daemon.exe\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("Kill /f tessphone.exe\r\n"), std::string::npos);

  // The same seed makes the same package.
  const fs::path again = fs::path(root.Path()) / "again";
  std::string error;
  ASSERT_TRUE(tools::MakePackage(again.string(), tools::SmallPackageSizes(), 7, error));
  EXPECT_EQ(ReadAll(again / "efs.mbn"), ReadAll(dir / "efs.mbn"));
}

TEST_F(Package, VersionRecordRules) {
  FirmwareRecord record;
  record.fill(0xEE);
  Bytes image(4096, 0);
  image[2] = 0x2C, image[3] = 0x1A, image[4] = 0xBE, image[5] = 0x6E;  // not aligned
  WriteFile("unaligned.mbn", image);
  EXPECT_EQ(FindVersionRecordInFile((dir / "unaligned.mbn").string(), record),
            RecordLookup::NotFound);

  for (size_t at : {512u, 1024u}) {
    image[at] = 0x2C, image[at + 1] = 0x1A, image[at + 2] = 0xBE, image[at + 3] = 0x6E;
    image[at + 4] = static_cast<uint8_t>(at >> 8);
  }
  WriteFile("two.mbn", image);
  ASSERT_EQ(FindVersionRecordInFile((dir / "two.mbn").string(), record), RecordLookup::Found);
  EXPECT_EQ(record[4], 2);  // the first, at 512

  Bytes tail(200, 0);
  tail[120] = 0x2C, tail[121] = 0x1A, tail[122] = 0xBE, tail[123] = 0x6E, tail[199] = 0x42;
  WriteFile("tail.mbn", tail);
  record.fill(0xEE);
  ASSERT_EQ(FindVersionRecordInFile((dir / "tail.mbn").string(), record), RecordLookup::Found);
  EXPECT_EQ(record[79], 0x42);  // the last byte of the file
  EXPECT_EQ(record[80], 0xEE);  // beyond it the record keeps what it held

  Bytes odd = {0, 0, 0, 0, 0x2C, 0x1A, 0xBE};  // the last bytes of an odd length are not examined
  WriteFile("odd.mbn", odd);
  EXPECT_EQ(FindVersionRecordInFile((dir / "odd.mbn").string(), record), RecordLookup::NotFound);

  doc.lines[0].amssPath = (dir / "missing.mbn").string();
  EXPECT_FALSE(FindVersionRecord(view.Handle(0), record));
  EXPECT_EQ(form.Text(1168), "open file fail");
}

TEST_F(Package, ImageSetCheck) {
  EXPECT_TRUE(CheckImageSet(view.Handle(0), true));
  doc.lines[0].stickState = kStickSilent;
  EXPECT_FALSE(CheckImageSet(view.Handle(0), true));
  EXPECT_TRUE(CheckImageSet(view.Handle(0), false));
  EXPECT_TRUE(form.Boxes().empty());

  fs::remove(dir / "oemsbl.mbn");
  EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
  EXPECT_TRUE(form.Boxes().empty());

  WriteFile("partition.mbn", {});
  EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
  fs::remove(dir / "partition.mbn");
  EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
  CVarnelView german(form, doc, true, "/tmp");
  EXPECT_FALSE(CheckImageSet(german.Handle(0), false));
  auto boxes = form.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Line1: Open wrong partition.mbn! ");
  EXPECT_EQ(boxes[1].text, "Line1: can't open partition.mbn!");
  EXPECT_EQ(boxes[2].text, "Download fehlgeschlagen");
  EXPECT_EQ(boxes[0].caption, "Orbek Updater");

  doc.lines[0].imageDirectory.clear();
  EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
  EXPECT_EQ(form.Boxes().size(), 3u);
}

// Every file the update opens after the stick has left normal operation is checked before it
// starts, the flash programmer's included: a directory, an empty file or a missing one in its
// place stops the update before it begins.
TEST_F(Package, EveryFileTheUpdateOpensIsChecked) {
  for (const char* name :
       {"qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn", "oemsbl.mbn", "amsshd.mbn", "amss.mbn",
        "armprg.bin", "nandprghd.mbn", "nandprgcombined.mbn", "efs.mbn"}) {
    SCOPED_TRACE(name);
    const Bytes original = testing::ReadFileBytes((dir / name).string());
    fs::remove(dir / name);
    fs::create_directory(dir / name);
    EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
    fs::remove(dir / name);
    EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
    WriteFile(name, {});
    EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
    WriteFile(name, original);
    EXPECT_TRUE(CheckImageSet(view.Handle(0), false));
  }
  EXPECT_TRUE(form.Boxes().empty());
}

TEST_F(Package, ImageThatIsADirectoryIsNoImage) {
  fs::remove(dir / "amss.mbn");
  fs::create_directory(dir / "amss.mbn");
  EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
  fs::remove(dir / "partition.mbn");
  fs::create_directory(dir / "partition.mbn");
  EXPECT_FALSE(CheckImageSet(view.Handle(0), false));
  ASSERT_EQ(form.Boxes().size(), 1u);
  EXPECT_EQ(form.Boxes()[0].text, "Line1: can't open partition.mbn!");
}

}  // namespace
}  // namespace orbek

#include "tools/package_maker.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/byte_order.h"

namespace orbek::tools {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRecordMarker = 0x6EBE1A2C;  // 2C 1A BE 6E as read little-endian
constexpr uint32_t kProgrammerDestination = 0x00800028;

// Ten little-endian words: id, version, source offset, destination, image size, code size,
// signature address and size, certificate chain address and size.
Bytes ImageHeader(uint32_t imageId, uint32_t sourceOffset, uint32_t destination, uint32_t size) {
  Bytes header;
  for (uint32_t word : {imageId, 3u, sourceOffset, destination, size, size, destination + size, 0u,
                        destination + size, 0u}) {
    AppendLe32(header, word);
  }
  return header;
}

Bytes Random(std::mt19937& random, size_t length) {
  Bytes bytes(length);
  for (auto& byte : bytes)
    byte = static_cast<uint8_t>(random());
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes PartitionTable() {
  struct Entry {
    const char* name;
    uint32_t size;
  };
  static const Entry kEntries[] = {{"0:MIBIB", 10},       {"0:SIM_SECURE", 3}, {"0:QCSBL", 3},
                                   {"0:OEMSBL1", 5},      {"0:OEMSBL2", 5},    {"0:AMSS", 120},
                                   {"0:NANDPRG", 3},      {"0:FOTA", 40},      {"0:FTL", 5},
                                   {"0:EFS2", 0xFFFFFFFF}};
  Bytes table;
  for (uint32_t word : {0xAA7D1B9Au, 0x1F7D48BCu, 3u, 10u})
    AppendLe32(table, word);
  for (const Entry& entry : kEntries) {
    std::string name = entry.name;
    name.resize(16, '\0');
    table.insert(table.end(), name.begin(), name.end());
    AppendLe32(table, entry.size);
    AppendLe16(table, 0);  // spare size
    AppendLe16(table, 0);  // flash number
    for (uint8_t attribute : {0xFF, 0x01, 0x00, 0xFF})
      table.push_back(attribute);
  }
  table.resize(464, 0);
  return table;
}

// A 32-bit little-endian ARM ELF executable of `size` bytes with the version record at
// `recordOffset`, and no other aligned marker before it.
Bytes ModemImage(std::mt19937& random, uint32_t size, uint32_t recordOffset) {
  Bytes image = Random(random, size);
  Bytes elf = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  AppendLe16(elf, 2);                    // executable
  AppendLe16(elf, 40);                   // ARM
  AppendLe32(elf, 1);                    // version
  AppendLe32(elf, 0x00134000 + 0x1000);  // entry
  AppendLe32(elf, 52);                   // program headers
  AppendLe32(elf, 0);                    // no section headers
  AppendLe32(elf, 0x05000002);
  AppendLe16(elf, 52);  // header size
  AppendLe16(elf, 32);  // program header size
  AppendLe16(elf, 1);
  AppendLe16(elf, 40);
  AppendLe16(elf, 0);
  AppendLe16(elf, 0);
  for (uint32_t word :
       {1u, 0x1000u, 0x00134000u, 0x00134000u, size - 0x1000u, size - 0x1000u, 7u, 0x1000u}) {
    AppendLe32(elf, word);  // one loadable segment
  }
  std::copy(elf.begin(), elf.end(), image.begin());
  for (uint32_t offset = 0; offset + 4 <= recordOffset; offset += 4) {
    if (Le32(image, offset) == kRecordMarker)
      image[offset] ^= 0xFF;
  }
  const Bytes record = FirmwareVersionRecord();
  std::copy(record.begin(), record.end(), image.begin() + recordOffset);
  return image;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  return text;
}

std::string KillServerScript() {
  const char* names[] = {"tessard.exe", "dbus-daemon.exe", "tessdb.exe", "gconfd-2.exe",
                         "tessphone.exe"};
  std::vector<std::string> lines = {"@echo off", "if \"%1\"==\"W2K\" goto oldkill",
                                    "if \"%1\"==\"NT4\" goto oldkill"};
  for (const char* name : names)
    lines.push_back(std::string("taskkill /F /IM ") + name);
  lines.push_back("goto end");
  lines.push_back(":oldkill");
  for (const char* name : names)
    lines.push_back(std::string("Kill /f ") + name);
  lines.push_back(":end");
  lines.push_back("exit");
  return Lines(lines);
}

std::string NvPresets() {
  return Lines({"[NVApp]", "Version=3", "Count=6", "Item1=10,0", "Item2=22,1", "Item3=25,1",
                "Item4=71,1", "Item5=550,0", "Item6=4051,0", "", "[Options]", "Restore=1",
                "SkipInactive=1"});
}

bool Write(const std::filesystem::path& path, const void* data, size_t length, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
  if (!out) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

}  // namespace

PackageSizes SmallPackageSizes() {
  return {1200000, 1060008, 60000, 20000, 12000, 400000};
}

PackageSizes ReleasePackageSizes() {
  return {14792191, 13116820, 251358, 106912, 45753, 34404352};
}

std::vector<uint8_t> FirmwareVersionRecord() {
  Bytes record(128, 0);
  const uint8_t marker[] = {0x2C, 0x1A, 0xBE, 0x6E};
  std::copy(std::begin(marker), std::end(marker), record.begin());
  const std::string version = "R415C1_FW_1.2.0.18";
  std::copy(version.begin(), version.end(), record.begin() + 8);
  return record;
}

bool MakePackage(const std::string& directory, const PackageSizes& sizes, uint32_t seed,
                 std::string& error) {
  if (sizes.amssRecordOffset % 4 != 0 || sizes.amssRecordOffset + 128 > sizes.amss ||
      sizes.amssRecordOffset < 0x1000) {
    error = "the version record must lie 4-byte aligned inside amss.mbn, after its ELF head";
    return false;
  }
  namespace fs = std::filesystem;
  std::error_code fsError;
  fs::create_directories(directory, fsError);
  const fs::path dir(directory);
  std::mt19937 random(seed);

  const Bytes amss = ModemImage(random, sizes.amss, sizes.amssRecordOffset);
  const Bytes oemsbl = Random(random, sizes.oemsbl);
  const Bytes programmerHeader = ImageHeader(5, 1370, kProgrammerDestination, sizes.programmerCode);
  const Bytes programmer = Concat(programmerHeader, Random(random, sizes.programmerCode));
  const Bytes armprg = Concat(programmerHeader, Random(random, sizes.programmerCode));
  const std::string nvPresets = NvPresets();
  const std::string killServer = KillServerScript();

  const struct {
    const char* name;
    Bytes bytes;
  } files[] = {
      {"amsshd.mbn", ImageHeader(2, 0, 0x00134000, sizes.amss)},
      {"amss.mbn", amss},
      {"armprg.bin", armprg},
      {"efs.mbn", Random(random, sizes.efs)},
      {"oemsblhd.mbn", ImageHeader(1, 0, 0x00020000, sizes.oemsbl)},
      {"oemsbl.mbn", oemsbl},
      {"partition.mbn", PartitionTable()},
      {"qcsblhd_cfgdata.mbn", Random(random, 1339)},
      {"qcsbl.mbn", Random(random, sizes.qcsbl)},
      {"nandprghd.mbn", programmerHeader},
      {"nandprgcombined.mbn", programmer},
      {"NVApp.ini", Bytes(nvPresets.begin(), nvPresets.end())},
      {"killsvr.bat", Bytes(killServer.begin(), killServer.end())},
  };
  for (const auto& file : files) {
    if (!Write(dir / file.name, file.bytes.data(), file.bytes.size(), error))
      return false;
  }
  return true;
}

}  // namespace orbek::tools

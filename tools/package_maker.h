// Writes a self-consistent firmware package with the layouts the updater and the stick expect:
// image headers, partition table, an ARM ELF modem image carrying its version record, boot
// loaders, flash programmers, the EFS image, the NV preset list and the script that stops the
// connection manager. Contents are deterministic for a given seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orbek::tools {

struct PackageSizes {
  uint32_t amss;
  uint32_t amssRecordOffset;  // a multiple of 4
  uint32_t oemsbl;
  uint32_t programmerCode;  // armprg.bin and nandprgcombined.mbn after their 40-byte header
  uint32_t qcsbl;
  uint32_t efs;
};

// A few MB in all, for tests and everyday builds.
PackageSizes SmallPackageSizes();
// The sizes of the release (amss.mbn 14,792,191 bytes with its record at 13,116,820 ...).
PackageSizes ReleasePackageSizes();

// The 128-byte firmware version record the package's amss.mbn carries.
std::vector<uint8_t> FirmwareVersionRecord();

// Writes every package file into `directory` (created when missing); false with `error` set.
bool MakePackage(const std::string& directory, const PackageSizes& sizes, uint32_t seed,
                 std::string& error);

}  // namespace orbek::tools

// The two places the updater reads its package files itself: the check that the image set is
// complete before an update starts, and the lookup of the firmware version record inside the
// modem firmware image (which the stick's download check receives).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "line/line_handle.h"

namespace orbek {

inline constexpr size_t kVersionRecordLength = 128;
using FirmwareRecord = std::array<uint8_t, kVersionRecordLength>;

enum class RecordLookup { Found, NotFound, OpenFailed };

// The first 128-byte record in `nativePath` that begins with 2C 1A BE 6E at a 4-byte-aligned
// offset (the last 1 to 3 bytes of a file whose length is not a multiple of 4 are not looked
// at). A record that runs past the end of the file is read short: its remaining bytes keep
// their earlier content.
RecordLookup FindVersionRecordInFile(const std::string& nativePath, FirmwareRecord& record);

// The record of the line's amss.mbn; "open file fail" on the line's status when the file does
// not open.
bool FindVersionRecord(const LineHandle& line, FirmwareRecord& record);

// The download check: the record of the line's amss.mbn (zeros when there is none) goes to the
// stick, and again after each wait of `retryWaitsMs` while it fails. True when the stick passed
// it; callers go on either way.
bool SendVersionRecord(const LineHandle& line, std::initializer_list<uint32_t> retryWaitsMs);

// The files the image-set check looks at besides partition.mbn: every one the update opens.
inline constexpr const char* kCheckedImages[] = {
    "qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn", "oemsbl.mbn",
    "amsshd.mbn",          "amss.mbn",  "armprg.bin",   "nandprghd.mbn",
    "nandprgcombined.mbn", "efs.mbn"};

// True when the line's image files are there, readable regular files and not empty (and, with
// `requireStick`, the stick answers). Only partition.mbn's failures show a message box.
bool CheckImageSet(const LineHandle& line, bool requireStick);

}  // namespace orbek

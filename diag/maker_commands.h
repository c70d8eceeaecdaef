// The stick maker's extended DIAG commands: the version table, the download check, the
// challenge and its answer, and the autorun and 0xAA settings. All but the version table are
// subsystem requests (0x4B) written byte by byte and compared on the reply as it was received.
#pragma once

#include <array>
#include <cstdint>

#include "diag/md5.h"
#include "link/phone_link.h"

namespace orbek {

using VersionRecord = std::array<uint8_t, kVersionRecordSize>;
using FirmwareVersionBlock = std::array<uint8_t, 128>;
using Challenge = std::array<uint8_t, 8>;

inline constexpr uint8_t kMakerAutorun = 0xA1;
inline constexpr uint8_t kMakerSecurity = 0xA3;
inline constexpr uint8_t kMakerFlagAA = 0xAA;

// 0x39, 1 x 300 ms: nine zero-terminated texts in 31-byte slots (slot 8 is the board tag);
// zeroed on failure.
bool ReadFourVersions(PhoneLink& link, VersionRecord& record);
// The text of one slot of a version record.
std::string VersionSlot(const VersionRecord& record, size_t slot);

// 0x4B id 05 00 + the 128-byte firmware version block, 3 x 10000 ms; the stick's status 0
// passes.
bool DownloadCheck(PhoneLink& link, const FirmwareVersionBlock& block,
                   uint8_t subsystem = kMakerSecurity);
// 0x4B A3 06 00, 1 x 1000 ms: the stick's 8-byte challenge (zeroed when the reply does not
// match).
bool GetChallenge(PhoneLink& link, Challenge& challenge);
// 0x4B A3 07 00 + 16 bytes, 1 x 1000 ms.
bool PutChallengeAnswer(PhoneLink& link, const Md5Digest& answer);
// 0x4B A1 00 00 value and 0x4B AA 00 00 value, 1 x 10000 ms.
bool SetAutorun(PhoneLink& link, uint8_t value);
bool SetFlagAA(PhoneLink& link, uint8_t value);

}  // namespace orbek

// DIAG commands to the stick's running firmware: identity, mode changes, NV items, the switch
// to download mode. Each returns true or false and leaves its message in link.reason.
#pragma once

#include <array>
#include <cstdint>

#include "link/phone_link.h"

namespace orbek {

using NvItemData = std::array<uint8_t, kNvItemDataSize>;

// 0x01, 1 x 300 ms. On failure the ESN has all 32 bits set.
bool ReadEsn(PhoneLink& link, uint32_t& esn);
// 0x7C, 1 x 300 ms: the 256 bytes after the reply's 12-byte head (zeroed on failure).
bool ReadBuildId(PhoneLink& link, std::array<uint8_t, kBuildIdSize>& buildId);
// 0x29 with mode 1 (offline), 2 (reset), 4.
bool GoOffline(PhoneLink& link);
bool ResetPhone(PhoneLink& link);
bool ChangeModeFour(PhoneLink& link);
// 0x26 / 0x27, 3 x 2000 ms. `status` is the stick's NV status, 0xFFFF when the exchange failed;
// the read's data is zeroed on every failure.
bool ReadNvItem(PhoneLink& link, uint16_t item, NvItemData& data, uint16_t& status);
bool WriteNvItem(PhoneLink& link, uint16_t item, const NvItemData& data, uint16_t& status);
// 0x3A, 1 x 20000 ms: the stick leaves its firmware for the boot loader's download mode.
bool SwitchToDownloader(PhoneLink& link);
// 0x41 with the six digits of the service programming code (a build setting).
bool SendSpc(PhoneLink& link);
bool Command5C(PhoneLink& link);
// 0x4B 04 0E 00: true only when the stick reports status 0.
bool PollSubsystemStatus(PhoneLink& link);
// ReadEsn, else the AT handshake, else ReadEsn once more.
bool CheckCommunication(PhoneLink& link);
// "AT$QCDMG" + CR straight to the diagnostic port; true when the echo and OK come back. Leaves
// link.reason alone.
bool DiagHandshake(PhoneLink& link);

// The six ASCII digits of the service programming code this build sends.
const char* ServiceProgrammingCode();

}  // namespace orbek

// The re-plug library's logic: finds the CD-ROM volumes of devices whose hardware id begins with
// the given prefix and sends each one vendor-specific SCSI command that makes the stick show its
// modem personality. ResetUSB.dll exports it as "Replug".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace orbek::replug {

// 1 when at least one CD-ROM volume of a matching device was found (and commanded), else 0.
// Once a call has seen a matching device, every later call counts it as found (the flag lasts
// as long as the library is loaded).
int32_t Replug(const char* hardwareIdPrefix);

// The command every volume receives: 85 01 01 01 01 01 01 01 01 01.
inline constexpr uint8_t kCdb[10] = {0x85, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
inline constexpr size_t kPrefixLength = 21;  // "USB\Vid_xxxx&Pid_2000"

// Sends the command to one volume (a native device path); tests watch it through this seam.
using ScsiSender =
    std::function<void(const std::string& volume, const uint8_t* cdb, size_t length)>;
void SetScsiSender(ScsiSender sender);  // empty restores the real one
void ResetFoundFlag();                  // as if the library had just been loaded

}  // namespace orbek::replug

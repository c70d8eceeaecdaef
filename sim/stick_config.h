// What a simulated stick is: its identity, its NV items, its versions and how it behaves on the
// bus. Loaded from JSON by the program; built directly by tests.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orbek::sim {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kNvItemSize = 128;
using NvData = std::array<uint8_t, kNvItemSize>;

enum class StickMode { Firmware, DmssDownload, StreamingDownload, CdromOnly, Unplugged };

// How the firmware lays out its version table reply (0x39): nine fields, eight, four of 30
// bytes, or the short one of 22, 22, 24 and 24 bytes. The host tells them apart by length.
enum class VersionLayout { Nine, Eight, Four, Short };
const char* VersionLayoutName(VersionLayout layout);
bool ParseVersionLayout(const std::string& name, VersionLayout& layout);
const char* StickModeName(StickMode mode);
bool ParseStickMode(const std::string& name, StickMode& mode);

// A firmware version record as the package carries it: 2C 1A BE 6E, then texts.
Bytes DefaultFirmwareRecord();

struct StickConfig {
  uint32_t esn = 0x80A1B2C3;
  // The texts of the extended build id reply (0x7C).
  std::string buildId = "R415C1-B01.2.0.17";
  std::string modelName = "R415C1";
  // The nine version texts: slot 0 is the firmware version, slot 2 the Windows and slot 4 the
  // Mac software version, slot 8 the board tag.
  std::array<std::string, 9> versions = {"R415C1_FW_1.2.0.17", "1.2.0.17", "WIN_1.0.5B06", "NV_1.2",
                                         "MAC_1.0.5B06",       "BOOT_1.0", "EFS_1.1",      "HW_A1",
                                         "R415C1_B01"};
  std::map<uint16_t, NvData> nvItems;
  std::set<uint16_t> inactiveNvItems;  // answer reads and writes with status 5
  std::set<uint16_t> readOnlyNvItems;  // answer writes with status 7

  StickMode initialMode = StickMode::Firmware;
  // After a reset the stick answers, drops off the bus `resetLatencyMs` later and comes back
  // `replugDelayMs` after that.
  uint32_t resetLatencyMs = 500;
  uint32_t replugDelayMs = 3000;
  // COM numbers: the diagnostic port gets firstComNumber, the modem port the next; with
  // `renumber` every re-enumeration moves on to two new numbers, as Windows does for a stick
  // that comes back with another USB identity.
  int firstComNumber = 5;
  bool renumber = true;
  bool atEcho = true;
  // The gap between the two halves of a reply split by a fault.
  uint32_t splitGapMs = 40;

  VersionLayout versionLayout = VersionLayout::Nine;
  bool versionSeparators = true;  // a zero byte after each version field
  // The subsystem poll (0x4B 04 0E 00) reports busy this many times before it reports 0.
  uint32_t subsystemBusyPolls = 2;
  // The 128-byte version record of the firmware this stick accepts in the download check.
  Bytes firmwareRecord = DefaultFirmwareRecord();
  // When set, every download check answers this status instead.
  std::optional<uint32_t> downloadCheckStatus;
  // Seed of the challenges; unset = a new random seed each run.
  std::optional<uint64_t> challengeSeed;
  // The diagnostic port speaks AT until it receives "AT$QCDMG".
  bool diagPortStartsInAtMode = false;
  // The boot loader's flash size byte in its parameter reply.
  uint8_t flashSizeCode = 5;
  // The NAND the flash programmer writes, in MiB: its images together take no more.
  uint32_t flashMiB = 128;
  // Writing the EFS image loses every NV item but the write-protected ones, as on the stick.
  bool efsWipesNv = true;
  // The stick keeps its ESN in NV item 0 alone: the ESN command answers that item (0 while it is
  // inactive or gone), and writing the EFS image wipes items 0 and 550 too, read-only or not.
  bool esnInNv = false;
  // The flash lacks a whole image set, as an update that stopped part-way leaves it: the stick
  // can start only its boot loader (start it with `initialMode` DMSS download, or streaming for
  // a programmer still running).
  bool flashIncomplete = false;
  // Where the stick is plugged in: its USB device path, as Linux names it ("1-1", "1-2", ...).
  std::string location = "1-1";
};

// A USB device path as Linux names it: the bus, a dash, then the ports down the hubs joined by
// dots ("1-1", "2-1.4"); nothing else becomes a folder name.
bool IsUsbLocation(const std::string& text);

// Built-in items of a stick fresh from the factory: item 0 (ESN), 22 and a few calibration
// items, each with deterministic contents.
StickConfig DefaultStickConfig();
// The stick's identity, as a stick keeps it: its ESN, also in NV item 0, and its IMEI (15 digits)
// in item 550.
void GiveIdentity(StickConfig& config, uint32_t esn, const std::string& imeiDigits);

// COM numbers each stick of several keeps for itself: it moves on two at every re-enumeration.
inline constexpr int kComNumbersPerStick = 24;
// Stick `index` (from 0) of `count` plugged in together: the configured one, then each with an
// ESN and IMEI, COM numbers and a USB socket ("1-1" ... "1-8") of its own.
StickConfig ConfigOfStick(const StickConfig& base, int index, int count);

}  // namespace orbek::sim

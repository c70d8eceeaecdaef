// What a simulated stick is: its identity, its NV items, its versions and how it behaves on the
// bus. Loaded from JSON by the program; built directly by tests.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace orbek::sim {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kNvItemSize = 128;
using NvData = std::array<uint8_t, kNvItemSize>;

enum class StickMode { Firmware, DmssDownload, StreamingDownload, CdromOnly, Unplugged };
const char* StickModeName(StickMode mode);
bool ParseStickMode(const std::string& name, StickMode& mode);

struct StickConfig {
  uint32_t esn = 0x80A1B2C3;
  // The texts of the extended build id reply (0x7C).
  std::string buildId = "R415C1-B01.2.0.17";
  std::string modelName = "R415C1";
  // The nine version texts; slot 0 is the firmware version, slot 8 the board tag.
  std::array<std::string, 9> versions = {
      "R415C1_FW_1.2.0.17", "1.2.0.17", "WIN_2.1.3", "MAC_1.0.8", "NV_1.2",
      "BOOT_1.0",           "EFS_1.1",  "HW_A1",     "R415C1_B01"};
  std::map<uint16_t, NvData> nvItems;
  std::set<uint16_t> inactiveNvItems;  // answer reads and writes with status 5
  std::set<uint16_t> readOnlyNvItems;  // answer writes with status 7

  StickMode initialMode = StickMode::Firmware;
  // After a reset the stick answers, drops off the bus `resetLatencyMs` later and comes back
  // `replugDelayMs` after that.
  uint32_t resetLatencyMs = 100;
  uint32_t replugDelayMs = 3000;
  // COM numbers: the diagnostic port gets firstComNumber, the modem port the next; with
  // `renumber` every re-enumeration moves on to two new numbers, as Windows does for a stick
  // that comes back with another USB identity.
  int firstComNumber = 5;
  bool renumber = true;
  bool atEcho = true;
  // The gap between the two halves of a reply split by a fault.
  uint32_t splitGapMs = 40;
};

// Built-in items of a stick fresh from the factory: item 0 (ESN), 22 and a few calibration
// items, each with deterministic contents.
StickConfig DefaultStickConfig();

}  // namespace orbek::sim

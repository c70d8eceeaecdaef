// DIAG command codes the updater sends (a reply starts with the same code).
#pragma once

#include <cstddef>
#include <cstdint>

namespace orbek::diag {

inline constexpr uint8_t kEsn = 0x01;
inline constexpr uint8_t kNvRead = 0x26;
inline constexpr uint8_t kNvWrite = 0x27;
inline constexpr uint8_t kModeChange = 0x29;
inline constexpr uint8_t kVersionTable = 0x39;
inline constexpr uint8_t kDownloader = 0x3A;
inline constexpr uint8_t kSpc = 0x41;
inline constexpr uint8_t kSubsystem = 0x4B;
inline constexpr uint8_t kCommand5C = 0x5C;
inline constexpr uint8_t kExtendedBuildId = 0x7C;

// The version record: nine text slots of 31 bytes.
inline constexpr size_t kVersionSlotSize = 31;
inline constexpr size_t kVersionSlots = 9;

}  // namespace orbek::diag

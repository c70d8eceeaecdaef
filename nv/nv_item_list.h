// The NV items the updater preserves across a flash rewrite, and the layout of the table it
// keeps them in: 1125 slots of 136 bytes, the same bytes in memory order as in the backup file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbek {

inline constexpr size_t kNvSlotCount = 1125;
inline constexpr size_t kNvListedItemCount = 646;
inline constexpr uint16_t kNvEndMarker = 10000;
inline constexpr size_t kNvRecordSize = 136;
inline constexpr size_t kNvBackupFileSize = kNvSlotCount * kNvRecordSize;  // 153,000

// One slot: item number, two bytes of padding, the 128 data bytes, the status of the backup
// read, two bytes of padding; little-endian.
struct NvRecord {
  uint16_t itemId = 0;
  std::array<uint8_t, 128> data{};
  uint16_t status = 0;
};

using NvTable = std::vector<NvRecord>;

// The preserved item numbers in slot order: 646 entries, duplicates and item 0 included.
const std::array<uint16_t, kNvListedItemCount>& NvListedItems();

// The listed items with zero data and status, then the end marker, then zero slots: 1125 slots.
NvTable BuildNvItemList();

// The table as the backup file holds it, and back. Decoding needs exactly 153,000 bytes.
std::vector<uint8_t> EncodeNvTable(const NvTable& table);
bool DecodeNvTable(const uint8_t* bytes, size_t length, NvTable& table);

}  // namespace orbek

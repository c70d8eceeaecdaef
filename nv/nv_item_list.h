// The NV items the updater preserves across a flash rewrite, and the layout of the table it
// keeps them in: 1125 slots of 136 bytes, the same bytes in memory order as in the backup file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

// Why the bytes are no backup file to write into a stick, in English; nothing when they are one.
// A backup file is exactly 153,000 bytes; its padding is zero; before the end marker every
// status is one the stick or the backup gives; no item number lies above the end marker, and
// every slot after it is zero. (The built-in list is not in ascending order, so neither need a
// file's items be.)
std::optional<std::string> NvBackupFault(const uint8_t* bytes, size_t length);

// The ESN that item 0 of the table holds, when the backup read it.
std::optional<uint32_t> NvTableEsn(const NvTable& table);

// The slots before the end marker whose read got no answer at all from the stick.
size_t UnansweredNvItems(const NvTable& table);

}  // namespace orbek

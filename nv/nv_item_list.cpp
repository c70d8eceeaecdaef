#include "nv/nv_item_list.h"

#include <algorithm>
#include <initializer_list>

#include "platform/byte_order.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

// A run a..b, or a single item when a == b.
struct ItemRun {
  uint16_t first;
  uint16_t last;
};

// Not sorted, and some runs repeat: every entry is a slot of its own.
constexpr ItemRun kPreservedRuns[] = {
    {0, 0},       {22, 22},     {23, 23},     {90, 90},     {141, 141},   {148, 148},
    {453, 453},   {519, 525},   {529, 545},   {569, 573},   {724, 735},   {740, 816},
    {819, 822},   {856, 876},   {878, 878},   {916, 916},   {917, 917},   {1058, 1097},
    {1102, 1105}, {1143, 1143}, {1144, 1144}, {1152, 1158}, {1161, 1161}, {1168, 1168},
    {1169, 1169}, {1173, 1176}, {1181, 1184}, {1186, 1188}, {1196, 1200}, {1284, 1284},
    {1297, 1297}, {1298, 1298}, {1323, 1323}, {1336, 1336}, {1337, 1337}, {1345, 1348},
    {1795, 1798}, {1801, 1801}, {1802, 1802}, {1814, 1814}, {1815, 1815}, {1823, 1829},
    {1832, 1832}, {1839, 1839}, {1840, 1840}, {1844, 1847}, {1861, 1864}, {1866, 1868},
    {1971, 1976}, {2009, 2020}, {2724, 2729}, {2030, 2041}, {2055, 2066}, {2521, 2552},
    {2585, 2592}, {2553, 2584}, {2593, 2648}, {2724, 2741}, {2743, 2743}, {2745, 2745},
    {2749, 2749}, {2770, 2777}, {3059, 3062}, {3502, 3505}, {3650, 3650}, {3651, 3651},
    {3675, 3675}, {3659, 3665}, {3676, 3676}, {3680, 3683}, {3688, 3688}, {3689, 3689},
    {3691, 3691}, {3693, 3695}, {3706, 3709}, {3714, 3717}, {3746, 3751}, {3759, 3759},
    {3767, 3767}, {3765, 3765}, {3778, 3780}, {3766, 3766}, {3781, 3783}, {3789, 3789},
    {3790, 3790}, {3804, 3812}, {3815, 3817}, {3819, 3848}, {3969, 3984}, {4179, 4182},
    {4161, 4164}, {4169, 4172}, {4994, 4994}, {4403, 4403}, {4401, 4401}, {4408, 4408},
    {4406, 4406}, {4423, 4423}, {4421, 4421}, {4413, 4413}, {4411, 4411}, {4965, 4965},
    {4970, 4970}, {4975, 4975}, {4969, 4969}, {4974, 4974}, {4979, 4979}, {4871, 4871},
    {4872, 4872}, {4965, 4965}, {4970, 4970}, {4975, 4975}, {4990, 4990}, {8000, 8029},
    {550, 550}};

constexpr size_t CountRuns() {
  size_t count = 0;
  for (const ItemRun& run : kPreservedRuns)
    count += static_cast<size_t>(run.last - run.first + 1);
  return count;
}
static_assert(CountRuns() == kNvListedItemCount);

constexpr std::array<uint16_t, kNvListedItemCount> ExpandRuns() {
  std::array<uint16_t, kNvListedItemCount> items{};
  size_t next = 0;
  for (const ItemRun& run : kPreservedRuns) {
    for (uint32_t item = run.first; item <= run.last; ++item)
      items[next++] = static_cast<uint16_t>(item);
  }
  return items;
}

constexpr std::array<uint16_t, kNvListedItemCount> kListedItems = ExpandRuns();

constexpr size_t kDataOffset = 4;
constexpr size_t kStatusOffset = 132;
// The stick's NV status values run from 0 (done) to 10 (not allocated); 0xFFFF marks a read
// that got no answer.
constexpr uint16_t kHighestNvStatus = 10;
constexpr uint16_t kNoAnswerStatus = 0xFFFF;
constexpr uint16_t kEsnItem = 0;

}  // namespace

const std::array<uint16_t, kNvListedItemCount>& NvListedItems() {
  return kListedItems;
}

NvTable BuildNvItemList() {
  NvTable table(kNvSlotCount);
  for (size_t slot = 0; slot < kNvListedItemCount; ++slot)
    table[slot].itemId = kListedItems[slot];
  table[kNvListedItemCount].itemId = kNvEndMarker;
  return table;
}

std::vector<uint8_t> EncodeNvTable(const NvTable& table) {
  std::vector<uint8_t> bytes(table.size() * kNvRecordSize, 0);
  for (size_t slot = 0; slot < table.size(); ++slot) {
    const std::span<uint8_t> record(bytes.data() + slot * kNvRecordSize, kNvRecordSize);
    PutLe16(record, table[slot].itemId);
    std::copy(table[slot].data.begin(), table[slot].data.end(), record.begin() + kDataOffset);
    PutLe16(record.subspan(kStatusOffset), table[slot].status);
  }
  return bytes;
}

bool DecodeNvTable(const uint8_t* bytes, size_t length, NvTable& table) {
  if (length != kNvBackupFileSize)
    return false;
  table.assign(kNvSlotCount, NvRecord{});
  for (size_t slot = 0; slot < kNvSlotCount; ++slot) {
    const std::span<const uint8_t> record(bytes + slot * kNvRecordSize, kNvRecordSize);
    table[slot].itemId = Le16(record);
    std::copy_n(record.begin() + kDataOffset, table[slot].data.size(), table[slot].data.begin());
    table[slot].status = Le16(record.subspan(kStatusOffset));
  }
  return true;
}

std::optional<std::string> NvBackupFault(const uint8_t* bytes, size_t length) {
  if (length != kNvBackupFileSize)
    return "it is " + std::to_string(length) + " bytes long, not " +
           std::to_string(kNvBackupFileSize);
  bool ended = false;
  for (size_t slot = 0; slot < kNvSlotCount; ++slot) {
    const std::span<const uint8_t> record(bytes + slot * kNvRecordSize, kNvRecordSize);
    if (ended) {
      if (std::any_of(record.begin(), record.end(), [](uint8_t b) { return b != 0; }))
        return Format("slot %u after the end marker is not empty", static_cast<unsigned>(slot));
      continue;
    }
    if (record[2] != 0 || record[3] != 0 || record[134] != 0 || record[135] != 0)
      return Format("slot %u has padding that is not zero", static_cast<unsigned>(slot));
    const uint16_t item = Le16(record);
    if (item > kNvEndMarker)
      return Format("slot %u holds item %u, above the end marker", static_cast<unsigned>(slot),
                    unsigned{item});
    if (item == kNvEndMarker) {
      if (Le16(record.subspan(kStatusOffset)) != 0)
        return Format("the end marker in slot %u has a status", static_cast<unsigned>(slot));
      ended = true;
      continue;
    }
    const uint16_t status = Le16(record.subspan(kStatusOffset));
    if (status > kHighestNvStatus && status != kNoAnswerStatus)
      return Format("slot %u (item %u) has the unknown status 0x%04X", static_cast<unsigned>(slot),
                    unsigned{item}, unsigned{status});
  }
  return std::nullopt;
}

std::optional<uint32_t> NvTableEsn(const NvTable& table) {
  for (const NvRecord& record : table) {
    if (record.itemId >= kNvEndMarker)
      break;
    if (record.itemId == kEsnItem && record.status == 0)
      return Le32(record.data);
  }
  return std::nullopt;
}

size_t UnansweredNvItems(const NvTable& table) {
  size_t unanswered = 0;
  for (const NvRecord& record : table) {
    if (record.itemId >= kNvEndMarker)
      break;
    unanswered += record.status == kNoAnswerStatus ? 1 : 0;
  }
  return unanswered;
}

}  // namespace orbek

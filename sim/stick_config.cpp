#include "sim/stick_config.h"

#include <algorithm>
#include <iterator>

#include "nv/nv_item_list.h"

namespace orbek::sim {
namespace {

struct ModeName {
  StickMode mode;
  const char* name;
};

constexpr ModeName kModeNames[] = {
    {StickMode::Firmware, "firmware"},           {StickMode::DmssDownload, "dmss"},
    {StickMode::StreamingDownload, "streaming"}, {StickMode::CdromOnly, "cdrom"},
    {StickMode::Unplugged, "unplugged"},
};

NvData Pattern(uint16_t item) {
  NvData data{};
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(item * 31 + i * 7);
  return data;
}

// Item 0: the ESN, little-endian.
NvData EsnItem(uint32_t esn) {
  NvData data{};
  for (size_t i = 0; i < 4; ++i)
    data[i] = static_cast<uint8_t>(esn >> (8 * i));
  return data;
}

// Item 550: the IMEI as the stick stores it, a length byte and BCD digits with the type nibble
// 0xA in front.
NvData ImeiItem(const std::string& digits) {
  NvData data{};
  data[0] = 8;
  const std::string nibbles = "\x0A" + digits;
  for (size_t i = 0; i < nibbles.size(); i += 2) {
    const uint8_t low = static_cast<uint8_t>(nibbles[i] & 0x0F);
    const uint8_t high = i + 1 < nibbles.size() ? static_cast<uint8_t>(nibbles[i + 1] & 0x0F) : 0;
    data[1 + i / 2] = static_cast<uint8_t>(high << 4 | low);
  }
  return data;
}

}  // namespace

const char* StickModeName(StickMode mode) {
  for (const ModeName& entry : kModeNames) {
    if (entry.mode == mode)
      return entry.name;
  }
  return "unknown";
}

bool ParseStickMode(const std::string& name, StickMode& mode) {
  for (const ModeName& entry : kModeNames) {
    if (name == entry.name) {
      mode = entry.mode;
      return true;
    }
  }
  return false;
}

const char* VersionLayoutName(VersionLayout layout) {
  switch (layout) {
    case VersionLayout::Nine:
      return "nine";
    case VersionLayout::Eight:
      return "eight";
    case VersionLayout::Four:
      return "four";
    case VersionLayout::Short:
      return "short";
  }
  return "nine";
}

bool ParseVersionLayout(const std::string& name, VersionLayout& layout) {
  for (VersionLayout candidate :
       {VersionLayout::Nine, VersionLayout::Eight, VersionLayout::Four, VersionLayout::Short}) {
    if (name == VersionLayoutName(candidate)) {
      layout = candidate;
      return true;
    }
  }
  return false;
}

Bytes DefaultFirmwareRecord() {
  Bytes record(128, 0);
  const uint8_t magic[] = {0x2C, 0x1A, 0xBE, 0x6E};
  std::copy(std::begin(magic), std::end(magic), record.begin());
  const std::string text = "R415C1_FW_1.2.0.18";
  std::copy(text.begin(), text.end(), record.begin() + 8);
  return record;
}

void GiveIdentity(StickConfig& config, uint32_t esn, const std::string& imeiDigits) {
  config.esn = esn;
  config.nvItems[0] = EsnItem(esn);
  config.nvItems[550] = ImeiItem(imeiDigits);
}

StickConfig ConfigOfStick(const StickConfig& base, int index, int count) {
  StickConfig config = base;
  if (count == 1)
    return config;
  // Stick I's IMEI ends in I - 1 more than the first's (a 15-digit number: no carry into its
  // type allocation code at eight sticks).
  GiveIdentity(config, base.esn + static_cast<uint32_t>(index),
               "35712345678" + std::to_string(9012 + index));
  config.firstComNumber = base.firstComNumber + kComNumbersPerStick * index;
  config.location = "1-" + std::to_string(index + 1);
  return config;
}

StickConfig DefaultStickConfig() {
  StickConfig config;
  // The items a stick of this family holds: the calibration and radio items the updater
  // preserves, a few it does not, and some it never activated.
  for (uint16_t item : NvListedItems()) {
    if (item % 53 != 11)
      config.nvItems[item] = Pattern(item);
  }
  for (uint16_t item : {10, 25, 32, 33, 71, 4051})
    config.nvItems[item] = Pattern(item);
  GiveIdentity(config, config.esn, "357123456789012");
  config.inactiveNvItems = {1, 441, 1168, 3759};
  config.readOnlyNvItems = {0, 4994};
  return config;
}

bool IsUsbLocation(const std::string& text) {
  // Numbers without leading zeros, separated by one dash and then dots.
  size_t at = 0;
  for (int field = 0;; ++field) {
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
      ++at;
    if (at == start || at - start > 3 || text[start] == '0')
      return false;
    if (at == text.size())
      return field > 0;
    const char separator = text[at++];
    if (separator != (field == 0 ? '-' : '.'))
      return false;
  }
}

}  // namespace orbek::sim

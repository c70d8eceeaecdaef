#include "sim/stick_config.h"

#include <algorithm>
#include <iterator>

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

StickConfig DefaultStickConfig() {
  StickConfig config;
  for (uint16_t item : {0, 10, 22, 25, 32, 33, 71, 550, 4051})
    config.nvItems[item] = Pattern(item);
  config.inactiveNvItems = {1, 441};
  config.readOnlyNvItems = {0};
  return config;
}

}  // namespace orbek::sim

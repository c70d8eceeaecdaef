#include "sim/stick_config.h"

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

StickConfig DefaultStickConfig() {
  StickConfig config;
  for (uint16_t item : {0, 10, 22, 25, 32, 33, 71, 550, 4051})
    config.nvItems[item] = Pattern(item);
  config.inactiveNvItems = {1, 441};
  config.readOnlyNvItems = {0};
  return config;
}

}  // namespace orbek::sim

#include "sim/stick_json.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/faults.h"
#include "sim/sha256.h"

namespace orbek::sim {
namespace {

using nlohmann::json;

bool HexToBytes(const std::string& hex, Bytes& out) {
  if (hex.size() % 2 != 0)
    return false;
  out.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (size_t j = i; j < i + 2; ++j) {
      char c = hex[j];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0)
        return false;
      value = value * 16 + digit;
    }
    out.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

bool NumberOf(const json& value, uint64_t maximum, uint64_t& out) {
  if (value.is_number_unsigned()) {
    out = value.get<uint64_t>();
  } else if (value.is_string()) {
    return ParseNumberText(value.get<std::string>(), maximum, out);
  } else {
    return false;
  }
  return out <= maximum;
}

bool ItemSet(const json& value, std::set<uint16_t>& items) {
  if (!value.is_array())
    return false;
  items.clear();
  for (const json& item : value) {
    uint64_t number = 0;
    if (!NumberOf(item, 0xFFFF, number))
      return false;
    items.insert(static_cast<uint16_t>(number));
  }
  return true;
}

json HistoryOf(const std::vector<uint8_t>& values) {
  json list = json::array();
  for (uint8_t value : values)
    list.push_back(value);
  return list;
}

}  // namespace

std::string HexOf(const uint8_t* bytes, size_t count) {
  std::string hex;
  char digits[3];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    hex += digits;
  }
  return hex;
}

bool ParseStickConfig(const json& root, StickConfig& config, std::string& error) {
  if (!root.is_object()) {
    error = "the configuration is not a JSON object";
    return false;
  }
  for (const auto& [key, value] : root.items()) {
    uint64_t number = 0;
    bool ok = true;
    if (key == "esn") {
      ok = NumberOf(value, 0xFFFFFFFF, number);
      config.esn = static_cast<uint32_t>(number);
    } else if (key == "buildId" || key == "modelName" || key == "boardTag") {
      ok = value.is_string();
      if (ok) {
        std::string text = value.get<std::string>();
        (key == "buildId"     ? config.buildId
         : key == "modelName" ? config.modelName
                              : config.versions[8]) = text;
      }
    } else if (key == "versions") {
      ok = value.is_array() && value.size() <= config.versions.size();
      for (size_t i = 0; ok && i < value.size(); ++i) {
        ok = value[i].is_string();
        if (ok)
          config.versions[i] = value[i].get<std::string>();
      }
    } else if (key == "nv") {
      ok = value.is_object();
      config.nvItems.clear();
      for (auto item = value.begin(); ok && item != value.end(); ++item) {
        Bytes data;
        ok = NumberOf(json(item.key()), 0xFFFF, number) && item.value().is_string() &&
             HexToBytes(item.value().get<std::string>(), data) && data.size() <= kNvItemSize;
        if (ok) {
          NvData& stored = config.nvItems[static_cast<uint16_t>(number)];
          stored.fill(0);
          std::copy(data.begin(), data.end(), stored.begin());
        }
      }
    } else if (key == "inactiveNv") {
      ok = ItemSet(value, config.inactiveNvItems);
    } else if (key == "readOnlyNv") {
      ok = ItemSet(value, config.readOnlyNvItems);
    } else if (key == "mode") {
      ok = value.is_string() && ParseStickMode(value.get<std::string>(), config.initialMode);
    } else if (key == "replugDelayMs" || key == "resetLatencyMs" || key == "splitGapMs") {
      ok = NumberOf(value, 3600000, number);
      (key == "replugDelayMs"    ? config.replugDelayMs
       : key == "resetLatencyMs" ? config.resetLatencyMs
                                 : config.splitGapMs) = static_cast<uint32_t>(number);
    } else if (key == "firstCom") {
      ok = NumberOf(value, 250, number) && number >= 1;
      config.firstComNumber = static_cast<int>(number);
    } else if (key == "efsWipesNv" || key == "flashIncomplete" || key == "esnInNv") {
      ok = value.is_boolean();
      if (ok) {
        (key == "efsWipesNv"        ? config.efsWipesNv
         : key == "flashIncomplete" ? config.flashIncomplete
                                    : config.esnInNv) = value.get<bool>();
      }
    } else if (key == "renumber" || key == "atEcho" || key == "versionSeparators" ||
               key == "diagPortInAtMode") {
      ok = value.is_boolean();
      if (ok) {
        (key == "renumber"            ? config.renumber
         : key == "atEcho"            ? config.atEcho
         : key == "versionSeparators" ? config.versionSeparators
                                      : config.diagPortStartsInAtMode) = value.get<bool>();
      }
    } else if (key == "versionLayout") {
      ok = value.is_string() && ParseVersionLayout(value.get<std::string>(), config.versionLayout);
    } else if (key == "subsystemBusyPolls") {
      ok = NumberOf(value, 1000, number);
      config.subsystemBusyPolls = static_cast<uint32_t>(number);
    } else if (key == "firmwareRecord") {
      Bytes record;
      ok = value.is_string() && HexToBytes(value.get<std::string>(), record) &&
           record.size() == config.firmwareRecord.size();
      if (ok)
        config.firmwareRecord = record;
    } else if (key == "downloadCheckStatus") {
      ok = NumberOf(value, 0xFFFFFFFF, number);
      config.downloadCheckStatus = static_cast<uint32_t>(number);
    } else if (key == "challengeSeed") {
      ok = NumberOf(value, UINT64_MAX, number);
      config.challengeSeed = number;
    } else if (key == "location") {
      ok = value.is_string() && IsUsbLocation(value.get<std::string>());
      if (ok)
        config.location = value.get<std::string>();
    } else if (key == "flashMiB") {
      ok = NumberOf(value, 4096, number) && number > 0;
      config.flashMiB = static_cast<uint32_t>(number);
    } else if (key == "flashSizeCode") {
      ok = NumberOf(value, 0xFF, number);
      config.flashSizeCode = static_cast<uint8_t>(number);
    } else {
      error = "unknown configuration field \"" + key + "\"";
      return false;
    }
    if (!ok) {
      error = "configuration field \"" + key + "\" has an unusable value";
      return false;
    }
  }
  return true;
}

bool LoadStickConfig(const std::string& path, StickConfig& config, std::string& error) {
  std::error_code notAFile;
  std::ifstream file;
  if (std::filesystem::is_regular_file(path, notAFile))
    file.open(path);
  if (!file.is_open() || !file) {
    error = "cannot read " + path;
    return false;
  }
  json root;
  try {
    root = json::parse(file, nullptr, /*allow_exceptions=*/false);
  } catch (const std::exception&) {  // the stream itself failed while it was read
    root = json(json::value_t::discarded);
  }
  if (root.is_discarded()) {
    error = path + " is not valid JSON";
    return false;
  }
  return ParseStickConfig(root, config, error);
}

json StickReport(const Stick& stick) {
  std::lock_guard<std::recursive_mutex> hold(const_cast<Stick&>(stick).Mutex());
  const StickState& state = stick.State();
  json report;

  json images = json::object();
  for (const auto& [type, data] : state.flash) {
    json image = {{"length", data.Size()}, {"sha256", Sha256Hex(data.Whole())}};
    if (auto header = state.imageHeaders.find(type); header != state.imageHeaders.end()) {
      image["header"] = HexOf(header->second.data(), header->second.size());
    }
    images[type] = image;
  }
  if (!state.programmerImage.empty()) {
    images["programmer"] = {{"length", state.programmerImage.size()},
                            {"sha256", Sha256Hex(state.programmerImage)}};
  }
  if (!state.partitionTable.empty()) {
    images["partitionTable"] = {{"length", state.partitionTable.size()},
                                {"sha256", Sha256Hex(state.partitionTable)}};
  }
  report["images"] = images;

  json nv = json::object();
  for (const auto& [item, data] : state.nvItems) {
    uint16_t status = state.inactiveNvItems.count(item) != 0 ? 5 : 0;
    nv[std::to_string(item)] = {{"data", HexOf(data.data(), data.size())},
                                {"status", status},
                                {"readOnly", state.readOnlyNvItems.count(item) != 0}};
  }
  for (uint16_t item : state.inactiveNvItems) {
    if (state.nvItems.count(item) == 0)
      nv[std::to_string(item)] = {{"data", ""}, {"status", 5}};
  }
  report["nv"] = nv;

  report["flags"] = {{"autorun", HistoryOf(state.autorunHistory)},
                     {"flagAA", HistoryOf(state.flagAAHistory)},
                     {"offline", state.offline}};
  report["at"] = state.atCommands;
  report["diagPortMode"] = state.diagPortMode;
  report["cdrom"] = state.cdromModes;
  report["versionTableRequests"] = state.versionTableRequests;
  report["subsystemPolls"] = state.subsystemPolls;
  report["spc"] = state.spcReceived;
  json deviations = json::array();
  for (const StickState::Deviation& deviation : state.deviations) {
    deviations.push_back({{"mode", deviation.mode},
                          {"request", HexOf(deviation.request.data(), deviation.request.size())},
                          {"reason", deviation.reason}});
  }
  report["deviations"] = deviations;
  json checks = json::array();
  for (const auto& check : state.downloadChecks) {
    checks.push_back(
        {{"block", HexOf(check.block.data(), check.block.size())}, {"status", check.status}});
  }
  report["downloadChecks"] = checks;
  json challenges = json::array();
  for (const auto& challenge : state.challenges) {
    challenges.push_back(
        {{"challenge", HexOf(challenge.challenge.data(), challenge.challenge.size())},
         {"answer", HexOf(challenge.answer.data(), challenge.answer.size())},
         {"accepted", challenge.accepted}});
  }
  report["challenges"] = challenges;

  json modes = json::array();
  for (const ModeChange& change : stick.ModeHistory()) {
    modes.push_back({{"atMs", change.atMs}, {"mode", StickModeName(change.mode)}});
  }
  report["modes"] = modes;
  json unfinished = json::array();
  for (const std::string& name : state.unfinishedImages)
    unfinished.push_back(name);
  report["location"] = stick.Config().location;
  report["boot"] = {{"mode", StickModeName(stick.Mode())},
                    {"unfinishedImages", unfinished},
                    {"bootLoaderBecause", state.bootLoaderBecause}};

  json counts = json::object();
  for (const auto& [mode, perCode] : stick.Counts()) {
    json codes = json::object();
    char name[8];
    for (const auto& [code, count] : perCode) {
      std::snprintf(name, sizeof name, "0x%02X", code);
      codes[name] = count;
    }
    counts[mode] = codes;
  }
  report["counts"] = counts;
  return report;
}

}  // namespace orbek::sim

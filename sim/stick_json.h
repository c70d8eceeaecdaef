// The simulated stick in JSON: its configuration file and its report.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "sim/stick.h"

namespace orbek::sim {

// Reads a configuration (every field optional; unknown fields are refused):
//   {"esn": 2158080707 | "0x80A1B2C3", "buildId": "...", "modelName": "...",
//    "versions": ["...", ... up to 9], "boardTag": "...",
//    "nv": {"22": "hex of up to 128 bytes", ...}, "inactiveNv": [1, 441], "readOnlyNv": [0],
//    "mode": "firmware|dmss|streaming|cdrom|unplugged", "replugDelayMs": 3000,
//    "resetLatencyMs": 100, "firstCom": 5, "renumber": true, "atEcho": true, "splitGapMs": 40,
//    "versionLayout": "nine|eight|four|short", "versionSeparators": true,
//    "subsystemBusyPolls": 2, "firmwareRecord": "hex of 128 bytes", "downloadCheckStatus": 2,
//    "challengeSeed": 7, "diagPortInAtMode": false, "flashSizeCode": 5, "efsWipesNv": true,
//    "flashIncomplete": false, "flashMiB": 128, "location": "1-1"}
bool ParseStickConfig(const nlohmann::json& json, StickConfig& config, std::string& error);
bool LoadStickConfig(const std::string& path, StickConfig& config, std::string& error);

// Everything the stick received and became: images, nv, flags, at, modes, counts.
nlohmann::json StickReport(const Stick& stick);

std::string HexOf(const uint8_t* bytes, size_t count);

}  // namespace orbek::sim

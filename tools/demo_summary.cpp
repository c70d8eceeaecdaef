// orbek-demo-summary REPORT PACKAGE_DIR [--stick I]: what the simulated stick received in an
// update, checked against the package, and its NV items against those it held before; for a
// report of several sticks ({"sticks": [...]}), each of them, or stick I (from 1) alone.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "nv/nv_item_list.h"
#include "sim/sha256.h"
#include "sim/stick_config.h"
#include "sim/stick_json.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// The images and NV items of one stick's report, printed; the number of checks that failed.
// `factory` is the stick as it was made.
int SummariseStick(const nlohmann::json& report, const std::string& package,
                   const orbek::sim::StickConfig& factory) {
  int failures = 0;
  const std::pair<const char*, const char*> images[] = {{"partitionTable", "partition.mbn"},
                                                        {"qcsblhd", "qcsblhd_cfgdata.mbn"},
                                                        {"qcsbl", "qcsbl.mbn"},
                                                        {"oemsbl", "oemsbl.mbn"},
                                                        {"amss", "amss.mbn"},
                                                        {"nandprg", "nandprgcombined.mbn"},
                                                        {"efs", "efs.mbn"}};
  std::printf("Images the stick received, checked against the package:\n");
  for (const auto& [type, file] : images) {
    const std::vector<uint8_t> expected = ReadAll(package + "/" + file);
    const bool received = report["images"].contains(type);
    const bool same =
        received && report["images"][type]["sha256"] == orbek::sim::Sha256Hex(expected);
    failures += same ? 0 : 1;
    std::printf("  %-20s %10zu bytes  %s\n", file, expected.size(),
                !received ? "NOT RECEIVED"
                : same    ? "identical"
                          : "DIFFERENT");
  }

  size_t held = 0;
  size_t restored = 0;
  for (uint16_t item : orbek::NvListedItems()) {
    auto value = factory.nvItems.find(item);
    if (value == factory.nvItems.end() || factory.inactiveNvItems.count(item) != 0)
      continue;
    ++held;
    const std::string key = std::to_string(item);
    if (report["nv"].contains(key) &&
        report["nv"][key]["data"] == orbek::sim::HexOf(value->second.data(), value->second.size()))
      ++restored;
  }
  failures += restored == held ? 0 : 1;
  std::printf(
      "NV items the updater preserves: %zu of the %zu the stick held hold their values "
      "from before the update\n",
      restored, held);
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  int only = 0;  // every stick
  if (argc == 5 && std::string(argv[3]) == "--stick")
    only = std::atoi(argv[4]);
  if ((argc != 3 && argc != 5) || (argc == 5 && only < 1)) {
    std::fprintf(stderr, "usage: orbek-demo-summary REPORT PACKAGE_DIR [--stick I]\n");
    return 2;
  }
  std::ifstream reportFile(argv[1]);
  const nlohmann::json report = nlohmann::json::parse(reportFile, nullptr, false);
  if (report.is_discarded()) {
    std::fprintf(stderr, "orbek-demo-summary: %s is not a report\n", argv[1]);
    return 1;
  }
  const std::string package = argv[2];
  if (!report.contains("sticks"))
    return SummariseStick(report, package, orbek::sim::DefaultStickConfig()) == 0 ? 0 : 1;
  int failures = 0;
  const int count = static_cast<int>(report["sticks"].size());
  if (only > count) {
    std::fprintf(stderr, "orbek-demo-summary: the report has %d sticks\n", count);
    return 1;
  }
  for (int index = 0; index < count; ++index) {
    if (only != 0 && index + 1 != only)
      continue;
    std::printf("Stick %d of %d:\n", index + 1, count);
    failures +=
        SummariseStick(report["sticks"][static_cast<size_t>(index)], package,
                       orbek::sim::ConfigOfStick(orbek::sim::DefaultStickConfig(), index, count));
  }
  return failures == 0 && count > 0 ? 0 : 1;
}

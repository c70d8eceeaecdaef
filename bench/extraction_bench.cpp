// Writing out a release-size package (about 52 MB) the way start-up does — one write per file
// straight from the bytes the program carries — next to `cp` of the same files.
//   orbek_bench_extraction
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/image_package.h"
#include "platform/files.h"
#include "tools/package_maker.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

static double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

int main() {
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const fs::path dir = pattern;
  const fs::path made = dir / "made";
  std::string error;
  if (!orbek::tools::MakePackage(made.string(), orbek::tools::ReleasePackageSizes(), 1, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The resources as the loaded program holds them: bytes in memory.
  struct Loaded {
    std::string name;
    std::vector<char> bytes;
  };
  std::vector<Loaded> package;
  size_t total = 0;
  for (const orbek::PackageFile& file : orbek::kImagePackage) {
    const fs::path path = made / file.fileName;
    if (!fs::exists(path))
      continue;  // ResetUSB.dll is not the maker's
    Loaded loaded{file.fileName, std::vector<char>(fs::file_size(path))};
    std::ifstream(path, std::ios::binary)
        .read(loaded.bytes.data(), static_cast<std::streamsize>(loaded.bytes.size()));
    total += loaded.bytes.size();
    package.push_back(std::move(loaded));
  }

  constexpr int kRounds = 5;
  const fs::path extracted = dir / "extracted";
  fs::create_directories(extracted);
  auto start = Clock::now();
  for (int round = 0; round < kRounds; ++round) {
    for (const Loaded& file : package) {
      if (orbek::platform::WriteNewFile((extracted / file.name).string(), file.bytes.data(),
                                        file.bytes.size()) != orbek::platform::WriteResult::Written)
        return 1;
    }
  }
  const double extraction = Milliseconds(Clock::now() - start) / kRounds;

  const fs::path copied = dir / "copied";
  fs::create_directories(copied);
  const std::string copy = "cp '" + made.string() + "'/* '" + copied.string() + "'/";
  start = Clock::now();
  for (int round = 0; round < kRounds; ++round) {
    if (std::system(copy.c_str()) != 0)
      return 1;
  }
  const double cp = Milliseconds(Clock::now() - start) / kRounds;

  std::printf("extracting %zu files, %zu bytes: %.1f ms (%.0f MB/s)\n", package.size(), total,
              extraction, total / extraction / 1000.0);
  std::printf("cp of the same files:          %.1f ms (%.0f MB/s)\n", cp, total / cp / 1000.0);
  fs::remove_all(dir);
  return 0;
}

// The version-record lookup on a release-size amss.mbn (record at 13,116,820), next to reading
// the same file once.
//   orbek_bench_version_record
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "package/image_set.h"
#include "tools/package_maker.h"

using Clock = std::chrono::steady_clock;

static double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

int main() {
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const std::string dir = pattern;
  std::string error;
  if (!orbek::tools::MakePackage(dir, orbek::tools::ReleasePackageSizes(), 1, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string amss = dir + "/amss.mbn";
  constexpr int kRounds = 10;

  orbek::FirmwareRecord record{};
  auto start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    if (orbek::FindVersionRecordInFile(amss, record) != orbek::RecordLookup::Found)
      return 1;
  }
  const double lookup = Milliseconds(Clock::now() - start) / kRounds;

  std::vector<char> buffer(std::filesystem::file_size(amss));
  start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    std::ifstream file(amss, std::ios::binary);
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  }
  const double readOnce = Milliseconds(Clock::now() - start) / kRounds;

  std::printf("FindVersionRecord on a %zu-byte amss.mbn (record at 13,116,820): %.2f ms per call\n",
              buffer.size(), lookup);
  std::printf("reading the same file once:                                   %.2f ms\n", readOnce);
  std::filesystem::remove_all(dir);
  return 0;
}

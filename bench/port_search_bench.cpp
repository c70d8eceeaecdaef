// The cost of searching for a stick that is not there, and how soon one that appears is found:
// FindPorts called again and again, as the port search does, with no stick for a while, then
// with a stick's ports published part-way through.
//   orbek_bench_port_search [idle seconds]     (default 10)
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ports/port_scanner.h"
#include "sim/port_publisher.h"

using namespace orbek;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

int main(int argc, char** argv) {
  const double idleSeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const std::string root = pattern;
  setenv("ORBEK_ROOT", root.c_str(), 1);

  PortScanner scanner;

  // No stick: how much of one core does the search take?
  long scans = 0;
  const double cpuBefore = CpuSeconds();
  const auto start = Clock::now();
  while (Seconds(Clock::now() - start) < idleSeconds) {
    scanner.FindPorts().found;
    ++scans;
  }
  const double wall = Seconds(Clock::now() - start);
  const double cpu = CpuSeconds() - cpuBefore;
  std::printf(
      "searching with no stick for %.1f s: %ld scans, %.3f s of CPU = %.2f %% of one core\n", wall,
      scans, cpu, 100.0 * cpu / wall);

  // A stick appears while the search waits: how long until FindPorts reports it?
  sim::RegistryPublisher registry(root, {});
  double worst = 0;
  for (int round = 0; round < 5; ++round) {
    registry.PortsChanged({});
    while (scanner.FindPorts().found) {
    }
    const auto delay = std::chrono::milliseconds(137 + 97 * round);
    Clock::time_point published;
    std::thread plug([&] {
      std::this_thread::sleep_for(delay);
      published = Clock::now();
      registry.PortsChanged({{1, 7, sim::PortRole::Diagnostic}, {2, 8, sim::PortRole::Modem}});
    });
    while (!scanner.FindPorts().found) {
    }
    const auto found = Clock::now();
    plug.join();
    worst = std::max(worst, Seconds(found - published));
  }
  std::printf("a stick that appears is found within %.0f ms (worst of 5)\n", worst * 1000);
  std::filesystem::remove_all(root);
  return 0;
}

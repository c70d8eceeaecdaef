// The cost of searching for a stick that is not there, and how soon one that appears is found:
// FindPorts called again and again, as the port search does, with no stick for a while, then
// with a stick's ports published part-way through (in the registry file, and in sysfs).
//   orbek_bench_port_search [idle seconds]     (default 10)
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

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

// A USB device in a fake sysfs tree, with one tty per interface and its node.
void PlugUsb(const std::string& root, const std::string& device, const char* vendor,
             const std::vector<std::string>& ttys) {
  namespace fs = std::filesystem;
  const fs::path devices = root + "/sys/bus/usb/devices";
  fs::create_directories(devices / device);
  std::ofstream(devices / device / "idVendor") << vendor << "\n";
  std::ofstream(devices / device / "idProduct") << "5678\n";
  std::ofstream(devices / device / "devnum") << ttys.size() + 2 << "\n";
  for (size_t i = 0; i < ttys.size(); ++i) {
    const fs::path interface = devices / (device + ":1." + std::to_string(i));
    fs::create_directories(interface / ttys[i]);
    std::ofstream(interface / "bInterfaceNumber") << "0" << i << "\n";
    std::ofstream(root + "/dev/" + ttys[i]);
  }
}

// The device and its ttys' nodes gone, as the kernel and udev remove them.
void UnplugUsb(const std::string& root, const std::string& device) {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator(root + "/sys/bus/usb/devices")) {
    const std::string name = entry.path().filename();
    if (name == device || name.rfind(device + ":", 0) == 0) {
      for (const auto& child : fs::directory_iterator(entry.path())) {
        if (child.path().filename().string().rfind("tty", 0) == 0)
          fs::remove(root + "/dev/" + child.path().filename().string());
      }
      fs::remove_all(entry.path());
    }
  }
}

// No stick: how much of one core does the search take?
void MeasureIdle(PortScanner& scanner, double idleSeconds, const char* where) {
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
      "%s: searching with no stick for %.1f s: %ld scans, %.3f s of CPU = %.2f %% of one core\n",
      where, wall, scans, cpu, 100.0 * cpu / wall);
}

// A stick appears while the search waits: how long until FindPorts reports it?
template <typename Plug, typename Unplug>
void MeasureAppearing(PortScanner& scanner, const char* where, Plug plug, Unplug unplug) {
  double worst = 0;
  for (int round = 0; round < 5; ++round) {
    unplug();
    while (scanner.FindPorts().found) {
    }
    const auto delay = std::chrono::milliseconds(137 + 97 * round);
    Clock::time_point published;
    std::thread plugger([&] {
      std::this_thread::sleep_for(delay);
      published = Clock::now();
      plug();
    });
    while (!scanner.FindPorts().found) {
    }
    const auto found = Clock::now();
    plugger.join();
    worst = std::max(worst, Seconds(found - published));
  }
  std::printf("%s: a stick that appears is found within %.0f ms (worst of 5)\n", where,
              worst * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  const double idleSeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  char pattern[] = "/tmp/orbek-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  const std::string root = pattern;
  setenv("ORBEK_ROOT", root.c_str(), 1);
  // A machine with eight USB serial devices of other makers and no stick.
  std::filesystem::create_directories(root + "/dev");
  setenv("ORBEK_SYSFS_ROOT", (root + "/sys").c_str(), 1);
  setenv("ORBEK_DEV_ROOT", (root + "/dev").c_str(), 1);
  for (int i = 0; i < 8; ++i) {
    const std::string n = std::to_string(i);
    PlugUsb(root, "3-" + n, "abcd", {"ttyUSB1" + n, "ttyACM1" + n});
  }

  PortScanner scanner;
  MeasureIdle(scanner, idleSeconds, "registry file and sysfs");

  sim::RegistryPublisher registry(root, {});
  MeasureAppearing(
      scanner, "registry file",
      [&] {
        registry.PortsChanged({{1, 7, sim::PortRole::Diagnostic}, {2, 8, sim::PortRole::Modem}});
      },
      [&] { registry.PortsChanged({}); });
  registry.Withdraw();
  MeasureAppearing(
      scanner, "sysfs",
      [&] {
        PlugUsb(root, "1-1", "1234", {"ttyUSB0", "ttyUSB1"});
      },
      [&] { UnplugUsb(root, "1-1"); });
  std::filesystem::remove_all(root);
  return 0;
}

// orbek-stick-sim: a simulated modem stick on pseudo-terminals.
//   orbek-stick-sim --root R [--report FILE] [--config FILE] [--fault SPEC]...
//                   [--diag-service NAME] [--modem-service NAME]
//   orbek-stick-sim --wine-prefix P [--wine-helper EXE] [the options above but --root]
//   orbek-stick-sim --root R --sysfs [the options above]
// Publishes its ports under R (R/dosdevices/comN, R/registry.reg); with a Wine prefix P as the
// root, it also keeps P's registry in step through EXE (orbek-wine-registry.exe, default
// $ORBEK_WINE_REGISTRY_HELPER) running under Wine. With --sysfs it shows itself as Linux shows a
// real stick instead: R/sys/bus/usb/devices and R/dev/ttyUSB<k> (no registry entries, no COM
// links). It prints
// "ready diag=COMn modem=COMm" once they are published and a line on every re-enumeration, and
// runs until SIGINT or SIGTERM. ORBEK_TIME_SCALE speeds up its clock. --sticks N publishes N
// independent sticks (each with its own ESN, COM numbers, USB socket 1-1 ... 1-N and report), and
// names each in its lines: "ready 1-2 diag=COMn modem=COMm".
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/port_publisher.h"
#include "sim/pty_transport.h"
#include "sim/stick_json.h"
#include "sim/wine_registry.h"

namespace {

using namespace orbek::sim;

constexpr int kMaxSticks = 8;

std::atomic<bool> stopRequested{false};

std::atomic<bool> replugRequested{false};

// SIGUSR1: a person pulls the stick out and plugs it back in; it starts its firmware afresh.
void RequestReplug(int) {
  replugRequested = true;
}

void RequestStop(int) {
  stopRequested = true;
}

int Usage(const char* problem) {
  std::fprintf(stderr,
               "orbek-stick-sim: %s\n"
               "usage: orbek-stick-sim --root R [--report FILE] [--config FILE] [--fault SPEC]...\n"
               "                       [--diag-service NAME] [--modem-service NAME] [--sticks N]\n"
               "       orbek-stick-sim --wine-prefix P [--wine-helper EXE] [options but --root]\n"
               "       orbek-stick-sim --root R --sysfs [options]\n"
               "faults: noreply:CODE[:N] error:CODE:ERR[:N] badcrc:CODE[:N] delay:CODE:MS[:N]\n"
               "        split:CODE[:N] merge:CODE[:N] unplug:CODE:NTH[:MS|never]\n"
               "        nvrefuse:ITEM[:N[:STATUS]]; @I:SPEC aims one at stick I alone\n",
               problem);
  return 2;
}

// Prints the ports: "ready ..." the first time, "ports ..." on every change after. Each port by
// its COM number, or with a sysfs tree by its tty.
// With several sticks each line names the stick by its location after the first word.
class PortAnnouncer final : public PortListener {
 public:
  PortAnnouncer(const SysfsPublisher* ttys, std::string location)
      : ttys_(ttys), location_(std::move(location)) {}

  void PortsChanged(const std::vector<PublishedPort>& ports) override {
    std::string text = location_.empty() ? "" : " " + location_;
    for (const PublishedPort& port : ports) {
      text += port.role == PortRole::Diagnostic ? " diag=" : " modem=";
      text += ttys_ != nullptr ? ttys_->TtyOf(port.id) : "COM" + std::to_string(port.com);
    }
    if (ports.empty())
      text += " none";
    static std::mutex printing;  // one line at a time from every stick's thread
    std::lock_guard<std::mutex> hold(printing);
    std::printf("%s%s\n", announced_ ? "ports" : "ready", text.c_str());
    std::fflush(stdout);
    announced_ = true;
  }

 private:
  const SysfsPublisher* ttys_;
  std::string location_;
  bool announced_ = false;
};

// One stick with its transport and its publishing.
struct StickRig {
  StickRig(const StickConfig& config, const std::string& root, bool sysfs, bool named)
      : stick(config),
        ptys(stick, root, /*comLinks=*/!sysfs),  // the ports first, then their names
        sysfsTree(root, stick, ptys),
        announcer(sysfs ? &sysfsTree : nullptr, named ? config.location : "") {}
  Stick stick;
  PtyTransport ptys;
  SysfsPublisher sysfsTree;
  PortAnnouncer announcer;
  PortListener* publisher = nullptr;
};

// One stick's report, or with several {"sticks": [each one's report]}.
bool WriteReport(const std::string& path, const std::vector<std::unique_ptr<StickRig>>& rigs) {
  if (path.empty())
    return true;
  nlohmann::json report;
  if (rigs.size() == 1) {
    report = StickReport(rigs[0]->stick);
  } else {
    report["sticks"] = nlohmann::json::array();
    for (const auto& rig : rigs)
      report["sticks"].push_back(StickReport(rig->stick));
  }
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    // Texts the stick received are bytes, not always UTF-8: those are written with U+FFFD.
    out << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    if (!out)
      return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

int RunSimulator(int argc, char** argv) {
  std::string root, reportPath, configPath, winePrefix;
  const char* helperFromEnvironment = std::getenv("ORBEK_WINE_REGISTRY_HELPER");
  std::string wineHelper = helperFromEnvironment != nullptr ? helperFromEnvironment : "";
  RegistryNames names;
  std::vector<std::pair<int, FaultRule>> faults;  // the stick (1-based, 0 for every one)
  bool sysfs = false;
  int stickCount = 1;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--sysfs") {
      sysfs = true;
      continue;
    }
    if (i + 1 >= argc)
      return Usage(("missing value after " + option).c_str());
    std::string value = argv[++i];
    if (option == "--root") {
      root = value;
    } else if (option == "--wine-prefix") {
      winePrefix = value;
    } else if (option == "--wine-helper") {
      wineHelper = value;
    } else if (option == "--report") {
      reportPath = value;
    } else if (option == "--config") {
      configPath = value;
    } else if (option == "--diag-service") {
      names.diagService = value;
    } else if (option == "--modem-service") {
      names.modemService = value;
    } else if (option == "--sticks") {
      uint64_t count = 0;
      if (!ParseNumberText(value, kMaxSticks, count) || count < 1)
        return Usage("--sticks takes a number from 1 to 8");
      stickCount = static_cast<int>(count);
    } else if (option == "--fault") {
      // "@I:SPEC" aims the fault at stick I alone.
      int stick = 0;
      if (value.size() > 2 && value[0] == '@') {
        const size_t colon = value.find(':');
        uint64_t index = 0;
        if (colon == std::string::npos ||
            !ParseNumberText(value.substr(1, colon - 1), kMaxSticks, index) || index < 1)
          return Usage(("fault '" + value + "' names no stick from 1 to 8").c_str());
        stick = static_cast<int>(index);
        value = value.substr(colon + 1);
      }
      FaultRule rule;
      std::string error;
      if (!ParseFault(value, rule, error))
        return Usage(error.c_str());
      faults.push_back({stick, rule});
    } else {
      return Usage(("unknown option " + option).c_str());
    }
  }
  if (!winePrefix.empty()) {
    if (!root.empty())
      return Usage("--root and --wine-prefix exclude each other: the prefix is the root");
    if (wineHelper.empty())
      return Usage("--wine-prefix needs --wine-helper or ORBEK_WINE_REGISTRY_HELPER");
    if (sysfs)
      return Usage("--sysfs and --wine-prefix exclude each other");
    root = winePrefix;
  }
  if (root.empty())
    return Usage("--root is required");
  std::error_code rootError;
  std::filesystem::create_directories(root, rootError);
  if (!std::filesystem::is_directory(root, rootError)) {
    std::fprintf(stderr, "orbek-stick-sim: the root %s is not a directory that can be made\n",
                 root.c_str());
    return 1;
  }
  if (access(root.c_str(), W_OK) != 0) {
    std::fprintf(stderr, "orbek-stick-sim: the root %s is not writable\n", root.c_str());
    return 1;
  }
  for (const auto& [stick, rule] : faults) {
    if (stick > stickCount)
      return Usage(("a fault is aimed at stick " + std::to_string(stick) + " of " +
                    std::to_string(stickCount))
                       .c_str());
  }

  StickConfig config = DefaultStickConfig();
  std::string error;
  if (!configPath.empty() && !LoadStickConfig(configPath, config, error)) {
    std::fprintf(stderr, "orbek-stick-sim: %s\n", error.c_str());
    return 1;
  }
  std::vector<StickConfig> configs;
  for (int index = 0; index < stickCount; ++index)
    configs.push_back(ConfigOfStick(config, index, stickCount));
  std::string refusal = PtyTransport::RootRefusal(root);
  for (size_t i = 0; i < configs.size() && sysfs && refusal.empty(); ++i)
    refusal = SysfsPublisher::RootRefusal(root, configs[i].location);
  if (!refusal.empty()) {
    std::fprintf(stderr, "orbek-stick-sim: %s\n", refusal.c_str());
    return 1;
  }

  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  struct sigaction replug {};
  replug.sa_handler = RequestReplug;
  sigaction(SIGUSR1, &replug, nullptr);

  WineRegistry wineRegistry;
  if (!winePrefix.empty() && !wineRegistry.Start(winePrefix, wineHelper, error)) {
    std::fprintf(stderr, "orbek-stick-sim: %s\n", error.c_str());
    return 1;
  }
  RegistryPublisher registry(root, names);
  if (!winePrefix.empty()) {
    registry.onWritten = [&wineRegistry](const std::string& text) {
      if (!wineRegistry.Apply(text))
        std::fprintf(stderr, "orbek-stick-sim: the Wine registry helper did not apply a change\n");
    };
  }
  std::vector<std::unique_ptr<StickRig>> rigs;
  for (int index = 0; index < stickCount; ++index) {
    auto rig = std::make_unique<StickRig>(configs[index], root, sysfs, stickCount > 1);
    for (const auto& [stick, rule] : faults) {
      if (stick == 0 || stick == index + 1)
        rig->stick.AddFault(rule);
    }
    rig->publisher =
        sysfs ? static_cast<PortListener*>(&rig->sysfsTree) : &registry.StickListener(index);
    rig->stick.AddListener(rig->publisher);
    rig->stick.AddListener(&rig->announcer);
    rigs.push_back(std::move(rig));
  }
  for (const auto& rig : rigs) {
    rig->ptys.Start();
    rig->stick.Start();
  }

  while (!stopRequested) {
    orbek::platform::detail::RealSleepMicroseconds(20000);
    if (replugRequested.exchange(false)) {
      for (const auto& rig : rigs) {
        std::lock_guard<std::recursive_mutex> hold(rig->stick.Mutex());
        rig->stick.Reenumerate(StickMode::Firmware, std::nullopt, false, /*immediately=*/true);
      }
    }
  }

  for (const auto& rig : rigs) {
    rig->ptys.Stop();
    std::lock_guard<std::recursive_mutex> hold(rig->stick.Mutex());
    rig->stick.RemoveListener(rig->publisher);
    rig->stick.RemoveListener(&rig->announcer);
    if (sysfs)
      rig->sysfsTree.Withdraw();
  }
  if (!sysfs)
    registry.Withdraw();
  wineRegistry.Stop();
  if (!WriteReport(reportPath, rigs)) {
    std::fprintf(stderr, "orbek-stick-sim: cannot write the report %s\n", reportPath.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return RunSimulator(argc, argv);
  } catch (const std::exception& error) {
    // The root changed under the stick (made read-only, say): it stops with the reason.
    std::fprintf(stderr, "orbek-stick-sim: %s\n", error.what());
    return 1;
  }
}

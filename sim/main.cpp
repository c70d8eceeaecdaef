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
// runs until SIGINT or SIGTERM. ORBEK_TIME_SCALE speeds up its clock.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "sim/port_publisher.h"
#include "sim/pty_transport.h"
#include "sim/stick_json.h"
#include "sim/wine_registry.h"

namespace {

using namespace orbek::sim;

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
               "                       [--diag-service NAME] [--modem-service NAME]\n"
               "       orbek-stick-sim --wine-prefix P [--wine-helper EXE] [options but --root]\n"
               "       orbek-stick-sim --root R --sysfs [options]\n"
               "faults: noreply:CODE[:N] error:CODE:ERR[:N] badcrc:CODE[:N] delay:CODE:MS[:N]\n"
               "        split:CODE[:N] merge:CODE[:N] unplug:CODE:NTH[:MS|never]\n",
               problem);
  return 2;
}

// Prints the ports: "ready ..." the first time, "ports ..." on every change after. Each port by
// its COM number, or with a sysfs tree by its tty.
class PortAnnouncer final : public PortListener {
 public:
  explicit PortAnnouncer(const SysfsPublisher* ttys) : ttys_(ttys) {}

  void PortsChanged(const std::vector<PublishedPort>& ports) override {
    std::string text;
    for (const PublishedPort& port : ports) {
      text += port.role == PortRole::Diagnostic ? " diag=" : " modem=";
      text += ttys_ != nullptr ? ttys_->TtyOf(port.id) : "COM" + std::to_string(port.com);
    }
    std::printf("%s%s\n", announced_ ? "ports" : "ready", text.empty() ? " none" : text.c_str());
    std::fflush(stdout);
    announced_ = true;
  }

 private:
  const SysfsPublisher* ttys_;
  bool announced_ = false;
};

bool WriteReport(const std::string& path, const Stick& stick) {
  if (path.empty())
    return true;
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    // Texts the stick received are bytes, not always UTF-8: those are written with U+FFFD.
    out << StickReport(stick).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
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
  std::vector<FaultRule> faults;
  bool sysfs = false;
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
    } else if (option == "--fault") {
      FaultRule rule;
      std::string error;
      if (!ParseFault(value, rule, error))
        return Usage(error.c_str());
      faults.push_back(rule);
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
  std::string refusal = sysfs ? SysfsPublisher::RootRefusal(root) : PtyTransport::RootRefusal(root);
  if (!refusal.empty()) {
    std::fprintf(stderr, "orbek-stick-sim: %s\n", refusal.c_str());
    return 1;
  }

  StickConfig config = DefaultStickConfig();
  std::string error;
  if (!configPath.empty() && !LoadStickConfig(configPath, config, error)) {
    std::fprintf(stderr, "orbek-stick-sim: %s\n", error.c_str());
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

  Stick stick(config);
  for (const FaultRule& rule : faults)
    stick.AddFault(rule);
  WineRegistry wineRegistry;
  if (!winePrefix.empty() && !wineRegistry.Start(winePrefix, wineHelper, error)) {
    std::fprintf(stderr, "orbek-stick-sim: %s\n", error.c_str());
    return 1;
  }
  RegistryPublisher registry(root, names);
  PtyTransport ptys(stick, root, /*comLinks=*/!sysfs);  // the ports first, then their names
  SysfsPublisher sysfsTree(root, stick, ptys);
  PortListener& publisher = sysfs ? static_cast<PortListener&>(sysfsTree) : registry;
  if (!winePrefix.empty()) {
    registry.onWritten = [&wineRegistry](const std::string& text) {
      if (!wineRegistry.Apply(text))
        std::fprintf(stderr, "orbek-stick-sim: the Wine registry helper did not apply a change\n");
    };
  }
  PortAnnouncer announcer(sysfs ? &sysfsTree : nullptr);
  stick.AddListener(&publisher);
  stick.AddListener(&announcer);
  ptys.Start();
  stick.Start();

  while (!stopRequested) {
    orbek::platform::detail::RealSleepMicroseconds(20000);
    if (replugRequested.exchange(false)) {
      std::lock_guard<std::recursive_mutex> hold(stick.Mutex());
      stick.Reenumerate(StickMode::Firmware, std::nullopt, false, /*immediately=*/true);
    }
  }

  ptys.Stop();
  {
    std::lock_guard<std::recursive_mutex> hold(stick.Mutex());
    stick.RemoveListener(&publisher);
    stick.RemoveListener(&announcer);
    if (sysfs)
      sysfsTree.Withdraw();
    else
      registry.Withdraw();
  }
  wineRegistry.Stop();
  if (!WriteReport(reportPath, stick)) {
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

// The whole update against the simulated stick in-process, as the workflow tests and the fault
// matrix run it: the stick's clock moves only when the updater sleeps, and every sleep lets the
// stick's timed events happen.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "host/connection_manager.h"
#include "line/control_ids.h"
#include "nv/nv_backup_store.h"
#include "nv/nv_item_list.h"
#include "nv/stick_identity.h"
#include "package/image_package.h"
#include "platform/clock.h"
#include "ports/port_scanner.h"
#include "sim/in_process_bus.h"
#include "sim/port_publisher.h"
#include "tests/support/file_contents.h"
#include "tests/support/registry_root.h"
#include "update/download_procedures.h"
#include "update/port_search.h"
#include "update/update_worker.h"

namespace orbek::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline Bytes ReadAll(const fs::path& path) {
  return ReadFileBytes(path);
}

// Preserved items whose value differs from the one the stick held before (`nvBefore`).
inline size_t ItemsLostBy(sim::Stick& stick, const std::map<uint16_t, sim::NvData>& nvBefore,
                          const sim::StickConfig& config) {
  std::lock_guard<std::recursive_mutex> hold(stick.Mutex());
  size_t lost = 0;
  for (uint16_t item : NvListedItems()) {
    auto before = nvBefore.find(item);
    if (before == nvBefore.end() || config.inactiveNvItems.count(item) != 0)
      continue;
    auto now = stick.State().nvItems.find(item);
    lost += now == stick.State().nvItems.end() || now->second != before->second ? 1 : 0;
  }
  return lost;
}

// Every image in the stick's flash is the package's own, byte for byte.
inline void ExpectFlashHoldsThePackageOn(sim::Stick& stick) {
  const fs::path made = ORBEK_PACKAGE_FILE_DIR;
  std::lock_guard<std::recursive_mutex> hold(stick.Mutex());
  const sim::StickState& state = stick.State();
  EXPECT_TRUE(state.partitionTable == ReadAll(made / "partition.mbn"));
  const std::pair<const char*, const char*> images[] = {
      {"qcsblhd", "qcsblhd_cfgdata.mbn"}, {"qcsbl", "qcsbl.mbn"},
      {"oemsbl", "oemsbl.mbn"},           {"amss", "amss.mbn"},
      {"nandprg", "nandprgcombined.mbn"}, {"efs", "efs.mbn"}};
  for (const auto& [type, file] : images) {
    ASSERT_EQ(state.flash.count(type), 1u) << type;
    EXPECT_TRUE(state.flash.at(type) == ReadAll(made / file)) << type;
  }
  EXPECT_TRUE(state.unfinishedImages.empty());
}

// Sleeping moves the clock and fires the stick's due events; `onSleep` lets a test act at a
// point of the update.
class StickClock final : public platform::Clock {
 public:
  StickClock() : previous_(platform::InstallClock(this)) {}
  ~StickClock() override { platform::InstallClock(previous_); }
  uint64_t TickCountMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override {
    if (onSleepMs)
      onSleepMs(ms);
    now_ += ms;
    if (stick != nullptr)
      stick->Pump();
    for (sim::Stick* other : sticks)
      other->Pump();
    if (onSleep)
      onSleep();
  }
  sim::Stick* stick = nullptr;
  std::vector<sim::Stick*> sticks;  // several plugged in at once, set before any thread sleeps
  std::function<void()> onSleep;
  std::function<void(uint32_t ms)> onSleepMs;  // told every sleep's length first

 private:
  std::atomic<uint64_t> now_{1000};
  platform::Clock* previous_;
};

class UpdateWorkflow : public ::testing::Test {
 protected:
  ~UpdateWorkflow() override {
    for (LineSession& line : doc.lines) {
      line.link.port.Close();
      line.atPort.port.Close();
    }
    if (stick)
      stick->RemoveListener(&registry);
    if (other) {
      other->RemoveListener(&registry);
      other->RemoveListener(&registry.StickListener(1));
    }
    clock.stick = nullptr;
    clock.sticks.clear();
  }

  void Start(bool german = false) {
    stick = std::make_unique<sim::Stick>(config);
    clock.stick = stick.get();
    if (otherConfig) {
      // Another stick on the same computer, not plugged in yet (PlugInOther).
      otherConfig->initialMode = sim::StickMode::Unplugged;
      other = std::make_unique<sim::Stick>(*otherConfig);
      clock.sticks = {other.get()};
      bus = std::make_unique<sim::InProcessBus>(std::vector<sim::Stick*>{stick.get(), other.get()});
      other->Start();
      nvOfOther = other->State().nvItems;
    } else {
      bus = std::make_unique<sim::InProcessBus>(*stick);
    }
    stick->AddListener(&registry);
    stick->Start();
    fs::create_directories(installDir);
    view = std::make_unique<CVarnelView>(form, doc, german, root.Path() + "/Logs");
    ExtractPackage(*view, connectionManager);
    fs::create_directories(root.Path() + "/Logs");
    view->exitProgram = [this](int status) { exitStatus = status; };
    LineSession& line = doc.lines[0];
    SetImagePaths(line);
    doc.SetNvDirectory(root.Path());
    ASSERT_TRUE(FindStickAsTheSearchDoes());
    doc.selectedBoardTag = VersionSlot(line.versionRecord, 8);
    line.busy = 1;
    nvBefore = stick->State().nvItems;
  }

  // What the port search leaves behind when the stick is ready, or in download mode (a
  // programmer still running is reset, and the stick looked for again).
  bool FindStickAsTheSearchDoes() {
    LineSession& line = doc.lines[0];
    for (int round = 0; round < 30; ++round) {
      PortScanner scanner;
      const FoundPorts found = scanner.FindPorts();
      found.ApplyTo(line.diagPort, line.dataPort);
      line.socket = found.location;
      if (found.found && ReopenPort(line, LinePort::Diagnostic)) {
        if (ProbeStick(line)) {
          line.atPort.port.Close();
          return line.atPort.port.Open(line.dataPort);
        }
        if (ProbeDownloadMode(line))
          return true;
      }
      clock.SleepMs(1000);
    }
    return false;
  }

  // A whole backup of the stick as it was when the test started (items it did not hold read as
  // "not active").
  NvTable BackupOfTheStickAsItWas() const {
    NvTable table = BuildNvItemList();
    for (size_t slot = 0; slot < kNvListedItemCount; ++slot) {
      auto held = nvBefore.find(table[slot].itemId);
      if (held == nvBefore.end() || config.inactiveNvItems.count(table[slot].itemId) != 0) {
        table[slot].status = 5;
        continue;
      }
      std::copy(held->second.begin(), held->second.end(), table[slot].data.begin());
    }
    return table;
  }

  // Plugs the other stick in: into a socket of its own, or into the stick's own socket.
  void PlugInOther(bool intoTheStickSocket) {
    std::lock_guard<std::recursive_mutex> hold(other->Mutex());
    other->AddListener(intoTheStickSocket ? static_cast<sim::PortListener*>(&registry)
                                          : &registry.StickListener(1));
    other->SetMode(sim::StickMode::Firmware);
  }
  // Pulls the stick out for good.
  void PullOutTheStick() {
    std::lock_guard<std::recursive_mutex> hold(stick->Mutex());
    stick->Reenumerate(sim::StickMode::Unplugged, std::nullopt, /*forever=*/true,
                       /*immediately=*/true);
    stick->RemoveListener(&registry);
  }

  // The stick as the updater knows it: its configured ESN, the IMEI in its item 550, its socket.
  StickIdentity IdentityOfTheStick() const {
    StickIdentity identity{UsableEsn(config.esn), "", doc.lines[0].socket};
    auto imei = config.nvItems.find(kImeiItem);
    if (imei != config.nvItems.end())
      identity.imei = ImeiOfItem(imei->second);
    return identity;
  }
  // The backups the store keeps in the stick's own folder, newest first.
  std::vector<KeptBackup> KeptOfTheStick() const {
    return NvBackupStore(doc.nvBackupsDirectory).List(IdentityFolderName(IdentityOfTheStick()));
  }

  // Preserved items whose value differs from the one the stick held when the test started.
  size_t ItemsLost() const { return ItemsLostBy(*stick, nvBefore, config); }

  void ExpectFlashHoldsThePackage() const { ExpectFlashHoldsThePackageOn(*stick); }

  int Run() { return UpdateWorker(view->Handle(0), connectionManager); }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const RecordingForm::Box& box : form.Boxes())
      texts.push_back(box.text);
    return texts;
  }
  size_t Count(const std::vector<std::string>& texts, const std::string& text) const {
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
  }
  std::vector<int> ProgressHistory() const {
    std::vector<int> values;
    for (const std::string& text : form.TextHistory(control::kPercent[0]))
      values.push_back(std::atoi(text.c_str()));
    return values;
  }
  // The newest action log's text.
  std::string ActionLog() const {
    std::string newest;
    for (const fs::directory_entry& entry : fs::directory_iterator(root.Path() + "/Logs"))
      newest = std::max(newest, entry.path().string());
    return ReadFileText(newest);
  }
  bool InstalledFile(const std::string& name) const { return fs::exists(installDir / name); }

  RegistryRoot root;
  fs::path installDir =
      fs::path(root.Path()) / "drive_c/Program Files/Windows Service/Tazlonewversion";
  StickClock clock;
  sim::RegistryPublisher registry{root.Path(), {}};
  sim::StickConfig config = sim::DefaultStickConfig();
  std::unique_ptr<sim::Stick> stick;
  std::unique_ptr<sim::InProcessBus> bus;
  RecordingForm form;
  CVarnelDoc doc;
  std::unique_ptr<CVarnelView> view;
  ConnectionManager connectionManager{kInstallDirectory};
  std::map<uint16_t, sim::NvData> nvBefore;
  std::optional<sim::StickConfig> otherConfig;
  std::unique_ptr<sim::Stick> other;
  std::map<uint16_t, sim::NvData> nvOfOther;
  int exitStatus = -1;
};

}  // namespace orbek::testing

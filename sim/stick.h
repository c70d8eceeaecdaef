// The simulated stick: a device model with its modes, its state, its COM ports and their
// traffic. Transports (in-process, pseudo-terminals) move bytes between the host and the ports;
// the stick answers like the real device, on the platform clock.
//
// One recursive mutex guards the stick and every transport attached to it; timed events (late
// replies, re-enumeration) fire from Pump(), which every transport calls whenever it touches the
// stick.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/flash_image.h"
#include "sim/stick_config.h"

namespace orbek::sim {

enum class PortRole { Diagnostic, Modem };

struct PublishedPort {
  uint64_t id = 0;  // unique for the life of the stick: a port that comes back is a new port
  int com = 0;
  PortRole role = PortRole::Diagnostic;
};

class PortListener {
 public:
  virtual ~PortListener() = default;
  // The stick's ports changed; `ports` are those present now (none while unplugged or showing
  // only its CD-ROM). Called with the stick's mutex held.
  virtual void PortsChanged(const std::vector<PublishedPort>& ports) = 0;
};

struct ModeChange {
  uint64_t atMs = 0;
  StickMode mode = StickMode::Unplugged;
};

// Everything the stick holds and the report shows.
struct StickState {
  uint32_t esn = 0;
  std::string buildId;
  std::string modelName;
  std::array<std::string, 9> versions;
  std::map<uint16_t, NvData> nvItems;
  std::set<uint16_t> inactiveNvItems;
  std::set<uint16_t> readOnlyNvItems;
  std::map<std::string, FlashImage> flash;    // contents per image type
  std::map<std::string, Bytes> imageHeaders;  // header bytes sent with each open, per type
  Bytes partitionTable;
  uint8_t autorun = 1;
  uint8_t flagAA = 0;
  std::vector<uint8_t> autorunHistory;
  std::vector<uint8_t> flagAAHistory;
  std::vector<std::string> atCommands;
  bool offline = false;
  uint16_t lastModeChange = 0;  // the last 0x29 mode accepted
  bool diagAtMode = false;      // the diagnostic port still speaks AT

  struct DownloadCheckRecord {
    Bytes block;
    uint32_t status = 0;
  };
  struct ChallengeRecord {
    Bytes challenge;
    Bytes answer;
    bool accepted = false;
  };
  uint32_t versionTableRequests = 0;
  uint32_t subsystemPolls = 0;
  std::vector<std::string> spcReceived;
  std::vector<DownloadCheckRecord> downloadChecks;
  std::vector<ChallengeRecord> challenges;
  std::optional<Bytes> lastChallenge;

  // Requests that differ from what the updater sends (its fixed bytes, lengths and values):
  // answered as the device answers them, and listed here, so that the updater's tests see a
  // wrong byte where it was sent. A request the device refuses is listed too when it deviates.
  struct Deviation {
    std::string mode;
    Bytes request;
    std::string reason;
  };
  std::vector<Deviation> deviations;
  void NoteDeviation(const char* mode, const Bytes& request, const char* reason) {
    deviations.push_back({mode, request, reason});
  }

  // Modem port settings.
  int diagPortMode = 6;
  std::vector<std::string> cdromModes;  // the values of "AT+YCDRUN=" received

  // The boot images (types 2 to 5) the flash lacks: all four once the partition table has been
  // rewritten, and each one opened since, until it is written and closed. While any is missing,
  // the stick can only start its boot loader.
  std::set<std::string> unfinishedImages;
  // Why the stick last came up in its boot loader's download mode instead of its firmware.
  std::string bootLoaderBecause;

  // Boot loader: RAM from 0x00800000, and the programmer image started from it.
  Bytes ram;
  Bytes programmerImage;
  // Flash programmer: the image being streamed.
  struct OpenImage {
    std::string name;
    Bytes header;
    FlashImage data;
  };
  std::optional<OpenImage> openImage;
};

class Stick;

// Answers the packets of one mode on the diagnostic port: a reply packet, or nothing.
class PacketHandler {
 public:
  virtual ~PacketHandler() = default;
  virtual std::optional<Bytes> Handle(Stick& stick, const Bytes& packet) = 0;
};

class Stick {
 public:
  explicit Stick(StickConfig config);
  ~Stick();
  Stick(const Stick&) = delete;
  Stick& operator=(const Stick&) = delete;

  std::recursive_mutex& Mutex() { return mutex_; }
  void AddFault(const FaultRule& rule);
  // The stick is well again: no fault strikes any more.
  void ClearFaults();
  void SetHandler(StickMode mode, std::unique_ptr<PacketHandler> handler);
  void AddListener(PortListener* listener);
  void RemoveListener(PortListener* listener);

  // Comes onto the bus in the configured initial mode.
  void Start();

  std::vector<PublishedPort> Ports() const;
  std::optional<PublishedPort> PortByCom(int com) const;
  StickMode Mode() const;

  // The host's side of a port; a port that is gone takes nothing and gives nothing.
  bool PortAlive(uint64_t portId) const;
  bool HostWrite(uint64_t portId, const uint8_t* bytes, size_t count);
  size_t HostQueued(uint64_t portId) const;
  size_t HostRead(uint64_t portId, uint8_t* destination, size_t count);
  void HostPurgeInput(uint64_t portId);
  // Moves everything queued for the host to `out`, without firing timed events.
  void TakeOutput(uint64_t portId, Bytes& out);

  // Fires the timed events that are due.
  void Pump();
  // The status a refused NV item is answered with, when a fault refuses it now.
  std::optional<uint16_t> RefuseNvItem(uint16_t item);

  // Device actions, for command handlers and tests.
  // Answers, then drops off the bus after the reset latency and comes back in `next` mode after
  // `downMs` (nullopt: the configured re-plug delay; never when `forever`).
  void Reenumerate(StickMode next, std::optional<uint32_t> downMs = std::nullopt,
                   bool forever = false, bool immediately = false);
  void SetMode(StickMode mode);  // at once, without a gap
  StickState& State() { return state_; }
  const StickState& State() const { return state_; }
  const StickConfig& Config() const { return config_; }
  std::mt19937_64& Random() { return random_; }

  // Requests seen per mode and command code (for the report).
  const std::map<std::string, std::map<uint8_t, uint32_t>>& Counts() const { return counts_; }
  const std::vector<ModeChange>& ModeHistory() const { return modeHistory_; }

 private:
  struct Port {
    PublishedPort published;
    std::deque<uint8_t> toHost;
    Bytes fromHost;  // bytes of the frame or text line being received
    Bytes held;      // a reply held back to go out with the next one
  };

  void PlugIn(StickMode mode);
  void Unplug();
  void NotifyListeners();
  void After(uint64_t delayMs, std::function<void()> action);
  Port* FindPort(uint64_t portId);
  const Port* FindPort(uint64_t portId) const;

  void ReceiveDiagnostic(Port& port, const uint8_t* bytes, size_t count);
  void ReceiveModem(Port& port, const uint8_t* bytes, size_t count);
  void HandleFrame(Port& port, Bytes frame);
  void HandleDiagText(Port& port, const std::string& line);
  void HandleAtCommand(Port& port, const std::string& line);
  Bytes FrameForHost(const Bytes& packet, bool corruptCheck) const;
  void Emit(uint64_t portId, const Bytes& bytes);
  void EmitText(Port& port, const std::string& text);

  mutable std::recursive_mutex mutex_;
  StickConfig config_;
  StickState state_;
  FaultPlan faults_;
  StickMode mode_ = StickMode::Unplugged;
  std::map<StickMode, std::unique_ptr<PacketHandler>> handlers_;
  std::vector<PortListener*> listeners_;
  std::vector<Port> ports_;
  uint64_t nextPortId_ = 1;
  int nextCom_;
  uint64_t plugGeneration_ = 0;  // a pending re-plug of an older generation is void
  std::multimap<uint64_t, std::function<void()>> timers_;
  // While a timed event runs: its due time, from which the events it schedules count.
  std::optional<uint64_t> eventTime_;
  std::map<std::string, std::map<uint8_t, uint32_t>> counts_;
  std::vector<ModeChange> modeHistory_;
  std::mt19937_64 random_;
};

}  // namespace orbek::sim

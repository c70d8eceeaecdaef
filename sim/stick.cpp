#include "sim/stick.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "link/hdlc_framer.h"
#include "platform/clock.h"
#include "sim/boot_loader.h"
#include "sim/firmware_diag.h"

namespace orbek::sim {
namespace {

constexpr size_t kMaxPendingInput = 8192;  // garbage without a terminator is dropped

bool StartsWithAt(const Bytes& bytes) {
  return bytes.size() >= 2 && std::toupper(bytes[0]) == 'A' && std::toupper(bytes[1]) == 'T';
}

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<PortRole> RolesOf(StickMode mode) {
  switch (mode) {
    case StickMode::Firmware:
      return {PortRole::Diagnostic, PortRole::Modem};
    case StickMode::DmssDownload:
    case StickMode::StreamingDownload:
      return {PortRole::Diagnostic};
    case StickMode::CdromOnly:
    case StickMode::Unplugged:
      return {};
  }
  return {};
}

bool FramesWithOpeningFlag(StickMode mode) {
  return mode == StickMode::DmssDownload || mode == StickMode::StreamingDownload;
}

}  // namespace

Stick::Stick(StickConfig config) : config_(std::move(config)), nextCom_(config_.firstComNumber) {
  state_.esn = config_.esn;
  state_.buildId = config_.buildId;
  state_.modelName = config_.modelName;
  state_.versions = config_.versions;
  state_.nvItems = config_.nvItems;
  state_.inactiveNvItems = config_.inactiveNvItems;
  state_.readOnlyNvItems = config_.readOnlyNvItems;
  state_.diagAtMode = config_.diagPortStartsInAtMode;
  if (config_.flashIncomplete) {
    state_.unfinishedImages = BootImageNames();
    state_.bootLoaderBecause = "configured with an incomplete flash";
  }
  random_.seed(config_.challengeSeed ? *config_.challengeSeed : std::random_device{}());
  handlers_[StickMode::Firmware] = std::make_unique<FirmwareDiag>();
  handlers_[StickMode::DmssDownload] = std::make_unique<DmssBootLoader>();
  handlers_[StickMode::StreamingDownload] = std::make_unique<FlashProgrammer>();
}

Stick::~Stick() = default;

void Stick::AddFault(const FaultRule& rule) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  faults_.Add(rule);
}

void Stick::ClearFaults() {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  faults_.Clear();
}

std::optional<uint16_t> Stick::RefuseNvItem(uint16_t item) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return faults_.RefuseNvItem(item);
}

void Stick::SetHandler(StickMode mode, std::unique_ptr<PacketHandler> handler) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  handlers_[mode] = std::move(handler);
}

void Stick::AddListener(PortListener* listener) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  listeners_.push_back(listener);
}

void Stick::RemoveListener(PortListener* listener) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void Stick::Start() {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  PlugIn(config_.initialMode);
}

std::vector<PublishedPort> Stick::Ports() const {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  std::vector<PublishedPort> ports;
  for (const Port& port : ports_)
    ports.push_back(port.published);
  return ports;
}

std::optional<PublishedPort> Stick::PortByCom(int com) const {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  for (const Port& port : ports_) {
    if (port.published.com == com)
      return port.published;
  }
  return std::nullopt;
}

StickMode Stick::Mode() const {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return mode_;
}

Stick::Port* Stick::FindPort(uint64_t portId) {
  for (Port& port : ports_) {
    if (port.published.id == portId)
      return &port;
  }
  return nullptr;
}

const Stick::Port* Stick::FindPort(uint64_t portId) const {
  return const_cast<Stick*>(this)->FindPort(portId);
}

bool Stick::PortAlive(uint64_t portId) const {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  return FindPort(portId) != nullptr;
}

bool Stick::HostWrite(uint64_t portId, const uint8_t* bytes, size_t count) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  Pump();
  Port* port = FindPort(portId);
  if (port == nullptr)
    return false;
  if (port->published.role == PortRole::Diagnostic) {
    ReceiveDiagnostic(*port, bytes, count);
  } else {
    ReceiveModem(*port, bytes, count);
  }
  return true;
}

size_t Stick::HostQueued(uint64_t portId) const {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  const_cast<Stick*>(this)->Pump();
  const Port* port = FindPort(portId);
  return port != nullptr ? port->toHost.size() : 0;
}

size_t Stick::HostRead(uint64_t portId, uint8_t* destination, size_t count) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  Pump();
  Port* port = FindPort(portId);
  if (port == nullptr)
    return 0;
  size_t n = std::min(count, port->toHost.size());
  std::copy_n(port->toHost.begin(), n, destination);
  port->toHost.erase(port->toHost.begin(), port->toHost.begin() + static_cast<ptrdiff_t>(n));
  return n;
}

void Stick::TakeOutput(uint64_t portId, Bytes& out) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  Port* port = FindPort(portId);
  if (port == nullptr)
    return;
  out.insert(out.end(), port->toHost.begin(), port->toHost.end());
  port->toHost.clear();
}

void Stick::HostPurgeInput(uint64_t portId) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  if (Port* port = FindPort(portId))
    port->toHost.clear();
}

void Stick::Pump() {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  const uint64_t now = platform::TickCountMs();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    auto action = std::move(timers_.begin()->second);
    const uint64_t due = timers_.begin()->first;
    timers_.erase(timers_.begin());
    const std::optional<uint64_t> outer = std::exchange(eventTime_, due);
    action();
    eventTime_ = outer;
  }
}

void Stick::After(uint64_t delayMs, std::function<void()> action) {
  const uint64_t base = eventTime_ ? *eventTime_ : platform::TickCountMs();
  timers_.emplace(base + delayMs, std::move(action));
}

void Stick::Reenumerate(StickMode next, std::optional<uint32_t> downMs, bool forever,
                        bool immediately) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  const uint32_t down = downMs.value_or(config_.replugDelayMs);
  auto dropAndReturn = [this, next, down, forever] {
    Unplug();
    if (forever)
      return;
    const uint64_t generation = plugGeneration_;
    After(down, [this, next, generation] {
      if (generation == plugGeneration_)
        PlugIn(next);
    });
  };
  if (immediately || config_.resetLatencyMs == 0) {
    dropAndReturn();
  } else {
    After(config_.resetLatencyMs, dropAndReturn);
  }
}

void Stick::SetMode(StickMode mode) {
  std::lock_guard<std::recursive_mutex> hold(mutex_);
  if (RolesOf(mode) == RolesOf(mode_) && !ports_.empty()) {
    mode_ = mode;
    modeHistory_.push_back({platform::TickCountMs(), mode});
    return;
  }
  Unplug();
  PlugIn(mode);
}

void Stick::PlugIn(StickMode mode) {
  ++plugGeneration_;
  // A stick whose flash lacks a boot image cannot start its firmware: after a reset, a re-plug
  // or a loss of power it comes back in its boot loader's download mode.
  if (mode == StickMode::Firmware && !state_.unfinishedImages.empty()) {
    mode = StickMode::DmssDownload;
    std::string missing;
    for (const std::string& name : state_.unfinishedImages)
      missing += (missing.empty() ? "" : ", ") + name;
    state_.bootLoaderBecause = "the flash lacks " + missing;
  }
  if (config_.renumber && !modeHistory_.empty())
    nextCom_ += 2;
  mode_ = mode;
  modeHistory_.push_back({platform::TickCountMs(), mode});
  ports_.clear();
  int com = nextCom_;
  for (PortRole role : RolesOf(mode)) {
    Port port;
    port.published = {nextPortId_++, com++, role};
    ports_.push_back(std::move(port));
  }
  NotifyListeners();
}

void Stick::Unplug() {
  ++plugGeneration_;
  if (mode_ == StickMode::Unplugged && ports_.empty())
    return;
  mode_ = StickMode::Unplugged;
  modeHistory_.push_back({platform::TickCountMs(), mode_});
  ports_.clear();
  NotifyListeners();
}

void Stick::NotifyListeners() {
  std::vector<PublishedPort> ports;
  for (const Port& port : ports_)
    ports.push_back(port.published);
  for (PortListener* listener : std::vector<PortListener*>(listeners_)) {
    listener->PortsChanged(ports);
  }
}

void Stick::ReceiveDiagnostic(Port& port, const uint8_t* bytes, size_t count) {
  const uint64_t id = port.published.id;
  for (size_t i = 0; i < count; ++i) {
    Port* current = FindPort(id);  // a request may have unplugged the stick
    if (current == nullptr)
      return;
    uint8_t byte = bytes[i];
    if (byte == kHdlcFlag) {
      if (!current->fromHost.empty())
        HandleFrame(*current, std::exchange(current->fromHost, {}));
      continue;
    }
    current->fromHost.push_back(byte);
    if (byte == '\r' && StartsWithAt(current->fromHost)) {
      std::string line(current->fromHost.begin(), current->fromHost.end() - 1);
      current->fromHost.clear();
      HandleDiagText(*current, line);
    } else if (current->fromHost.size() > kMaxPendingInput) {
      current->fromHost.clear();
    }
  }
}

void Stick::ReceiveModem(Port& port, const uint8_t* bytes, size_t count) {
  const uint64_t id = port.published.id;
  for (size_t i = 0; i < count; ++i) {
    Port* current = FindPort(id);
    if (current == nullptr)
      return;
    uint8_t byte = bytes[i];
    if (byte == '\n' && current->fromHost.empty())
      continue;
    if (byte != '\r') {
      current->fromHost.push_back(byte);
      if (current->fromHost.size() > kMaxPendingInput)
        current->fromHost.clear();
      continue;
    }
    std::string line(current->fromHost.begin(), current->fromHost.end());
    current->fromHost.clear();
    HandleAtCommand(*current, line);
  }
}

void Stick::HandleFrame(Port& port, Bytes frame) {
  if (state_.diagAtMode) {
    ++counts_["at-mode"][frame.empty() ? 0 : frame[0]];
    return;  // an AT port takes frames for noise
  }
  frame.resize(UnstuffInPlace(frame.data(), 0, frame.size()));
  if (frame.size() < 3 || !Fcs16Good(frame.data(), frame.size()))
    return;  // not for us
  frame.resize(frame.size() - 2);
  const uint64_t id = port.published.id;
  const uint8_t command = frame[0];
  ++counts_[StickModeName(mode_)][command];

  FaultDecision fault = faults_.Decide(command);
  if (fault.unplug) {
    Reenumerate(mode_, fault.returnAfterMs, fault.neverReturn, /*immediately=*/true);
    return;
  }
  if (fault.noReply)
    return;

  std::optional<Bytes> reply;
  if (fault.errorCode) {
    reply = mode_ == StickMode::DmssDownload        ? DmssNak(*fault.errorCode)
            : mode_ == StickMode::StreamingDownload ? StreamingError(*fault.errorCode)
                                                    : DiagRefusal(*fault.errorCode, frame);
  } else if (auto handler = handlers_.find(mode_); handler != handlers_.end()) {
    reply = handler->second->Handle(*this, frame);
  }
  if (!reply || reply->empty())
    return;
  Port* current = FindPort(id);  // the request may have taken the stick off the bus
  if (current == nullptr)
    return;

  Bytes bytes = FrameForHost(*reply, fault.badCrc);
  if (fault.merge) {
    current->held.insert(current->held.end(), bytes.begin(), bytes.end());
    return;
  }
  if (!current->held.empty()) {
    bytes.insert(bytes.begin(), current->held.begin(), current->held.end());
    current->held.clear();
  }
  if (!fault.split) {
    if (fault.delayMs == 0) {
      Emit(id, bytes);
    } else {
      After(fault.delayMs, [this, id, bytes] { Emit(id, bytes); });
    }
    return;
  }
  const auto middle = bytes.begin() + static_cast<ptrdiff_t>(bytes.size() / 2);
  Bytes first(bytes.begin(), middle);
  Bytes second(middle, bytes.end());
  After(fault.delayMs, [this, id, first] { Emit(id, first); });
  After(fault.delayMs + config_.splitGapMs, [this, id, second] { Emit(id, second); });
  Pump();
}

Bytes Stick::FrameForHost(const Bytes& packet, bool corruptCheck) const {
  Bytes checked = packet;
  checked.resize(packet.size() + 2);
  Fcs16(checked.data(), packet.size());
  if (corruptCheck)
    checked[packet.size()] ^= 0x5A;
  Bytes framed;
  if (FramesWithOpeningFlag(mode_))
    framed.push_back(kHdlcFlag);
  AppendStuffed(checked.data(), checked.size(), framed);
  framed.push_back(kHdlcFlag);
  return framed;
}

void Stick::Emit(uint64_t portId, const Bytes& bytes) {
  if (Port* port = FindPort(portId))
    port->toHost.insert(port->toHost.end(), bytes.begin(), bytes.end());
}

void Stick::EmitText(Port& port, const std::string& text) {
  port.toHost.insert(port.toHost.end(), text.begin(), text.end());
}

void Stick::HandleDiagText(Port& port, const std::string& line) {
  state_.atCommands.push_back(line);
  if (!state_.diagAtMode)
    return;  // a DIAG port takes text for noise
  if (config_.atEcho)
    EmitText(port, line + "\r");
  if (Upper(line) == "AT$QCDMG") {
    EmitText(port, "\r\nOK\r\n");
    state_.diagAtMode = false;
  } else {
    EmitText(port, "\r\nERROR\r\n");
  }
}

void Stick::HandleAtCommand(Port& port, const std::string& line) {
  if (line.empty())
    return;
  state_.atCommands.push_back(line);
  if (config_.atEcho)
    EmitText(port, line + "\r");
  const std::string command = Upper(line);
  const std::string kOk = "\r\nOK\r\n";
  if (command == "AT") {
    EmitText(port, kOk);
  } else if (command == "AT+GMR") {
    EmitText(port, "\r\n" + state_.versions[0] + "\r\n" + kOk);
  } else if (command == "AT+YDIAG?") {
    EmitText(port, "\r\n+YDIAG: " + std::to_string(state_.diagPortMode) + "\r\n" + kOk);
  } else if (command.rfind("AT+YDIAG=", 0) == 0 && command.size() > 9 &&
             std::all_of(command.begin() + 9, command.end(), ::isdigit)) {
    state_.diagPortMode = std::stoi(command.substr(9, 6));
    EmitText(port, kOk);
  } else if (command == "AT+YCDRUN=F" || command == "AT+YCDRUN=9") {
    state_.cdromModes.push_back(command.substr(10));
    EmitText(port, kOk);
  } else if (command == "AT+YRST") {
    EmitText(port, kOk);
    Reenumerate(StickMode::Firmware);
  } else {
    EmitText(port, "\r\nERROR\r\n");
  }
}

}  // namespace orbek::sim

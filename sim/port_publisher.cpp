#include "sim/port_publisher.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/regedit_text.h"
#include "sim/pty_transport.h"

#ifndef ORBEK_USB_VENDOR_ID
#define ORBEK_USB_VENDOR_ID 0x1234
#endif

namespace orbek::sim {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kServices = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char* kEnum = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const char* kDeviceFamily = "USB\\VID_1234&PID_5678";

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

// The file's key blocks that are not the stick's, as they were (converted to UTF-8).
template <typename IsOwnKey>
std::string ForeignBlocks(const std::string& path, IsOwnKey isOwnKey) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return {};
  std::stringstream raw;
  raw << file.rdbuf();
  std::istringstream lines(platform::RegeditBytesToUtf8(raw.str()));
  std::string line, kept;
  bool keep = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!line.empty() && line.front() == '[') {
      std::string key = line.substr(1, line.size() > 1 ? line.size() - 2 : 0);
      keep = !isOwnKey(key);
    } else if (line == kHeader) {
      continue;
    }
    if (keep)
      kept += line + "\n";
  }
  return kept;
}

}  // namespace

std::string DeviceInstanceId(PortRole role, int stick) {
  char parent[16];
  std::snprintf(parent, sizeof parent, "%08x", 0x1a2b3c4du + static_cast<unsigned>(stick));
  return std::string(kDeviceFamily) + (role == PortRole::Diagnostic ? "&MI_00\\7&" : "&MI_01\\7&") +
         parent + (role == PortRole::Diagnostic ? "&0&0000" : "&0&0001");
}

class RegistryPublisher::StickEntries final : public PortListener {
 public:
  StickEntries(RegistryPublisher& owner, int index) : owner_(owner), index_(index) {}
  void PortsChanged(const std::vector<PublishedPort>& ports) override {
    owner_.Publish(index_, ports);
  }

 private:
  RegistryPublisher& owner_;
  int index_;
};

RegistryPublisher::RegistryPublisher(std::string root, RegistryNames names)
    : root_(std::move(root)), names_(std::move(names)) {}

RegistryPublisher::~RegistryPublisher() = default;

void RegistryPublisher::PortsChanged(const std::vector<PublishedPort>& ports) {
  Publish(0, ports);
}

PortListener& RegistryPublisher::StickListener(int index) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::unique_ptr<StickEntries>& listener = listeners_[index];
  if (!listener)
    listener = std::make_unique<StickEntries>(*this, index);
  return *listener;
}

void RegistryPublisher::Publish(int index, const std::vector<PublishedPort>& ports) {
  std::lock_guard<std::mutex> hold(mutex_);
  ports_[index] = ports;
  Write(false);
}

void RegistryPublisher::Withdraw() {
  std::lock_guard<std::mutex> hold(mutex_);
  ports_.clear();
  Write(true);
}

void RegistryPublisher::Write(bool withdraw) {
  std::error_code error;
  std::filesystem::create_directories(root_, error);
  const std::string path = root_ + "/registry.reg";
  const std::string diagKey = kServices + names_.diagService + "\\Enum";
  const std::string modemKey = kServices + names_.modemService + "\\Enum";
  std::string text = std::string(kHeader) + "\n\n";
  const std::string deviceKeys = kEnum + std::string(kDeviceFamily);
  std::string foreign = ForeignBlocks(path, [&](const std::string& key) {
    return Lower(key) == Lower(diagKey) || Lower(key) == Lower(modemKey) ||
           StartsWithNoCase(key, deviceKeys);
  });
  text += foreign;
  if (!foreign.empty() &&
      (foreign.size() < 2 || foreign.compare(foreign.size() - 2, 2, "\n\n") != 0)) {
    text += "\n";
  }

  if (!withdraw) {
    for (PortRole role : {PortRole::Diagnostic, PortRole::Modem}) {
      std::string instances;
      int count = 0;
      for (const auto& [stick, ports] : ports_) {
        for (const PublishedPort& port : ports) {
          if (port.role == role) {
            instances += '"';
            instances += std::to_string(count++);
            instances += "\"=";
            instances += platform::RegeditQuote(DeviceInstanceId(role, stick));
            instances += '\n';
            break;
          }
        }
      }
      char countText[32];
      std::snprintf(countText, sizeof countText, "\"Count\"=dword:%08x\n", count);
      text += "[" + (role == PortRole::Diagnostic ? diagKey : modemKey) + "]\n" + countText +
              instances + "\n";
    }
    for (const auto& [stick, ports] : ports_) {
      for (const PublishedPort& port : ports) {
        text += "[" + std::string(kEnum) + DeviceInstanceId(port.role, stick) +
                "\\Device Parameters]\n";
        text += "\"PortName\"=" + platform::RegeditQuote("COM" + std::to_string(port.com)) + "\n\n";
      }
    }
  }

  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    std::fprintf(stderr, "orbek-stick-sim: cannot write %s\n", path.c_str());
    return;
  }
  if (onWritten)
    onWritten(text);
}

namespace {

// One tty numbering for every stick of the process: a number is chosen and its node made at
// once.
std::mutex ttyNumbering;

void WriteAttribute(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text << "\n";
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
  return text;
}

}  // namespace

SysfsPublisher::SysfsPublisher(std::string root, const Stick& stick, const PtyTransport& ptys)
    : root_(std::move(root)), location_(stick.Config().location), stick_(stick), ptys_(ptys) {
  std::filesystem::create_directories(root_ + "/sys/bus/usb/devices");
  std::filesystem::create_directories(root_ + "/dev");
}

std::string SysfsPublisher::RootRefusal(const std::string& root, const std::string& location) {
  std::error_code ignored;
  for (const char* folder : {"/dev", "/sys", "/sys/bus", "/sys/bus/usb", "/sys/bus/usb/devices"}) {
    if (std::filesystem::is_symlink(root + folder, ignored)) {
      return root + folder +
             " is a link to another folder; the stick publishes only into its own root";
    }
  }
  const std::string device = root + "/sys/bus/usb/devices/" + location;
  if (std::filesystem::exists(std::filesystem::symlink_status(device, ignored))) {
    return device + " is there already: another stick's, or one left by a stick that was killed";
  }
  return {};
}

std::string SysfsPublisher::TtyOf(uint64_t portId) const {
  auto found = ttys_.find(portId);
  return found != ttys_.end() ? "ttyUSB" + std::to_string(found->second - 1) : "";
}

void SysfsPublisher::Withdraw() {
  PortsChanged({});
}

void SysfsPublisher::PortsChanged(const std::vector<PublishedPort>& ports) {
  std::lock_guard<std::mutex> numbering(ttyNumbering);
  const std::filesystem::path devices = root_ + "/sys/bus/usb/devices";
  const std::filesystem::path dev = root_ + "/dev";
  std::error_code ignored;
  // The device goes away with its interfaces and nodes (a re-enumeration is a new device).
  for (const auto& [id, tty] : ttys_) {
    if (std::filesystem::is_symlink(dev / TtyOf(id), ignored))
      std::filesystem::remove(dev / TtyOf(id), ignored);
  }
  if (published_) {
    for (const auto& entry : std::filesystem::directory_iterator(devices, ignored)) {
      const std::string name = entry.path().filename().string();
      if (name == location_ || name.rfind(location_ + ":", 0) == 0)
        std::filesystem::remove_all(entry.path(), ignored);
    }
    published_ = false;
  }
  std::map<uint64_t, int> kept;
  for (const PublishedPort& port : ports) {
    auto known = ttys_.find(port.id);
    if (known != ttys_.end())
      kept[port.id] = known->second;
  }
  ttys_ = std::move(kept);
  if (ports.empty())
    return;

  const bool download = stick_.Mode() != StickMode::Firmware;
  const std::filesystem::path device = devices / location_;
  std::filesystem::create_directories(device, ignored);
  published_ = true;
  WriteAttribute(device / "idVendor", Hex4(ORBEK_USB_VENDOR_ID));
  WriteAttribute(device / "idProduct", Hex4(download ? kDownloadProduct : kFirmwareProduct));
  WriteAttribute(device / "busnum", "1");
  WriteAttribute(device / "devnum", std::to_string(++devnum_));
  for (const PublishedPort& port : ports) {
    int& tty = ttys_[port.id];
    if (tty == 0) {
      std::set<int> used;
      for (const auto& [id, taken] : ttys_) {
        if (id != port.id)
          used.insert(taken);
      }
      // One higher than k: 0 is "none yet". A node there that is not the stick's is taken.
      auto taken = [&](int k) {
        return used.count(k) != 0 || std::filesystem::exists(std::filesystem::symlink_status(
                                         dev / ("ttyUSB" + std::to_string(k - 1)), ignored));
      };
      tty = 1;
      while (taken(tty))
        ++tty;
    }
    const std::string name = TtyOf(port.id);
    const int number = port.role == PortRole::Diagnostic ? 0 : 1;
    const std::filesystem::path interface = devices / (location_ + (number == 0 ? ":1.0" : ":1.1"));
    std::filesystem::create_directories(interface / name, ignored);
    WriteAttribute(interface / "bInterfaceNumber", number == 0 ? "00" : "01");
    const std::string slave = ptys_.SlavePath(port.id);
    if (!slave.empty())
      std::filesystem::create_symlink(slave, dev / name, ignored);
  }
}

}  // namespace orbek::sim

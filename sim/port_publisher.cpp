#include "sim/port_publisher.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/regedit_text.h"

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

std::string DeviceInstanceId(PortRole role) {
  return std::string(kDeviceFamily) +
         (role == PortRole::Diagnostic ? "&MI_00\\7&1a2b3c4d&0&0000" : "&MI_01\\7&1a2b3c4d&0&0001");
}

RegistryPublisher::RegistryPublisher(std::string root, RegistryNames names)
    : root_(std::move(root)), names_(std::move(names)) {}

void RegistryPublisher::PortsChanged(const std::vector<PublishedPort>& ports) {
  Write(ports, false);
}

void RegistryPublisher::Withdraw() {
  Write({}, true);
}

void RegistryPublisher::Write(const std::vector<PublishedPort>& ports, bool withdraw) {
  std::filesystem::create_directories(root_);
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
      const PublishedPort* found = nullptr;
      for (const PublishedPort& port : ports) {
        if (port.role == role)
          found = &port;
      }
      text += "[" + (role == PortRole::Diagnostic ? diagKey : modemKey) + "]\n";
      text += found != nullptr ? "\"Count\"=dword:00000001\n\"0\"=" +
                                     platform::RegeditQuote(DeviceInstanceId(role)) + "\n\n"
                               : "\"Count\"=dword:00000000\n\n";
    }
    for (const PublishedPort& port : ports) {
      text += "[" + std::string(kEnum) + DeviceInstanceId(port.role) + "\\Device Parameters]\n";
      text += "\"PortName\"=" + platform::RegeditQuote("COM" + std::to_string(port.com)) + "\n\n";
    }
  }

  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::filesystem::rename(temporary, path);
  if (onWritten)
    onWritten(text);
}

}  // namespace orbek::sim

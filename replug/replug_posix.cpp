// The re-plug backend on Linux: the device tree is sysfs, a USB device's instance id is written
// "USB\VID_xxxx&PID_yyyy\<serial>" from its idVendor and idProduct, a CD-ROM volume is a block
// device srN below it, and the command goes out with the SG_IO ioctl. ORBEK_SYSFS_ROOT and
// ORBEK_DEV_ROOT point the walk elsewhere (tests use a fake tree).
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "replug/replug_internal.h"

namespace orbek::replug {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxDepth = 64;
constexpr unsigned kTimeoutMs = 10000;
constexpr unsigned char kSenseRoom = 24;

std::string Environment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsUsbDevice(const fs::path& node) {
  std::error_code error;
  return fs::exists(node / "idVendor", error) && fs::exists(node / "idProduct", error);
}

std::string InstanceId(const fs::path& node) {
  if (!IsUsbDevice(node))
    return "SYSFS\\" + node.filename().string();
  std::string serial = ReadLine(node / "serial");
  if (serial.empty())
    serial = node.filename().string();
  return "USB\\VID_" + Upper(ReadLine(node / "idVendor")) + "&PID_" +
         Upper(ReadLine(node / "idProduct")) + "\\" + serial;
}

bool IsCdromVolume(const fs::path& node) {
  const std::string name = node.filename().string();
  return node.parent_path().filename() == "block" && name.size() > 2 &&
         name.compare(0, 2, "sr") == 0 && std::all_of(name.begin() + 2, name.end(), [](char c) {
           return std::isdigit(static_cast<unsigned char>(c));
         });
}

std::vector<fs::path> Children(const fs::path& node) {
  std::vector<fs::path> children;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(node, error)) {
    // sysfs links back up and across the tree; only real subdirectories are children.
    if (entry.is_directory(error) && !entry.is_symlink(error))
      children.push_back(entry.path());
  }
  std::sort(children.begin(), children.end());
  return children;
}

struct Walk {
  const std::string& prefix;
  const std::set<fs::path>& usbDevices;
  const std::string devRoot;
  std::vector<std::string>& volumes;

  void Visit(const fs::path& node, bool mark, int depth) {
    MarkNode(InstanceId(node), prefix, mark);
    if (mark && IsCdromVolume(node)) {
      const std::string volume = devRoot + "/" + node.filename().string();
      if (std::find(volumes.begin(), volumes.end(), volume) == volumes.end()) {
        volumes.push_back(volume);
      }
    }
    if (depth >= kMaxDepth)
      return;
    for (const fs::path& child : Children(node)) {
      if (usbDevices.count(child) == 0)
        Visit(child, mark, depth + 1);
    }
  }
};

}  // namespace

std::vector<std::string> FindMarkedVolumes(const std::string& prefix) {
  const std::string sysfs = Environment("ORBEK_SYSFS_ROOT", "/sys");
  std::set<fs::path> usbDevices;
  std::vector<fs::path> ordered;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(sysfs) / "bus/usb/devices", error)) {
    fs::path device = fs::canonical(entry.path(), error);
    if (error || !IsUsbDevice(device) || !StartsWithNoCase(InstanceId(device), "USB\\VID"))
      continue;
    if (usbDevices.insert(device).second)
      ordered.push_back(device);
  }
  std::sort(ordered.begin(), ordered.end());
  std::vector<std::string> volumes;
  Walk walk{prefix, usbDevices, Environment("ORBEK_DEV_ROOT", "/dev"), volumes};
  for (const fs::path& device : ordered) {
    bool mark = false;
    walk.Visit(device, mark, 0);
  }
  return volumes;
}

void SendScsiCommand(const std::string& volume, const uint8_t* cdb, size_t length) {
  int fd = open(volume.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return;
  unsigned char command[16] = {};
  std::copy_n(cdb, std::min(length, sizeof command), command);
  unsigned char sense[kSenseRoom] = {};
  sg_io_hdr_t request{};
  request.interface_id = 'S';
  request.dxfer_direction = SG_DXFER_NONE;
  request.cmd_len = static_cast<unsigned char>(length);
  request.mx_sb_len = kSenseRoom;
  request.cmdp = command;
  request.sbp = sense;
  request.timeout = kTimeoutMs;
  ioctl(fd, SG_IO, &request);  // the result is not examined
  close(fd);
}

}  // namespace orbek::replug

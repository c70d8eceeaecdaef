#include "platform/posix/sysfs_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/text_format.h"

#ifndef ORBEK_USB_VENDOR_ID
#define ORBEK_USB_VENDOR_ID 0x1234
#endif
#ifndef ORBEK_USB_DIAG_INTERFACE
#define ORBEK_USB_DIAG_INTERFACE 0
#endif
#ifndef ORBEK_USB_MODEM_INTERFACE
#define ORBEK_USB_MODEM_INTERFACE 1
#endif

namespace orbek::platform {
namespace {

constexpr const char* kServices = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
constexpr const char* kEnum = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
// Far more than the small attribute files read here hold.
constexpr size_t kMaxAttributeBytes = 64;

struct TtyFamily {
  const char* prefix;
  int firstCom;
};
constexpr TtyFamily kTtyFamilies[] = {{"ttyUSB", 34}, {"ttyACM", 66}, {"ttyS", 1}};
constexpr int kFamilySize = 32;

// A small sysfs attribute's text without its line end; false when it cannot be read.
bool ReadAttribute(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  char buffer[kMaxAttributeBytes];
  ssize_t got;
  do {
    got = read(fd, buffer, sizeof buffer);
  } while (got < 0 && errno == EINTR);
  close(fd);
  if (got <= 0)
    return false;
  text.assign(buffer, static_cast<size_t>(got));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return !text.empty();
}

// A whole number in `base`, all of `text`; false otherwise.
bool ParseWhole(const std::string& text, int base, long max, long& value) {
  if (text.empty() || text.size() > 8)
    return false;
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * base + digit;
  }
  return value <= max;
}

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr)
    return names;
  while (dirent* entry = readdir(listing)) {
    if (entry->d_name[0] != '.')
      names.emplace_back(entry->d_name);
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

bool IsTtyName(const std::string& name) {
  return ComNumberOfTty(name) != 0;
}

// The tty below an interface: a child named like a tty (usb-serial drivers), or one inside its
// "tty" directory (cdc-acm).
std::string TtyOf(const std::string& interfaceDirectory) {
  for (const std::string& name : Entries(interfaceDirectory)) {
    if (IsTtyName(name))
      return name;
  }
  for (const std::string& name : Entries(interfaceDirectory + "/tty")) {
    if (IsTtyName(name))
      return name;
  }
  return {};
}

}  // namespace

const SysfsPortRules& BuiltSysfsPortRules() {
  static const SysfsPortRules rules{ORBEK_USB_VENDOR_ID, ORBEK_USB_DIAG_INTERFACE,
                                    ORBEK_USB_MODEM_INTERFACE, "qcusbser6k", "qcusbmdm6k"};
  return rules;
}

int ComNumberOfTty(const std::string& tty) {
  for (const TtyFamily& family : kTtyFamilies) {
    const std::string prefix = family.prefix;
    long index = 0;
    if (tty.compare(0, prefix.size(), prefix) == 0 &&
        ParseWhole(tty.substr(prefix.size()), 10, kFamilySize - 1, index)) {
      return family.firstCom + static_cast<int>(index);
    }
  }
  return 0;
}

std::vector<SysfsPort> ScanSysfsPorts(const std::string& sysfsRoot, const SysfsPortRules& rules) {
  const std::string devices = sysfsRoot + "/bus/usb/devices";
  std::vector<SysfsPort> ports;
  for (const std::string& name : Entries(devices)) {
    const size_t colon = name.find(':');
    if (colon == std::string::npos)
      continue;  // a device, not an interface
    const std::string device = devices + "/" + name.substr(0, colon);
    const std::string interface = devices + "/" + name;
    std::string vendorText, productText, numberText, orderText;
    long vendor = 0, product = 0, number = 0, order = 0;
    if (!ReadAttribute(device + "/idVendor", vendorText) ||
        !ParseWhole(vendorText, 16, 0xFFFF, vendor) || vendor != rules.vendorId ||
        !ReadAttribute(device + "/idProduct", productText) ||
        !ParseWhole(productText, 16, 0xFFFF, product) ||
        !ReadAttribute(interface + "/bInterfaceNumber", numberText) ||
        !ParseWhole(numberText, 16, 0xFF, number)) {
      continue;
    }
    const bool diagnostic = number == rules.diagInterface;
    if (!diagnostic && number != rules.modemInterface)
      continue;
    if (!ReadAttribute(device + "/devnum", orderText) || !ParseWhole(orderText, 10, 1 << 20, order))
      order = 0;
    const std::string tty = TtyOf(interface);
    if (tty.empty())
      continue;
    ports.push_back({Format("USB\\VID_%04lX&PID_%04lX&MI_%02lX\\", vendor, product, number) + name,
                     diagnostic, tty, ComNumberOfTty(tty), order});
  }
  std::stable_sort(ports.begin(), ports.end(),
                   [](const SysfsPort& a, const SysfsPort& b) { return a.order < b.order; });
  return ports;
}

void AddSysfsEntries(const std::vector<SysfsPort>& ports, const SysfsPortRules& rules,
                     RegeditKeys& keys) {
  for (const SysfsPort& port : ports) {
    RegeditValues& service =
        keys[kServices + (port.diagnostic ? rules.diagService : rules.modemService) + "\\Enum"];
    RegeditValue& count = service["Count"];
    if (count.type != RegeditValue::Type::Dword) {
      count.type = RegeditValue::Type::Dword;
      count.dword = 0;
    }
    RegeditValue& instance = service[std::to_string(count.dword)];
    instance.type = RegeditValue::Type::String;
    instance.text = port.instanceId;
    ++count.dword;

    RegeditValue& name = keys[kEnum + port.instanceId + "\\Device Parameters"]["PortName"];
    name.type = RegeditValue::Type::String;
    name.text = "COM" + std::to_string(port.com);
  }
}

bool KeepComLinks(const std::vector<SysfsPort>& ports, const std::string& orbekRoot,
                  const std::string& devRoot) {
  const std::string dosdevices = orbekRoot + "/dosdevices";
  mkdir(orbekRoot.c_str(), 0755);
  mkdir(dosdevices.c_str(), 0755);
  struct stat folder {};
  if (lstat(dosdevices.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
    return false;
  for (const SysfsPort& port : ports) {
    const std::string link = dosdevices + "/com" + std::to_string(port.com);
    const std::string target = devRoot + "/" + port.tty;
    char current[4096];
    const ssize_t length = readlink(link.c_str(), current, sizeof current - 1);
    if (length >= 0 && std::string(current, static_cast<size_t>(length)) == target)
      continue;
    struct stat existing {};
    if (length < 0 && lstat(link.c_str(), &existing) == 0)
      continue;  // a file of another kind: not a link the program may replace
    // Replaced atomically: a link made aside, then renamed over the old one.
    const std::string aside = link + ".new." + std::to_string(getpid());
    unlink(aside.c_str());
    if (symlink(target.c_str(), aside.c_str()) == 0 && rename(aside.c_str(), link.c_str()) != 0)
      unlink(aside.c_str());
  }
  // Links of the mapping that point at a node of devRoot that is gone (a port's own link stays:
  // its node may be made a moment after sysfs shows the tty).
  for (const std::string& name : Entries(dosdevices)) {
    long com = 0;
    if (name.compare(0, 3, "com") != 0 || !ParseWhole(name.substr(3), 10, 999, com) ||
        std::any_of(ports.begin(), ports.end(),
                    [com](const SysfsPort& port) { return port.com == com; })) {
      continue;
    }
    const std::string link = dosdevices + "/" + name;
    char current[4096];
    const ssize_t length = readlink(link.c_str(), current, sizeof current - 1);
    if (length < 0)
      continue;
    const std::string target(current, static_cast<size_t>(length));
    const std::string tty = target.substr(target.rfind('/') + 1);
    struct stat node {};
    if (target == devRoot + "/" + tty && ComNumberOfTty(tty) == com &&
        stat(target.c_str(), &node) != 0 && errno == ENOENT) {
      unlink(link.c_str());
    }
  }
  return true;
}

}  // namespace orbek::platform

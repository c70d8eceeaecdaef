// The registry on posix: a regedit export at $ORBEK_ROOT/registry.reg, read again whenever the
// file changes (the simulated stick replaces it atomically on every plug and unplug), merged
// with the driver entries that the USB serial ports in sysfs imply (a real stick on Linux).
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/posix/sysfs_ports.h"
#include "platform/regedit_text.h"
#include "platform/registry.h"

namespace orbek::platform {
namespace {

constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE\\";
// Far more than a registry export of driver entries ever holds.
constexpr size_t kMaxExportBytes = 16 * 1024 * 1024;
// One sysfs scan serves the lookups of one search pass.
constexpr long long kSysfsFreshMs = 50;

std::string EnvironmentOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}
std::string SysfsRoot() {
  return EnvironmentOr("ORBEK_SYSFS_ROOT", "/sys");
}
std::string DevRoot() {
  return EnvironmentOr("ORBEK_DEV_ROOT", "/dev");
}

long long MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

bool SamePorts(const std::vector<SysfsPort>& a, const std::vector<SysfsPort>& b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].instanceId != b[i].instanceId || a[i].tty != b[i].tty || a[i].order != b[i].order)
      return false;
  }
  return true;
}

struct FileIdentity {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};

  bool operator==(const FileIdentity& other) const {
    return path == other.path && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
  }
};

FileIdentity CurrentIdentity() {
  FileIdentity identity;
  identity.path = OrbekRoot() + "/registry.reg";
  struct stat info {};
  if (stat(identity.path.c_str(), &info) == 0) {
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.modified = info.st_mtim;
  }
  return identity;
}

// The export's bytes, when it is a regular file of at most kMaxExportBytes: a pipe would block
// the search for ever, and a device or a huge file would be read without end.
bool ReadExport(const std::string& path, std::string& bytes) {
  const std::optional<RegularFileBytes> file = ReadRegularFile(path, kMaxExportBytes);
  if (!file || file->size > kMaxExportBytes)
    return false;
  bytes.assign(file->bytes.begin(), file->bytes.end());  // cut short meanwhile: its lines count
  return true;
}

class RegistryFileCache {
 public:
  // A copy of the values of `path`, or false when the key does not exist.
  bool Lookup(const std::string& keyPath, RegeditValues& values) {
    std::lock_guard<std::mutex> hold(mutex_);
    Refresh();
    auto key = keys_.find(kLocalMachine + keyPath);
    if (key == keys_.end())
      return false;
    values = key->second;
    return true;
  }

  // The next lookup scans sysfs again (a device node came or went).
  void ForgetSysfs() {
    std::lock_guard<std::mutex> hold(mutex_);
    sysfsStale_ = true;
  }

 private:
  void Refresh() {
    bool changed = false;
    FileIdentity now = CurrentIdentity();
    if (!loaded_ || !(now == identity_)) {
      identity_ = now;
      fileKeys_.clear();
      std::string bytes;
      if (ReadExport(now.path, bytes))
        fileKeys_ = ParseRegedit(RegeditBytesToUtf8(bytes));
      changed = true;
    }
    const long long time = MonotonicMs();
    const std::string sysfsRoot = SysfsRoot();
    if (!loaded_ || sysfsStale_ || time - sysfsScanned_ >= kSysfsFreshMs ||
        sysfsRoot != sysfsRoot_) {
      sysfsScanned_ = time;
      sysfsStale_ = false;
      sysfsRoot_ = sysfsRoot;
      std::vector<SysfsPort> ports = ScanSysfsPorts(sysfsRoot, BuiltSysfsPortRules());
      if (!loaded_ || !SamePorts(ports, sysfsPorts_)) {
        sysfsPorts_ = std::move(ports);
        if (!KeepComLinks(sysfsPorts_, OrbekRoot(), DevRoot()) && !toldLinkedDosdevices_) {
          std::fprintf(stderr,
                       "orbek: %s/dosdevices is not a folder of its own (a link to another?): "
                       "no COM port links are made there\n",
                       OrbekRoot().c_str());
          toldLinkedDosdevices_ = true;
        }
        changed = true;
      }
    }
    loaded_ = true;
    if (changed) {
      keys_ = fileKeys_;
      AddSysfsEntries(sysfsPorts_, BuiltSysfsPortRules(), keys_);
    }
  }

  std::mutex mutex_;
  bool loaded_ = false;
  FileIdentity identity_;
  RegeditKeys fileKeys_;
  long long sysfsScanned_ = 0;
  std::string sysfsRoot_;
  bool sysfsStale_ = false;
  bool toldLinkedDosdevices_ = false;
  std::vector<SysfsPort> sysfsPorts_;
  RegeditKeys keys_;  // the file's, then sysfs's
};

RegistryFileCache& Cache() {
  static RegistryFileCache cache;
  return cache;
}

class ExportedKey final : public RegistryKey {
 public:
  explicit ExportedKey(RegeditValues values) : values_(std::move(values)) {}

  bool ReadDword(const std::string& name, uint32_t& value) override {
    auto found = values_.find(name);
    if (found == values_.end() || found->second.type != RegeditValue::Type::Dword)
      return false;
    value = found->second.dword;
    return true;
  }

  bool ReadString(const std::string& name, std::string& value, size_t maxBytes) override {
    auto found = values_.find(name);
    if (found == values_.end() || found->second.type != RegeditValue::Type::String)
      return false;
    if (found->second.text.size() + 1 > maxBytes)
      return false;
    value = found->second.text;
    return true;
  }

 private:
  RegeditValues values_;
};

}  // namespace

struct RegistryWatch::State {
  bool first = true;
  FileIdentity seen;
  // Device nodes coming and going (a tty of a stick plugged in or pulled out).
  int devices = -1;
};

RegistryWatch::RegistryWatch() : state_(std::make_unique<State>()) {
  state_->devices = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (state_->devices >= 0 &&
      inotify_add_watch(state_->devices, DevRoot().c_str(),
                        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB) < 0) {
    close(state_->devices);
    state_->devices = -1;
  }
}

RegistryWatch::~RegistryWatch() {
  if (state_->devices >= 0)
    close(state_->devices);
}

bool RegistryWatch::Changed() {
  FileIdentity now = CurrentIdentity();
  bool changed = state_->first || !(now == state_->seen);
  state_->first = false;
  state_->seen = now;
  if (state_->devices >= 0) {
    alignas(inotify_event) char events[4096];
    bool nodes = false;
    while (read(state_->devices, events, sizeof events) > 0)
      nodes = true;
    if (nodes)
      Cache().ForgetSysfs();
    changed = changed || nodes;
  }
  return changed;
}

std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path) {
  RegeditValues values;
  if (!Cache().Lookup(path, values))
    return nullptr;
  return std::make_unique<ExportedKey>(std::move(values));
}

}  // namespace orbek::platform

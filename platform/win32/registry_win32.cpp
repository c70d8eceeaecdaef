#include <windows.h>

#include <vector>

#include "platform/registry.h"

namespace orbek::platform {
namespace {

class Win32RegistryKey final : public RegistryKey {
 public:
  explicit Win32RegistryKey(HKEY key) : key_(key) {}
  ~Win32RegistryKey() override { RegCloseKey(key_); }
  Win32RegistryKey(const Win32RegistryKey&) = delete;
  Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

  bool ReadDword(const std::string& name, uint32_t& value) override {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
      return false;
    }
    value = data;
    return true;
  }

  bool ReadString(const std::string& name, std::string& value, size_t maxBytes) override {
    std::vector<char> buffer(maxBytes + 1, '\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(maxBytes);
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return false;
    }
    value.assign(buffer.data());  // the stored text may or may not carry its zero
    return true;
  }

 private:
  HKEY key_;
};

}  // namespace

struct RegistryWatch::State {
  HKEY key = nullptr;
  HANDLE event = nullptr;
  bool first = true;

  void Arm() {
    if (key != nullptr && event != nullptr) {
      RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, event,
                              TRUE);
    }
  }
};

RegistryWatch::RegistryWatch() : state_(std::make_unique<State>()) {
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", 0, KEY_NOTIFY, &state_->key);
  state_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  state_->Arm();
}

RegistryWatch::~RegistryWatch() {
  if (state_->key != nullptr)
    RegCloseKey(state_->key);
  if (state_->event != nullptr)
    CloseHandle(state_->event);
}

bool RegistryWatch::Changed() {
  if (state_->first) {
    state_->first = false;
    return true;
  }
  // Without a notification to wait on, every look counts as a change.
  if (state_->key == nullptr || state_->event == nullptr)
    return true;
  if (WaitForSingleObject(state_->event, 0) != WAIT_OBJECT_0)
    return false;
  state_->Arm();
  return true;
}

std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32RegistryKey>(key);
}

}  // namespace orbek::platform

// Read access to the local machine's registry: what port discovery and the connection-manager
// lookup need. On posix the registry is a regedit export at $ORBEK_ROOT/registry.reg.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orbek::platform {

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // False when the value is missing or of another type.
  virtual bool ReadDword(const std::string& name, uint32_t& value) = 0;
  // A text value (REG_SZ) of at most `maxBytes` bytes including its terminating zero; false when
  // missing, of another type or too long.
  virtual bool ReadString(const std::string& name, std::string& value, size_t maxBytes = 1024) = 0;
};

// Opens `path` (such as "SYSTEM\CurrentControlSet\Services\qcusbser6k\Enum") under
// HKEY_LOCAL_MACHINE; nullptr when the key does not exist or cannot be opened.
std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path);

// Tells cheaply whether the local machine's registry may have changed since the last call (the
// first call says true). Windows: a change notification on SYSTEM\CurrentControlSet; posix: the
// export file was replaced or rewritten.
class RegistryWatch {
 public:
  RegistryWatch();
  ~RegistryWatch();
  RegistryWatch(const RegistryWatch&) = delete;
  RegistryWatch& operator=(const RegistryWatch&) = delete;
  bool Changed();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orbek::platform

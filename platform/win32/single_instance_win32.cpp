#include <windows.h>

#include "platform/single_instance.h"

namespace orbek::platform {
namespace {

// A named mutex, not owned: its existence is the mark.
class MutexInstance final : public NamedInstance {
 public:
  explicit MutexInstance(HANDLE mutex) : mutex_(mutex) {}
  ~MutexInstance() override { CloseHandle(mutex_); }

 private:
  HANDLE mutex_;
};

}  // namespace

std::unique_ptr<NamedInstance> NamedInstance::Take(const std::string& name, bool& alreadyTaken) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  alreadyTaken = GetLastError() == ERROR_ALREADY_EXISTS;
  if (mutex == nullptr)
    return nullptr;
  return std::make_unique<MutexInstance>(mutex);
}

}  // namespace orbek::platform

#include <windows.h>

#include "platform/dynamic_library.h"

namespace orbek::platform {
namespace {

class Win32Library final : public DynamicLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  void* Symbol(const char* name) override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr)
    return nullptr;
  return std::make_unique<Win32Library>(module);
}

}  // namespace orbek::platform

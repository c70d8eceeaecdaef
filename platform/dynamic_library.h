// A dynamic library loaded at run time, and a symbol looked up in it.
#pragma once

#include <memory>
#include <string>

namespace orbek::platform {

class DynamicLibrary {
 public:
  // nullptr when the library cannot be loaded. `path` is a native path.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& path);
  virtual ~DynamicLibrary() = default;  // unloads
  // nullptr when the library has no such export.
  virtual void* Symbol(const char* name) = 0;
};

}  // namespace orbek::platform

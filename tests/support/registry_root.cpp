#include "tests/support/registry_root.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orbek::testing {

RegistryRoot::RegistryRoot() {
  char pattern[] = "/tmp/orbek-root-XXXXXX";
  if (mkdtemp(pattern) != nullptr)
    root_ = pattern;
  if (const char* previous = std::getenv("ORBEK_ROOT")) {
    hadRoot_ = true;
    previous_ = previous;
  }
  setenv("ORBEK_ROOT", root_.c_str(), 1);
}

RegistryRoot::~RegistryRoot() {
  if (hadRoot_) {
    setenv("ORBEK_ROOT", previous_.c_str(), 1);
  } else {
    unsetenv("ORBEK_ROOT");
  }
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void RegistryRoot::Write(const std::string& bytes) {
  const std::string temporary = root_ + "/registry.reg.new";
  std::ofstream(temporary, std::ios::binary) << bytes;
  std::filesystem::rename(temporary, root_ + "/registry.reg");
}

}  // namespace orbek::testing

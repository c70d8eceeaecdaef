// A private ORBEK_ROOT for a test, with a registry export the test writes.
#pragma once

#include <string>

namespace orbek::testing {

class RegistryRoot {
 public:
  RegistryRoot();
  ~RegistryRoot();
  RegistryRoot(const RegistryRoot&) = delete;
  RegistryRoot& operator=(const RegistryRoot&) = delete;

  const std::string& Path() const { return root_; }
  // Replaces registry.reg (atomically, as the simulated stick does).
  void Write(const std::string& bytes);

 private:
  std::string root_;
  std::string previous_;
  bool hadRoot_ = false;
};

}  // namespace orbek::testing

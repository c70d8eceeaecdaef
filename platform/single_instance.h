// A name one process at a time holds on this machine: the first to take it keeps it until it
// ends; later ones learn that it is taken.
#pragma once

#include <memory>
#include <string>

namespace orbek::platform {

class NamedInstance {
 public:
  // Takes `name`. `alreadyTaken` tells whether another process holds it (the result is then
  // still a handle, to be released). nullptr when the system refuses.
  static std::unique_ptr<NamedInstance> Take(const std::string& name, bool& alreadyTaken);
  virtual ~NamedInstance() = default;
};

}  // namespace orbek::platform

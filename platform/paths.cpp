#include "platform/paths.h"

#include <cstdlib>

namespace orbek::platform {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string OrbekRoot() {
  if (std::string root = Environment("ORBEK_ROOT"); !root.empty())
    return root;
  if (std::string data = Environment("XDG_DATA_HOME"); !data.empty()) {
    return data + "/orbek-updater";
  }
  std::string home = Environment("HOME");
  if (home.empty())
    home = Environment("USERPROFILE");
  return home + "/.local/share/orbek-updater";
}

}  // namespace orbek::platform

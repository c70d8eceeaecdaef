#include "ports/line_binding.h"

#include <algorithm>

namespace orbek {

std::string UsbLocationOf(const std::string& instanceId) {
  const size_t slash = instanceId.rfind('\\');
  if (slash == std::string::npos || slash + 1 >= instanceId.size())
    return {};
  const std::string last = instanceId.substr(slash + 1);
  const size_t colon = last.find(':');
  if (colon != std::string::npos)
    return last.substr(0, colon);  // a sysfs interface: DEVICE:CONFIG.INTERFACE
  const size_t ampersand = last.rfind('&');
  if (ampersand == std::string::npos || ampersand == 0)
    return {};
  return last.substr(0, ampersand);  // the parent prefix, without the interface's own number
}

void LineBinding::Update(const std::vector<std::string>& present,
                         const std::function<bool(int)>& busy) {
  for (size_t line = 0; line < locations_.size(); ++line) {
    std::optional<std::string>& location = locations_[line];
    if (location && std::find(present.begin(), present.end(), *location) == present.end() &&
        !busy(static_cast<int>(line))) {
      location.reset();
    }
  }
  for (const std::string& location : present) {
    if (location.empty() || LineOf(location))
      continue;
    auto free = std::find_if(locations_.begin(), locations_.end(),
                             [](const std::optional<std::string>& taken) { return !taken; });
    if (free == locations_.end())
      return;  // more sticks than lines: the rest wait
    *free = location;
  }
}

std::optional<std::string> LineBinding::LocationOf(int line) const {
  if (line < 0 || static_cast<size_t>(line) >= locations_.size())
    return std::nullopt;
  return locations_[static_cast<size_t>(line)];
}

std::optional<int> LineBinding::LineOf(const std::string& location) const {
  for (size_t line = 0; line < locations_.size(); ++line) {
    if (locations_[line] == location)
      return static_cast<int>(line);
  }
  return std::nullopt;
}

}  // namespace orbek

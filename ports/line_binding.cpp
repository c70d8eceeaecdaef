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
  ++updates_;
  for (Bound& bound : lines_) {
    if (bound.location &&
        std::find(present.begin(), present.end(), *bound.location) != present.end())
      bound.lastSeen = updates_;
  }
  for (const std::string& location : present) {
    if (location.empty() || LineOf(location))
      continue;
    const std::optional<size_t> line = LineForNewSocket(present, busy);
    if (!line)
      return;  // more sockets than lines: the rest wait
    lines_[*line] = Bound{location, updates_};
  }
}

std::optional<size_t> LineBinding::LineForNewSocket(const std::vector<std::string>& present,
                                                    const std::function<bool(int)>& busy) const {
  std::optional<size_t> longestAway;
  for (size_t line = 0; line < lines_.size(); ++line) {
    const Bound& bound = lines_[line];
    if (!bound.location)
      return line;
    const bool away = std::find(present.begin(), present.end(), *bound.location) == present.end();
    if (away && !busy(static_cast<int>(line)) &&
        (!longestAway || bound.lastSeen < lines_[*longestAway].lastSeen))
      longestAway = line;
  }
  return longestAway;
}

std::optional<std::string> LineBinding::LocationOf(int line) const {
  if (line < 0 || static_cast<size_t>(line) >= lines_.size())
    return std::nullopt;
  return lines_[static_cast<size_t>(line)].location;
}

std::optional<int> LineBinding::LineOf(const std::string& location) const {
  for (size_t line = 0; line < lines_.size(); ++line) {
    if (lines_[line].location == location)
      return static_cast<int>(line);
  }
  return std::nullopt;
}

}  // namespace orbek

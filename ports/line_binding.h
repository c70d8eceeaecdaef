// Which line each stick belongs to, by where it is plugged in rather than by its COM numbers,
// which change at every re-enumeration. A stick in a free location takes the lowest free line;
// a line keeps its location while the stick is there, and while the line is busy even when the
// stick is gone (an update re-enumerates it, or the person re-plugs it into the same socket).
// Sticks beyond the lines wait unbound until a line is free.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orbek {

// The USB location of a port's device instance id: on Linux the device path of its sysfs
// interface ("USB\VID_1234&PID_5678&MI_00\1-1.3:1.0" gives "1-1.3"), on Windows the parent
// prefix of its instance ("...&MI_00\7&1a2b3c4d&0&0000" gives "7&1a2b3c4d&0"), the same for
// every interface of one stick in one socket. "" when the id has neither form.
std::string UsbLocationOf(const std::string& instanceId);

class LineBinding {
 public:
  explicit LineBinding(int lines) : locations_(static_cast<size_t>(lines)) {}

  // The sticks present now, by location, in the order they were enumerated. A line whose stick
  // is gone is freed unless `busy(line)`; then the new ones take the lowest free lines.
  void Update(const std::vector<std::string>& present, const std::function<bool(int)>& busy);

  std::optional<std::string> LocationOf(int line) const;
  std::optional<int> LineOf(const std::string& location) const;

 private:
  std::vector<std::optional<std::string>> locations_;  // per line
};

}  // namespace orbek

// Which line each stick belongs to, by where it is plugged in rather than by its COM numbers,
// which change at every re-enumeration. A socket keeps its line for the life of the program,
// also while its stick is away (re-enumerating, unplugged, being rescued), so that a person can
// label the hub. A socket never seen before takes the lowest line that was never bound; when
// every line is bound, the idle line whose socket has been away longest. Sockets beyond that
// wait unbound until a line can be taken.
#pragma once

#include <cstdint>
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
  explicit LineBinding(int lines) : lines_(static_cast<size_t>(lines)) {}

  // The sticks present now, by location, in the order they were enumerated; `busy(line)` tells
  // the lines whose socket may not be taken over.
  void Update(const std::vector<std::string>& present, const std::function<bool(int)>& busy);

  std::optional<std::string> LocationOf(int line) const;
  std::optional<int> LineOf(const std::string& location) const;

 private:
  struct Bound {
    std::optional<std::string> location;
    uint64_t lastSeen = 0;  // the update that last saw its socket
  };
  std::optional<size_t> LineForNewSocket(const std::vector<std::string>& present,
                                         const std::function<bool(int)>& busy) const;

  std::vector<Bound> lines_;
  uint64_t updates_ = 0;
};

}  // namespace orbek

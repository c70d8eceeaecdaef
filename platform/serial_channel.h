// The serial channel: one open COM port, as the link layer needs it. SerialPort (link/) holds
// the behaviour; a channel only performs the operating system's calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orbek::platform {

enum class PurgeScope {
  InputAndOutput,  // pending output and everything received but not read
  OutputOnly,      // pending output; received bytes stay queued
};

struct SerialSettings {
  int32_t baud = 115200;
  int32_t dataBits = 8;
  int32_t stopBits = 1;
};

// How long a write may wait for its own completion, in clock milliseconds.
inline constexpr uint32_t kSerialWriteWaitMs = 10000;
// How long a read that the driver left pending may wait, in clock milliseconds.
inline constexpr uint32_t kSerialReadWaitMs = 2000;
// The driver's queue size in each direction.
inline constexpr uint32_t kSerialQueueSize = 4096;

class SerialChannel {
 public:
  virtual ~SerialChannel() = default;
  virtual void Purge(PurgeScope scope) = 0;
  // Writes all bytes, waiting up to kSerialWriteWaitMs for completion. Returns the count
  // written; 0 when the write did not complete in time.
  virtual size_t Write(const uint8_t* bytes, size_t count) = 0;
  // Received bytes waiting in the input queue.
  virtual size_t BytesQueued() = 0;
  // Reads up to `count` bytes, which the caller has seen queued. Never waits for new data.
  virtual size_t Read(uint8_t* destination, size_t count) = 0;
};

// Where COM ports come from: the operating system, or (in tests and the in-process simulated
// stick) a bus installed in its place.
class SerialBus {
 public:
  virtual ~SerialBus() = default;
  // nullptr when the port does not exist or cannot be configured.
  virtual std::unique_ptr<SerialChannel> Open(int comNumber, const SerialSettings& settings) = 0;
};

// The operating system's COM ports (the posix or win32 backend).
SerialBus& SystemSerialBus();

// Installs `bus` in place of the system's ports for the whole process (nullptr restores the
// system bus); returns the bus that was in force.
SerialBus* InstallSerialBus(SerialBus* bus);

// Opens COM port `comNumber` on the bus in force.
std::unique_ptr<SerialChannel> OpenSerialChannel(int comNumber, const SerialSettings& settings);

// Why the last open of a COM port on the calling thread failed when the device is there but
// cannot be had: no permission, or another program holds it. Kind None after a successful open
// or when the port simply does not exist. The Linux backend notes these; on Windows the search
// stays silent about them, as the product always has (a held COM port there is the user's own
// program, not a system service).
struct SerialOpenProblem {
  enum class Kind { None, NoPermission, InUse };
  Kind kind = Kind::None;
  std::string device;  // the device node, such as /dev/ttyUSB0
  std::string group;   // the node's group (NoPermission)
};
SerialOpenProblem LastSerialOpenProblem();
// For the backends: records the problem of the open in progress.
void NoteSerialOpenProblem(SerialOpenProblem problem);

}  // namespace orbek::platform

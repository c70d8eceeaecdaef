// One COM port with a polled interface: a write that waits for its own completion, a count of
// the received bytes waiting, and a read that takes only what is waiting.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/serial_channel.h"

namespace orbek {

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opening a port that is already open succeeds at once and keeps the earlier settings. The
  // default settings are the stick's: 115200 baud, 8 data bits, 1 stop bit.
  bool Open(int32_t comNumber, const platform::SerialSettings& settings = {});
  bool Close();
  bool IsOpen() const { return isOpen != 0; }

  // Both purge the port first: Write throws away pending output and everything received but
  // not read, WriteKeepInput only the pending output. Return the count written (0 on time-out).
  uint32_t Write(const uint8_t* bytes, uint32_t count);
  uint32_t WriteKeepInput(const uint8_t* bytes, uint32_t count);

  // 0 when the port is closed.
  uint32_t BytesQueued();
  // Copies at most `maximum` of the bytes already queued; never waits. 0 when closed.
  uint32_t Read(uint8_t* destination, uint32_t maximum);

 private:
  uint32_t PurgeAndWrite(platform::PurgeScope scope, const uint8_t* bytes, uint32_t count);

  std::unique_ptr<platform::SerialChannel> channel;
  int32_t isOpen = 0;
};

}  // namespace orbek

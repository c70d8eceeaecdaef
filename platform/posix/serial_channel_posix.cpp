// COM ports on posix: $ORBEK_ROOT/dosdevices/comN names a tty (a USB serial device or the
// simulated stick's pseudo-terminal), driven raw 8N1 and non-blocking.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/serial_channel.h"

namespace orbek::platform {
namespace {

bool SpeedFor(int32_t baud, speed_t& speed) {
  static const struct {
    int32_t baud;
    speed_t speed;
  } kSpeeds[] = {{9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& entry : kSpeeds) {
    if (entry.baud == baud) {
      speed = entry.speed;
      return true;
    }
  }
  return false;
}

bool CharacterSizeFor(int32_t dataBits, tcflag_t& size) {
  switch (dataBits) {
    case 5:
      size = CS5;
      return true;
    case 6:
      size = CS6;
      return true;
    case 7:
      size = CS7;
      return true;
    case 8:
      size = CS8;
      return true;
    default:
      return false;
  }
}

class PosixSerialChannel final : public SerialChannel {
 public:
  explicit PosixSerialChannel(int fd) : fd_(fd) {}
  ~PosixSerialChannel() override { close(fd_); }
  PosixSerialChannel(const PosixSerialChannel&) = delete;
  PosixSerialChannel& operator=(const PosixSerialChannel&) = delete;

  void Purge(PurgeScope scope) override {
    tcflush(fd_, scope == PurgeScope::InputAndOutput ? TCIOFLUSH : TCOFLUSH);
  }

  size_t Write(const uint8_t* bytes, size_t count) override {
    size_t written = 0;
    const uint64_t start = TickCountMs();
    while (written < count) {
      ssize_t n = write(fd_, bytes + written, count - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return written;
      uint64_t elapsed = TickCountMs() - start;
      if (elapsed >= kSerialWriteWaitMs)
        return 0;
      pollfd wait{fd_, POLLOUT, 0};
      uint32_t left = static_cast<uint32_t>(kSerialWriteWaitMs - elapsed);
      poll(&wait, 1, static_cast<int>(std::min<uint32_t>(RealWaitMs(left), 50)));
    }
    return written;
  }

  size_t BytesQueued() override {
    int queued = 0;
    if (ioctl(fd_, FIONREAD, &queued) != 0 || queued < 0)
      return 0;
    return static_cast<size_t>(queued);
  }

  size_t Read(uint8_t* destination, size_t count) override {
    for (;;) {
      ssize_t n = read(fd_, destination, count);
      if (n >= 0)
        return static_cast<size_t>(n);
      if (errno != EINTR)
        return 0;  // EAGAIN, or EIO once the other side hung up
    }
  }

 private:
  int fd_;
};

class PosixSerialBus final : public SerialBus {
 public:
  std::unique_ptr<SerialChannel> Open(int comNumber, const SerialSettings& settings) override {
    speed_t speed;
    tcflag_t characterSize;
    if (!SpeedFor(settings.baud, speed) || !CharacterSizeFor(settings.dataBits, characterSize) ||
        (settings.stopBits != 1 && settings.stopBits != 2)) {
      return nullptr;
    }
    std::string path = ComDevicePath(comNumber);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      return nullptr;
    auto channel = std::make_unique<PosixSerialChannel>(fd);
    // A COM port is opened without sharing; the advisory lock gives other updaters the same
    // refusal on posix.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
      return nullptr;
    termios mode{};
    if (tcgetattr(fd, &mode) != 0)
      return nullptr;
    cfmakeraw(&mode);
    mode.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    mode.c_cflag |= characterSize | CLOCAL | CREAD;
    if (settings.stopBits == 2)
      mode.c_cflag |= CSTOPB;
    mode.c_iflag &= ~(IXON | IXOFF | IXANY);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    if (cfsetispeed(&mode, speed) != 0 || cfsetospeed(&mode, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &mode) != 0) {
      return nullptr;
    }
    return channel;
  }
};

}  // namespace

SerialBus& SystemSerialBus() {
  static PosixSerialBus bus;
  return bus;
}

}  // namespace orbek::platform

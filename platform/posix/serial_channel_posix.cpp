// COM ports on posix: $ORBEK_ROOT/dosdevices/comN names a tty (a USB serial device or the
// simulated stick's pseudo-terminal), driven raw 8N1 and non-blocking.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

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
  ~PosixSerialChannel() override {
    ioctl(fd_, TIOCNXCL);  // a pty keeps the mode past the close: the next open is the updater's
    close(fd_);
  }
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

// An open that failed because the device is there but cannot be had: named by the node the
// COM link points at, with the node's group when permission is missing.
void NoteProblem(const std::string& comPath, int error) {
  SerialOpenProblem problem;
  if (error == EACCES || error == EPERM)
    problem.kind = SerialOpenProblem::Kind::NoPermission;
  else if (error == EBUSY)
    problem.kind = SerialOpenProblem::Kind::InUse;
  else
    return;
  char target[4096];
  const ssize_t length = readlink(comPath.c_str(), target, sizeof target - 1);
  problem.device = length > 0 ? std::string(target, static_cast<size_t>(length)) : comPath;
  struct stat node {};
  if (stat(comPath.c_str(), &node) == 0) {
    group buffer{};
    group* found = nullptr;
    std::vector<char> names(4096);
    if (getgrgid_r(node.st_gid, &buffer, names.data(), names.size(), &found) == 0 &&
        found != nullptr) {
      problem.group = found->gr_name;
    } else {
      problem.group = std::to_string(node.st_gid);
    }
  }
  NoteSerialOpenProblem(std::move(problem));
}

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
    if (fd < 0) {
      NoteProblem(path, errno);
      return nullptr;
    }
    auto channel = std::make_unique<PosixSerialChannel>(fd);
    // Whatever the COM link points to: only a character device is a port (a file, a pipe or a
    // directory is never read or written as one), checked on what was opened.
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode))
      return nullptr;
    // A COM port is opened without sharing; the advisory lock gives other updaters the same
    // refusal on posix, and the tty's exclusive mode keeps other programs (a modem manager
    // probing new ports) out while the updater holds it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      NoteProblem(path, EBUSY);
      return nullptr;
    }
    ioctl(fd, TIOCEXCL);
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

#include "tests/support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace orbek::testing {

PtyPeer::PtyPeer(int comNumber) {
  char pattern[] = "/tmp/orbek-pty-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return;
  root_ = pattern;
  std::filesystem::create_directories(root_ + "/dosdevices");

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    if (master >= 0)
      close(master);
    return;
  }
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  std::filesystem::create_symlink(ptsname(master),
                                  root_ + "/dosdevices/com" + std::to_string(comNumber));
  master_ = master;

  if (const char* previous = std::getenv("ORBEK_ROOT")) {
    hadRoot_ = true;
    previousRoot_ = previous;
  }
  setenv("ORBEK_ROOT", root_.c_str(), 1);
}

PtyPeer::~PtyPeer() {
  if (master_ >= 0)
    close(master_);
  if (hadRoot_) {
    setenv("ORBEK_ROOT", previousRoot_.c_str(), 1);
  } else {
    unsetenv("ORBEK_ROOT");
  }
  std::error_code ignored;
  if (!root_.empty())
    std::filesystem::remove_all(root_, ignored);
}

void PtyPeer::Send(const std::vector<uint8_t>& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0)
      break;
    sent += static_cast<size_t>(n);
  }
}

std::vector<uint8_t> PtyPeer::Receive(size_t count, int realMs) {
  std::vector<uint8_t> received;
  for (int waited = 0; received.size() < count && waited < realMs; ++waited) {
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, 1) <= 0)
      continue;
    uint8_t buffer[4096];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0)
      received.insert(received.end(), buffer, buffer + n);
  }
  return received;
}

}  // namespace orbek::testing

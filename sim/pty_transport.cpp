#include "sim/pty_transport.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/clock.h"

namespace orbek::sim {

PtyTransport::PtyTransport(Stick& stick, std::string root, bool comLinks)
    : stick_(stick), root_(std::move(root)), comLinks_(comLinks) {
  if (comLinks_)
    std::filesystem::create_directories(root_ + "/dosdevices");
  stick_.AddListener(this);
}

PtyTransport::~PtyTransport() {
  Stop();
  stick_.RemoveListener(this);
}

std::string PtyTransport::RootRefusal(const std::string& root) {
  std::error_code ignored;
  const std::string folder = root + "/dosdevices";
  if (std::filesystem::is_symlink(folder, ignored))
    return folder + " is a link to another folder; the stick publishes only into its own root";
  return {};
}

void PtyTransport::Start() {
  if (running_.exchange(true))
    return;
  thread_ = std::thread([this] { Run(); });
}

void PtyTransport::Stop() {
  if (running_.exchange(false))
    thread_.join();
  std::lock_guard<std::recursive_mutex> hold(stick_.Mutex());
  CloseAll();
}

bool PtyTransport::Open(const PublishedPort& port, Pty& pty) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0)
    return false;
  if (grantpt(master) != 0 || unlockpt(master) != 0) {
    close(master);
    return false;
  }
  termios raw{};
  tcgetattr(master, &raw);  // on Linux the master reads and sets the slave's settings
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&raw, B115200);
  cfsetospeed(&raw, B115200);
  tcsetattr(master, TCSANOW, &raw);

  pty.port = port;
  pty.master = master;
  pty.slave = ptsname(master);
  pty.slaveHold = open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (comLinks_) {
    // A link already there (Wine's own for its serial ports, or one left by a stick that was
    // killed) gives way; anything else is not the stick's to remove.
    const std::string link = root_ + "/dosdevices/com" + std::to_string(port.com);
    std::error_code error;
    if (std::filesystem::is_symlink(link, error))
      std::filesystem::remove(link, error);
    std::filesystem::create_symlink(pty.slave, link, error);
    if (!error)
      pty.link = link;
  }
  return true;
}

std::string PtyTransport::SlavePath(uint64_t portId) const {
  for (const Pty& pty : ptys_) {
    if (pty.port.id == portId && pty.master >= 0)
      return pty.slave;
  }
  return {};
}

void PtyTransport::Close(Pty& pty) {
  if (pty.master >= 0)
    close(pty.master);
  if (pty.slaveHold >= 0)
    close(pty.slaveHold);
  pty.master = -1;
  pty.slaveHold = -1;
  if (!pty.link.empty()) {
    std::error_code ignored;
    std::filesystem::remove(pty.link, ignored);
  }
}

void PtyTransport::CloseAll() {
  for (Pty& pty : ptys_)
    Close(pty);
  ptys_.clear();
}

void PtyTransport::PortsChanged(const std::vector<PublishedPort>& ports) {
  std::lock_guard<std::recursive_mutex> hold(stick_.Mutex());
  // Ports that went away first, so that a number reused at once gets its new link.
  for (Pty& pty : ptys_) {
    bool stays = std::any_of(ports.begin(), ports.end(),
                             [&](const PublishedPort& port) { return port.id == pty.port.id; });
    if (!stays)
      Close(pty);
  }
  ptys_.erase(
      std::remove_if(ptys_.begin(), ptys_.end(), [](const Pty& pty) { return pty.master < 0; }),
      ptys_.end());
  for (const PublishedPort& port : ports) {
    bool known = std::any_of(ptys_.begin(), ptys_.end(),
                             [&](const Pty& pty) { return pty.port.id == port.id; });
    Pty pty;
    if (!known && Open(port, pty))
      ptys_.push_back(std::move(pty));
  }
}

// A host sets the exclusive mode after it took the port's lock, and a host that ends normally
// clears it; a lock nobody holds under the mode means the host went away without clearing it.
// The lock is let go before the mode is cleared, so that no host can find it taken: until the
// mode is cleared, no host can open the port.
void PtyTransport::ReleaseAbandonedExclusiveModes() {
  const auto now = std::chrono::steady_clock::now();
  if (now < nextExclusiveCheck_)
    return;
  nextExclusiveCheck_ = now + std::chrono::milliseconds(100);
  for (const Pty& pty : ptys_) {
    int exclusive = 0;
    if (pty.slaveHold < 0 || ioctl(pty.slaveHold, TIOCGEXCL, &exclusive) != 0 || exclusive == 0)
      continue;
    if (flock(pty.slaveHold, LOCK_EX | LOCK_NB) != 0)
      continue;  // its host is still there
    flock(pty.slaveHold, LOCK_UN);
    ioctl(pty.slaveHold, TIOCNXCL);
  }
}

void PtyTransport::Run() {
  std::vector<pollfd> ready;
  std::vector<uint64_t> ids;
  uint8_t buffer[4096];
  while (running_) {
    ready.clear();
    ids.clear();
    {
      std::lock_guard<std::recursive_mutex> hold(stick_.Mutex());
      for (const Pty& pty : ptys_) {
        ready.push_back({pty.master, POLLIN, 0});
        ids.push_back(pty.port.id);
      }
    }
    const int events = ready.empty() ? 0 : poll(ready.data(), ready.size(), 1);
    const bool input = events > 0 && std::any_of(ready.begin(), ready.end(), [](const pollfd& p) {
                         return (p.revents & POLLIN) != 0;
                       });
    // A master whose slave nobody holds reports a hang-up at once; do not spin on it. A poll
    // that timed out has waited already: a request arriving now is answered at once.
    if (ready.empty() || (events > 0 && !input))
      platform::detail::RealSleepMicroseconds(1000);

    std::lock_guard<std::recursive_mutex> hold(stick_.Mutex());
    for (size_t i = 0; i < ready.size(); ++i) {
      if ((ready[i].revents & POLLIN) == 0)
        continue;
      auto pty = std::find_if(ptys_.begin(), ptys_.end(),
                              [&](const Pty& p) { return p.port.id == ids[i]; });
      if (pty == ptys_.end())
        continue;  // closed meanwhile
      ssize_t n = read(pty->master, buffer, sizeof buffer);
      if (n > 0)
        stick_.HostWrite(ids[i], buffer, static_cast<size_t>(n));
    }
    ReleaseAbandonedExclusiveModes();
    stick_.Pump();  // may change the ports; nothing below does
    for (Pty& pty : ptys_) {
      stick_.TakeOutput(pty.port.id, pty.pendingOut);
      if (pty.pendingOut.empty())
        continue;
      ssize_t written = write(pty.master, pty.pendingOut.data(), pty.pendingOut.size());
      if (written > 0)
        pty.pendingOut.erase(pty.pendingOut.begin(), pty.pendingOut.begin() + written);
    }
  }
}

}  // namespace orbek::sim

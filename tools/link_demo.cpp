// orbek-link-demo: the link layer at work over a real serial device. It publishes a
// pseudo-terminal as a COM port under a private ORBEK_ROOT, plays a loopback peer on the other
// side (it answers every frame with the packet it received; it refuses command 0x4B as an
// unknown command and ignores 0x29), and runs the updater's own SerialPort and PhoneLink
// against it. Set ORBEK_TRACE=FILE to keep every frame.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/phone_link.h"
#include "platform/clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kComNumber = 9;

Bytes FrameReply(const Bytes& packet, bool bootLoaderFlag) {
  orbek::FrameBuffer frame;
  orbek::PacketWriter writer(frame);
  writer.Bytes(packet.data(), packet.size());
  orbek::BuildFrame(frame, bootLoaderFlag ? orbek::LinkMode::Dload : orbek::LinkMode::Diag);
  return Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length);
}

// The other end of the wire: collects frames up to each closing flag and answers them.
class LoopbackPeer {
 public:
  explicit LoopbackPeer(int master) : master_(master), thread_([this] { Run(); }) {}
  ~LoopbackPeer() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    Bytes pending;
    while (!stop_) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 20) <= 0)
        continue;
      uint8_t buffer[4096];
      ssize_t n = read(master_, buffer, sizeof buffer);
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] != orbek::kHdlcFlag) {
          pending.push_back(buffer[i]);
        } else if (!pending.empty()) {
          Answer(pending);
          pending.clear();
        }
      }
    }
  }

  void Answer(const Bytes& stuffed) {
    orbek::ReplyBuffer frame;
    size_t length = std::min(stuffed.size(), orbek::kMaxReplyLength - 1);
    std::copy_n(stuffed.begin(), length, frame.bytes.begin());
    frame.bytes[length] = orbek::kHdlcFlag;
    frame.length = static_cast<uint16_t>(length + 1);
    uint16_t raw = 0;
    std::string reason;
    if (!orbek::DecodeReply(frame, orbek::LinkMode::Diag, raw, reason))
      return;  // bad frame
    Bytes packet(frame.bytes.begin(), frame.bytes.begin() + frame.length - 2);
    if (packet[0] == 0x29)
      return;
    if (packet[0] == 0x4B)
      packet.insert(packet.begin(), 0x13);
    Bytes reply = FrameReply(packet, false);
    if (write(master_, reply.data(), reply.size()) < 0)
      return;
  }

  int master_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

int OpenPublishedPty(const std::string& root) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    return -1;
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  std::filesystem::create_directories(root + "/dosdevices");
  std::string link = root + "/dosdevices/com" + std::to_string(kComNumber);
  std::filesystem::remove(link);
  std::filesystem::create_symlink(ptsname(master), link);
  return master;
}

void Show(const char* what, bool ok, const orbek::PhoneLink& link) {
  std::printf("%-44s %s", what, ok ? "ok    " : "failed");
  if (ok) {
    std::printf(" reply:");
    for (uint16_t i = 0; i < link.ReplyLength(); ++i)
      std::printf(" %02X", link.ReplyBytes()[i]);
  } else {
    std::printf(" reason: %s", link.reason.c_str());
  }
  std::printf("\n");
}

void Ask(orbek::PhoneLink& link, uint8_t command, const Bytes& payload) {
  link.Clear();
  link.mode = orbek::LinkMode::Diag;
  link.request.command = command;
  std::copy(payload.begin(), payload.end(), link.request.payload.begin());
  link.request.payloadLength = static_cast<uint32_t>(payload.size());
}

}  // namespace

int main() {
  char pattern[] = "/tmp/orbek-demo-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    return 1;
  std::string root = pattern;
  setenv("ORBEK_ROOT", root.c_str(), 1);
  int master = OpenPublishedPty(root);
  if (master < 0) {
    std::fprintf(stderr, "cannot create a pseudo-terminal\n");
    return 1;
  }
  std::printf(
      "Link demo: no update yet. The updater's link layer talks to a loopback peer on\n"
      "COM%d (%s/dosdevices/com%d -> %s), clock scale %g.\n\n",
      kComNumber, root.c_str(), kComNumber, ptsname(master), orbek::platform::TimeScale());
  int failures = 0;
  {
    LoopbackPeer peer(master);
    orbek::PhoneLink link;
    if (!link.port.Open(kComNumber, 115200, 8, 1)) {
      std::fprintf(stderr, "cannot open COM%d\n", kComNumber);
      return 1;
    }

    Ask(link, 0x01, {});
    bool ok = link.Exchange(3, 1000);
    Show("DIAG 01, answered", ok, link);
    failures += !ok;

    Ask(link, 0x10, {0x7E, 0x7D, 0x00, 0x7E});
    ok = link.Exchange(3, 1000);
    Show("DIAG 10 with flag and escape bytes", ok, link);
    failures += !ok;

    Ask(link, 0x4B, {0x01});
    ok = link.Exchange(2, 1000);
    Show("DIAG 4B, refused by the peer (2 attempts)", ok, link);
    failures += ok || link.reason != "Bad command";

    Ask(link, 0x29, {0x02, 0x00});
    uint64_t start = orbek::platform::TickCountMs();
    ok = link.Exchange(1, 300);
    link.ComposeReason("Cannot Reset the Phone, Since %s");
    Show("DIAG 29, no answer within 300 ms", ok, link);
    std::printf("%-44s %llu ms of clock time\n", "",
                static_cast<unsigned long long>(orbek::platform::TickCountMs() - start));
    failures += ok;

    link.port.Close();
  }
  close(master);
  std::filesystem::remove_all(root);
  std::printf("\n%s\n", failures == 0 ? "link demo: all exchanges behaved as expected"
                                      : "link demo: some exchanges did not behave as expected");
  return failures == 0 ? 0 : 1;
}

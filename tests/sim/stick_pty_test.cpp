// The updater's link talking to the simulated stick over real pseudo-terminals, published under
// a private root the way the platform layer finds ports.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "diag/maker_commands.h"
#include "download/streaming.h"
#include "link/phone_link.h"
#include "platform/clock.h"
#include "sim/port_publisher.h"
#include "sim/pty_transport.h"
#include "sim/sha256.h"
#include "sim/stick_json.h"
#include "tests/support/pty_peer.h"
#include "tests/support/registry_ports.h"

namespace orbek {
namespace {

using sim::Bytes;
using testing::PublishedCom;
using testing::WaitUntil;

// The exchanges wait in real time: a slower clock leaves the stick room on a busy machine.
constexpr double kTimeScale = 4;

class StickOverPty : public ::testing::Test {
 protected:
  StickOverPty() : previousScale(platform::TimeScale()) { platform::SetTimeScale(kTimeScale); }

  void SetUp() override {
    char pattern[] = "/tmp/orbek-sim-pty-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    setenv("ORBEK_ROOT", root.c_str(), 1);
    stick = std::make_unique<sim::Stick>(Config());
    registry = std::make_unique<sim::RegistryPublisher>(root, sim::RegistryNames{});
    ptys = std::make_unique<sim::PtyTransport>(*stick, root);
    stick->AddListener(registry.get());
    ptys->Start();
    stick->Start();
    ASSERT_TRUE(WaitUntil([] { return PublishedCom("qcusbser6k") != 0; }));
    ASSERT_TRUE(link.port.Open(PublishedCom("qcusbser6k")));
  }

  void TearDown() override {
    link.port.Close();
    ptys->Stop();
    stick->RemoveListener(registry.get());
    ptys.reset();
    stick.reset();
    unsetenv("ORBEK_ROOT");
    std::filesystem::remove_all(root);
    platform::SetTimeScale(previousScale);
  }

  virtual sim::StickConfig Config() { return sim::DefaultStickConfig(); }

  bool Ask(uint8_t command, const Bytes& payload = {}) {
    link.Clear();
    link.mode = LinkMode::Diag;
    link.request.command = command;
    std::copy(payload.begin(), payload.end(), link.request.payload.begin());
    link.request.payloadLength = static_cast<uint32_t>(payload.size());
    return link.Exchange(3, 2000);
  }

  double previousScale;
  std::string root;
  std::unique_ptr<sim::Stick> stick;
  std::unique_ptr<sim::RegistryPublisher> registry;
  std::unique_ptr<sim::PtyTransport> ptys;
  PhoneLink link;
};

TEST_F(StickOverPty, PortsArePublishedAsLinksAndRegistryEntries) {
  EXPECT_EQ(PublishedCom("qcusbser6k"), 5);
  EXPECT_EQ(PublishedCom("qcusbmdm6k"), 6);
  EXPECT_TRUE(std::filesystem::is_symlink(root + "/dosdevices/com5"));
  EXPECT_TRUE(std::filesystem::is_symlink(root + "/dosdevices/com6"));
}

TEST_F(StickOverPty, AnswersEsnAndKeepsNvItems) {
  ASSERT_TRUE(Ask(0x01)) << link.reason;
  EXPECT_EQ(Bytes(link.ReplyBytes(), link.ReplyBytes() + 5), (Bytes{0x01, 0xC3, 0xB2, 0xA1, 0x80}));

  Bytes write(2 + sim::kNvItemSize + 2, 0x7D);
  write[0] = 0x16;  // item 22
  write[1] = 0x00;
  write[130] = write[131] = 0x00;  // status
  ASSERT_TRUE(Ask(0x27, write)) << link.reason;
  Bytes read = write;
  std::fill(read.begin() + 2, read.end(), 0x00);
  ASSERT_TRUE(Ask(0x26, read)) << link.reason;
  EXPECT_EQ(link.ReplyBytes()[3], 0x7D);
  EXPECT_EQ(link.ReplyBytes()[130], 0x7D);
  EXPECT_EQ(link.ReplyBytes()[131], 0x00);  // status 0
}

TEST_F(StickOverPty, ResetTakesThePortsAwayAndBringsThemBackOnNewNumbers) {
  ASSERT_TRUE(Ask(0x29, {0x02, 0x00})) << link.reason;
  ASSERT_TRUE(WaitUntil([] { return PublishedCom("qcusbser6k") == 0; }));
  EXPECT_FALSE(std::filesystem::exists(root + "/dosdevices/com5"));
  EXPECT_FALSE(Ask(0x01));  // the old port is dead

  ASSERT_TRUE(WaitUntil([] { return PublishedCom("qcusbser6k") == 7; }, 5000));
  EXPECT_EQ(PublishedCom("qcusbmdm6k"), 8);
  link.port.Close();
  ASSERT_TRUE(link.port.Open(7));
  EXPECT_TRUE(Ask(0x01)) << link.reason;
}

// A host killed while it held the port leaves the pty in exclusive mode, which would keep every
// later host out (but root); the stick takes the mode back once the host's lock is gone.
TEST_F(StickOverPty, ExclusiveModeOfAKilledHostIsCleared) {
  const std::string path = root + "/dosdevices/com5";
  int exclusive = 1;
  auto stillExclusive = [&] {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      return errno == EBUSY;
    ioctl(fd, TIOCGEXCL, &exclusive);
    close(fd);
    return exclusive != 0;
  };
  link.port.Close();
  const int killed = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(killed, 0);
  ASSERT_EQ(flock(killed, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(ioctl(killed, TIOCEXCL), 0);
  ASSERT_EQ(ioctl(killed, TIOCGEXCL, &exclusive), 0);
  ASSERT_EQ(exclusive, 1);
  // While the host holds its lock, its mode stays.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(ioctl(killed, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);

  close(killed);  // the host dies: no TIOCNXCL
  EXPECT_TRUE(WaitUntil([&] { return !stillExclusive(); }, 5000));
  ASSERT_TRUE(link.port.Open(5));
  EXPECT_TRUE(Ask(0x01)) << link.reason;
}

TEST_F(StickOverPty, VersionTableReadsAsConfigured) {
  VersionRecord record{};
  ASSERT_TRUE(ReadFourVersions(link, record)) << link.reason;
  for (size_t slot = 0; slot < 9; ++slot) {
    EXPECT_EQ(VersionSlot(record, slot), stick->Config().versions[slot]) << "slot " << slot;
  }
}

TEST_F(StickOverPty, FaultsShowOnTheWire) {
  sim::FaultRule rule;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("badcrc:0x01:3", rule, error)) << error;
  stick->AddFault(rule);
  EXPECT_FALSE(Ask(0x01));
  EXPECT_EQ(link.reason, "the Received Data is Wrong with Wrong CRC Checksum");
  EXPECT_TRUE(Ask(0x01)) << link.reason;
}

class FlashProgrammerOverPty : public StickOverPty {
 protected:
  sim::StickConfig Config() override {
    sim::StickConfig config = sim::DefaultStickConfig();
    config.initialMode = sim::StickMode::StreamingDownload;
    return config;
  }
};

TEST_F(FlashProgrammerOverPty, StreamedImageArrivesByteForByte) {
  Bytes image(64 * 1024 + 77);
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<uint8_t>((i * 131) ^ (i >> 8));
  const Bytes header(40, 0x7E);
  ASSERT_TRUE(StreamHello(link)) << link.reason;
  ASSERT_TRUE(StreamSecurityMode(link)) << link.reason;
  ASSERT_TRUE(StreamOpenMultiImage(link, kImageAmss, header.data(), 40)) << link.reason;
  for (uint32_t address = 0; address < image.size(); address += kStreamBlockSize) {
    uint32_t length =
        std::min<uint32_t>(kStreamBlockSize, static_cast<uint32_t>(image.size()) - address);
    ASSERT_TRUE(StreamWrite(link, image.data() + address, address, length)) << link.reason;
  }
  ASSERT_TRUE(StreamClose(link)) << link.reason;
  auto report = sim::StickReport(*stick)["images"]["amss"];
  EXPECT_EQ(report["length"], image.size());
  EXPECT_EQ(report["sha256"], sim::Sha256Hex(image));
  std::string headerHex;
  for (int i = 0; i < 40; ++i)
    headerHex += "7e";
  EXPECT_EQ(report["header"], headerHex);
}

}  // namespace
}  // namespace orbek

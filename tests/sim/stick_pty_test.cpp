// The updater's link talking to the simulated stick over real pseudo-terminals, published under
// a private root the way the platform layer finds ports.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "diag/maker_commands.h"
#include "link/phone_link.h"
#include "platform/clock.h"
#include "sim/port_publisher.h"
#include "sim/pty_transport.h"
#include "tests/support/pty_peer.h"
#include "tests/support/registry_ports.h"

namespace orbek {
namespace {

using sim::Bytes;
using testing::PublishedCom;
using testing::WaitUntil;

constexpr double kTimeScale = 20;

class StickOverPty : public ::testing::Test {
 protected:
  StickOverPty() : previousScale(platform::TimeScale()) { platform::SetTimeScale(kTimeScale); }

  void SetUp() override {
    char pattern[] = "/tmp/orbek-sim-pty-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    setenv("ORBEK_ROOT", root.c_str(), 1);
    stick = std::make_unique<sim::Stick>(sim::DefaultStickConfig());
    registry = std::make_unique<sim::RegistryPublisher>(root, sim::RegistryNames{});
    ptys = std::make_unique<sim::PtyTransport>(*stick, root);
    stick->AddListener(registry.get());
    ptys->Start();
    stick->Start();
    ASSERT_TRUE(link.port.Open(PublishedCom("qcusbser6k"), 115200, 8, 1));
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
  ASSERT_TRUE(link.port.Open(7, 115200, 8, 1));
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

}  // namespace
}  // namespace orbek

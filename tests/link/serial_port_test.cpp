// SerialPort over a real pseudo-terminal: the test plays the stick on the master side.
#include "link/serial_port.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>

#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/paths.h"
#include "tests/support/pty_peer.h"

namespace orbek {
namespace {

using testing::PtyPeer;
using testing::WaitUntil;

constexpr int kCom = 7;

class SerialPortOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Ok());
    ASSERT_TRUE(port.Open(kCom));
  }

  void ArriveAndWait(const std::vector<uint8_t>& bytes) {
    peer.Send(bytes);
    ASSERT_TRUE(WaitUntil([&] { return port.BytesQueued() == bytes.size(); }));
  }

  PtyPeer peer{kCom};
  SerialPort port;
};

TEST_F(SerialPortOverPty, WritePurgesWhatWasReceivedBefore) {
  ArriveAndWait({0x01, 0x02, 0x03});
  const uint8_t request[] = {0x0A, 0x0B};
  EXPECT_EQ(port.Write(request, 2), 2u);
  EXPECT_EQ(port.BytesQueued(), 0u);
  EXPECT_EQ(peer.Receive(2), (std::vector<uint8_t>{0x0A, 0x0B}));
}

TEST_F(SerialPortOverPty, WriteKeepInputKeepsWhatWasReceived) {
  ArriveAndWait({0x01, 0x02, 0x03});
  const uint8_t request[] = {0x0C};
  EXPECT_EQ(port.WriteKeepInput(request, 1), 1u);
  EXPECT_EQ(port.BytesQueued(), 3u);
  EXPECT_EQ(peer.Receive(1), (std::vector<uint8_t>{0x0C}));
  uint8_t buffer[8] = {};
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 3u);
  EXPECT_EQ(buffer[2], 0x03);
}

TEST_F(SerialPortOverPty, ReadTakesAtMostTheMaximumAndLeavesTheRest) {
  ArriveAndWait({10, 11, 12, 13, 14, 15, 16});
  uint8_t buffer[16] = {};
  EXPECT_EQ(port.Read(buffer, 4), 4u);
  EXPECT_EQ(buffer[3], 13);
  EXPECT_EQ(port.BytesQueued(), 3u);
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 3u);
  EXPECT_EQ(buffer[0], 14);
  EXPECT_EQ(buffer[2], 16);
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);  // nothing queued: no wait, nothing read
}

TEST_F(SerialPortOverPty, SecondOpenKeepsTheFirstSettings) {
  EXPECT_TRUE(port.Open(kCom, {9600, 7, 2}));
  termios mode{};
  ASSERT_EQ(tcgetattr(peer.Master(), &mode), 0);  // the master reports the slave's settings
  EXPECT_EQ(cfgetospeed(&mode), static_cast<speed_t>(B115200));
  EXPECT_EQ(mode.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(mode.c_cflag & CSTOPB, 0u);
}

TEST_F(SerialPortOverPty, ClosedPortReportsNothing) {
  ArriveAndWait({0x01});
  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.Close());
  uint8_t buffer[4];
  EXPECT_EQ(port.BytesQueued(), 0u);
  EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(port.Write(buffer, 1), 0u);
}

TEST_F(SerialPortOverPty, UnknownComNumberFailsAndLaterOpenWorks) {
  SerialPort other;
  EXPECT_FALSE(other.Open(kCom + 1));
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(other.BytesQueued(), 0u);
  port.Close();
  EXPECT_TRUE(other.Open(kCom));
  EXPECT_TRUE(other.IsOpen());
}

// A COM link that points to something other than a character device is no port: it is not
// opened as one, and what it points to is left as it was.
TEST_F(SerialPortOverPty, OnlyACharacterDeviceIsAPort) {
  const std::string root = platform::OrbekRoot();
  const std::string file = root + "/not-a-port.txt";
  std::ofstream(file) << "keep me";
  const std::string fifo = root + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<int, std::string> links[] = {{8, file}, {9, fifo}, {10, root}};
  for (const auto& [com, target] : links) {
    std::filesystem::create_symlink(target, root + "/dosdevices/com" + std::to_string(com));
    SerialPort other;
    EXPECT_FALSE(other.Open(com)) << target;
    const uint8_t bytes[] = {'x'};
    EXPECT_EQ(other.Write(bytes, 1), 0u) << target;
  }
  std::ifstream kept(file);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST_F(SerialPortOverPty, PortIsNotShared) {
  SerialPort other;
  EXPECT_FALSE(other.Open(kCom));
}

TEST_F(SerialPortOverPty, WriteThatCannotCompleteReturnsZero) {
  // Nobody reads the master side: the pty's buffer fills and the write waits its 10 s of
  // clock time, which the fast clock makes short.
  double scale = platform::TimeScale();
  platform::SetTimeScale(1000);
  std::vector<uint8_t> flood(1 << 20, 0x55);
  uint64_t start = platform::TickCountMs();
  EXPECT_EQ(port.Write(flood.data(), static_cast<uint32_t>(flood.size())), 0u);
  EXPECT_GE(platform::TickCountMs() - start, platform::kSerialWriteWaitMs);
  platform::SetTimeScale(scale);
}

}  // namespace
}  // namespace orbek

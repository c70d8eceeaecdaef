// PhoneLink against a scripted peer on a manual clock.
#include "link/phone_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "link/frame_trace.h"
#include "tests/support/manual_clock.h"
#include "tests/support/scripted_bus.h"

namespace orbek {
namespace {

using testing::Bytes;

constexpr int kCom = 3;

Bytes Framed(const Bytes& packet, LinkMode mode) {
  FrameBuffer frame;
  std::memcpy(frame.bytes.data(), packet.data(), packet.size());
  frame.length = static_cast<uint32_t>(packet.size());
  BuildFrame(frame, mode);
  return Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length);
}

class PhoneLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link.port.Open(kCom)); }

  void Request(uint8_t command, LinkMode mode = LinkMode::Diag) {
    link.Clear();
    link.mode = mode;
    link.request.command = command;
    link.request.payloadLength = 0;
  }

  testing::ManualClock clock;
  testing::ScriptedBus stick{kCom};
  PhoneLink link;
};

TEST_F(PhoneLinkTest, DiagReplyIsDecoded) {
  Request(0x00);
  link.request.payload[0] = 0x7E;
  link.request.payloadLength = 1;
  stick.Answer(Framed({0x00, 0x7D, 0x42}, LinkMode::Diag));
  ASSERT_TRUE(link.Exchange(1, 300)) << link.reason;
  EXPECT_EQ(stick.Writes().at(0), Framed({0x00, 0x7E}, LinkMode::Diag));
  EXPECT_EQ(link.reply.code, 0x00);
  ASSERT_EQ(link.ReplyLength(), 5u);
  EXPECT_EQ(link.ReplyBytes()[1], 0x7D);
  EXPECT_EQ(link.ReplyBytes()[2], 0x42);
  EXPECT_EQ(link.readPosition, 0u);
}

TEST_F(PhoneLinkTest, BadCommandIsRetriedWhileAttemptsRemain) {
  Request(0x01);
  stick.Answer(Framed({0x13, 0x01}, LinkMode::Diag));
  stick.Answer(Framed({0x01, 0x55}, LinkMode::Diag));
  EXPECT_TRUE(link.Exchange(3, 300)) << link.reason;
  EXPECT_EQ(stick.Writes().size(), 2u);
  EXPECT_EQ(stick.Writes()[0], stick.Writes()[1]);  // the same frame is sent again

  Request(0x01);
  stick.Answer(Framed({0x13, 0x01}, LinkMode::Diag));
  EXPECT_FALSE(link.Exchange(1, 300));
  EXPECT_EQ(link.reason, "Bad command");
}

TEST_F(PhoneLinkTest, DiagErrorRepliesHaveTheirTexts) {
  const std::pair<uint8_t, const char*> table[] = {
      {0x13, "Bad command"},
      {0x14, "The Request packet has invalid or inconsistent parameters"},
      {0x15, "The Request packet has an invalid length"},
      {0x18, "the DMSS isn't in a particular mode"},
      {0x42, "the correct SPC has not yet been entered to unlock service programming"},
      {0x47, "the correct Security Password has not yet been entered to unlock the phone"},
      {0x99, "unknow reason"},
  };
  for (const auto& [code, text] : table) {
    Request(0x7C);
    stick.Answer(Framed({code}, LinkMode::Diag));
    EXPECT_FALSE(link.Exchange(1, 300));
    EXPECT_EQ(link.reason, text);
  }
}

TEST_F(PhoneLinkTest, RepliesLargerThan1024BytesAreRefused) {
  Bytes packet(1021, 0x11);
  packet[0] = 0x4B;
  Bytes exact = Framed(packet, LinkMode::Diag);
  ASSERT_EQ(exact.size(), 1024u);

  Request(0x4B);
  stick.Answer(exact);
  EXPECT_TRUE(link.Exchange(1, 300)) << link.reason;

  Bytes tooLarge = exact;
  tooLarge.insert(tooLarge.begin() + 1, 0x11);
  Request(0x4B);
  stick.Answer(tooLarge);
  EXPECT_FALSE(link.Exchange(1, 300));
  EXPECT_EQ(link.reason, "The Received Data from the Phone is Too Large");
}

TEST_F(PhoneLinkTest, NoAnswerEndsAfterTheTimeOut) {
  Request(0x01);
  uint64_t start = clock.TickCountMs();
  EXPECT_FALSE(link.Exchange(1, 300));
  uint64_t elapsed = clock.TickCountMs() - start;
  EXPECT_EQ(link.reason, "Port Cannot Receive Desired Data from the Phone");
  EXPECT_GT(elapsed, 300u);
  EXPECT_LE(elapsed, 310u);

  // A request may ask for a longer step (the NV item commands poll in steps of 30 ms).
  Request(0x26);
  link.request.pollStepMs = 30;
  start = clock.TickCountMs();
  EXPECT_FALSE(link.Exchange(2, 300));
  EXPECT_EQ(clock.TickCountMs() - start, 2 * 330u);
  EXPECT_EQ(stick.Writes().size(), 3u);
}

TEST_F(PhoneLinkTest, ZeroAttemptsSendNothingAndSucceed) {
  Request(0x01);
  EXPECT_TRUE(link.Exchange(0, 300));
  EXPECT_TRUE(stick.Writes().empty());
}

TEST_F(PhoneLinkTest, ClosedPortCannotSend) {
  link.port.Close();
  Request(0x01);
  EXPECT_FALSE(link.Exchange(2, 300));
  EXPECT_EQ(link.reason, "Port Cannot Send desired data to the Phone");
}

TEST_F(PhoneLinkTest, RawDiagKeepsTheReplyAsReceived) {
  link.Clear();
  link.mode = LinkMode::RawDiag;
  link.request.command = 0x4B;
  PacketWriter packet = link.RawPacket();
  for (uint8_t byte : {0x4B, 0x7E, 0x01})
    packet.Byte(byte);
  Bytes answer = {0x7E, 0x4B, 0x7D, 0x5E, 0xAA, 0xBB, 0x7E};
  stick.Answer(answer);
  ASSERT_TRUE(link.Exchange(1, 300));
  EXPECT_EQ(stick.Writes().at(0), Framed({0x4B, 0x7E, 0x01}, LinkMode::Diag));
  EXPECT_EQ(Bytes(link.ReplyBytes(), link.ReplyBytes() + link.ReplyLength()), answer);
  EXPECT_EQ(link.rawReplyLength, answer.size());
}

TEST_F(PhoneLinkTest, ReasonsNestAndSurviveALaterSuccess) {
  Request(0x01);
  EXPECT_FALSE(link.Exchange(1, 300));
  link.ComposeReason("Cannot Get the ESN Number of the Phone, Since %s");
  link.ComposeReason("Cannot Switch to Downloader, Since %s");
  const std::string nested =
      "Cannot Switch to Downloader, Since Cannot Get the ESN Number of the Phone, Since Port "
      "Cannot Receive Desired Data from the Phone";
  EXPECT_EQ(link.reason, nested);

  Request(0x01);
  stick.Answer(Framed({0x01}, LinkMode::Diag));
  EXPECT_TRUE(link.Exchange(1, 300));
  EXPECT_EQ(link.reason, nested);
  EXPECT_TRUE(link.scratch.empty());
}

bool RefuseEverything(PhoneLink& link) {
  link.reason = "refused by the parser";
  return false;
}

void BuildBigEndianAddress(const PhoneLink& link, PacketWriter& packet) {
  packet.Byte(link.request.command);
  packet.U32Be(0x01020304);
}

TEST_F(PhoneLinkTest, ModeHooksBuildAndParse) {
  link.SetPacketBuilder(LinkMode::Dload, BuildBigEndianAddress);
  link.SetReplyParser(LinkMode::Dload, RefuseEverything);
  Request(0x05, LinkMode::Dload);
  Bytes reply = Framed({0x02}, LinkMode::Dload);
  reply.erase(reply.begin());  // boot loaders may drop the opening flag
  stick.Answer(reply);
  EXPECT_FALSE(link.Exchange(1, 300));
  EXPECT_EQ(link.reason, "refused by the parser");
  EXPECT_EQ(link.reply.code, 0x02);
  EXPECT_EQ(stick.Writes().at(0), Framed({0x05, 0x01, 0x02, 0x03, 0x04}, LinkMode::Dload));
}

TEST_F(PhoneLinkTest, StreamWriteWithoutAnswerCountsAsWritten) {
  Request(0x07, LinkMode::Streaming);
  uint64_t start = clock.TickCountMs();
  EXPECT_TRUE(link.StreamExchange());
  int reported = 0;
  ASSERT_EQ(std::sscanf(link.reason.c_str(), "time is %d(ms)", &reported), 1) << link.reason;
  EXPECT_GT(reported, 60000);
  EXPECT_LT(reported, 60600);
  EXPECT_EQ(static_cast<uint64_t>(reported), clock.TickCountMs() - start);
  EXPECT_EQ(stick.purges.back(), platform::PurgeScope::OutputOnly);
}

std::string StreamErrorText(uint32_t code) {
  return code == 6 ? "Write failure" : "Illegal reason";
}

TEST_F(PhoneLinkTest, StreamWriteReadsEarlierAndNewAcknowledgements) {
  Bytes earlier = Framed({0x08, 0x00, 0x04, 0x00, 0x00}, LinkMode::Streaming);
  stick.Deliver(earlier);
  Request(0x07, LinkMode::Streaming);
  stick.Answer(Framed({0x08, 0x00, 0x08, 0x00, 0x00}, LinkMode::Streaming));
  const uint64_t asked = clock.TickCountMs();
  ASSERT_TRUE(link.StreamExchange()) << link.reason;
  EXPECT_EQ(link.AcknowledgedBlocks(), (std::vector<uint32_t>{0x400, 0x800}));
  // An answer there at once is taken after the first two looks at the input, 2 ms apart.
  EXPECT_EQ(link.reason, "time is 4(ms)");
  EXPECT_EQ(clock.TickCountMs() - asked, 4u);

  link.SetStreamErrorText(StreamErrorText);
  Request(0x07, LinkMode::Streaming);
  stick.Answer(Framed({0x0D, 0x06, 0x00, 0x00, 0x00}, LinkMode::Streaming));
  EXPECT_FALSE(link.StreamExchange());
  EXPECT_EQ(link.reason, "Write failure");
}

TEST_F(PhoneLinkTest, TraceRecordsFramesAsSentAndReceived) {
  char path[] = "/tmp/orbek-trace-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  setenv("ORBEK_TRACE", path, 1);
  ReopenFrameTrace();

  Request(0x00);
  Bytes answer = Framed({0x00, 0x7E}, LinkMode::Diag);
  stick.Answer(answer);
  ASSERT_TRUE(link.Exchange(1, 300));

  unsetenv("ORBEK_TRACE");
  ReopenFrameTrace();
  Request(0x00);
  stick.Answer(answer);
  ASSERT_TRUE(link.Exchange(1, 300));  // not traced any more

  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  std::remove(path);

  std::istringstream lines(text.str());
  std::string first, second, third;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, third));

  uint64_t ms = 0;
  char direction[3] = {};
  char mode[16] = {};
  ASSERT_EQ(std::sscanf(first.c_str(), "%lu %2s %15s", &ms, direction, mode), 3) << first;
  EXPECT_STREQ(direction, "TX");
  EXPECT_STREQ(mode, "Diag");
  EXPECT_NE(first.find(" Diag 00 78 F0 7E"), std::string::npos) << first;
  EXPECT_NE(second.find(" RX Diag 00 7D 5E "), std::string::npos) << second;
  EXPECT_EQ(second.substr(second.size() - 3), " 7E");
}

}  // namespace
}  // namespace orbek

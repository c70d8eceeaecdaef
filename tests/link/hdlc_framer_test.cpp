#include "link/hdlc_framer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace orbek {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const Bytes& packet, LinkMode mode) {
  FrameBuffer frame;
  std::memcpy(frame.bytes.data(), packet.data(), packet.size());
  frame.length = static_cast<uint32_t>(packet.size());
  uint32_t length = BuildFrame(frame, mode);
  return Bytes(frame.bytes.begin(), frame.bytes.begin() + length);
}

ReplyBuffer Received(const Bytes& bytes) {
  ReplyBuffer reply;
  std::memcpy(reply.bytes.data(), bytes.data(), bytes.size());
  reply.length = static_cast<uint16_t>(bytes.size());
  return reply;
}

// Decodes and returns the packet without its check bytes; empty with `reason` on failure.
bool Decode(const Bytes& bytes, LinkMode mode, Bytes& packet, std::string& reason) {
  ReplyBuffer reply = Received(bytes);
  uint16_t raw = 0;
  if (!DecodeReply(reply, mode, raw, reason))
    return false;
  EXPECT_EQ(raw, bytes.size());
  packet.assign(reply.bytes.begin(), reply.bytes.begin() + reply.length - 2);
  return true;
}

Bytes WithFcs(Bytes packet) {
  packet.resize(packet.size() + 2);
  Fcs16(packet.data(), packet.size() - 2);
  return packet;
}

// A streaming frame as the flash programmer sends it: opening and closing flag.
Bytes StreamFrame(const Bytes& packet) {
  return Frame(packet, LinkMode::Streaming);
}

std::string NoSuchError(uint32_t code) {
  return "streaming error " + std::to_string(code);
}

TEST(Fcs16, MatchesTheCheckValuesOfRfc1662) {
  const Bytes digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ComputeFcs16(digits.data(), digits.size()), 0x906E);
  Bytes withFcs = WithFcs(digits);
  EXPECT_EQ(withFcs[9], 0x6E);
  EXPECT_EQ(withFcs[10], 0x90);

  uint8_t empty[2] = {0xAA, 0xAA};
  EXPECT_EQ(Fcs16(empty, 0), 2u);
  EXPECT_EQ(empty[0], 0x00);
  EXPECT_EQ(empty[1], 0x00);
}

TEST(Fcs16, GoodResidueAcceptsIntactDataOnly) {
  Bytes data = WithFcs({0x01, 0x7E, 0x7D, 0xFF, 0x00});
  EXPECT_TRUE(Fcs16Good(data.data(), data.size()));
  for (size_t i = 0; i < data.size(); ++i) {
    Bytes corrupted = data;
    corrupted[i] ^= 0x04;
    EXPECT_FALSE(Fcs16Good(corrupted.data(), corrupted.size())) << "byte " << i;
  }
  EXPECT_FALSE(Fcs16Good(data.data(), 0));
  uint8_t empty[2] = {};
  Fcs16(empty, 0);
  EXPECT_TRUE(Fcs16Good(empty, 2));
}

TEST(BuildFrame, FlagsDependOnTheMode) {
  Bytes diag = Frame({0x00}, LinkMode::Diag);
  Bytes dload = Frame({0x00}, LinkMode::Dload);
  EXPECT_NE(diag.front(), kHdlcFlag);
  EXPECT_EQ(diag.back(), kHdlcFlag);
  EXPECT_EQ(dload.front(), kHdlcFlag);
  EXPECT_EQ(dload.back(), kHdlcFlag);
  EXPECT_EQ(Bytes(dload.begin() + 1, dload.end()), diag);
  EXPECT_EQ(Frame({0x00}, LinkMode::RawDiag), diag);
}

TEST(BuildFrame, StuffsFlagAndEscapeAndDecodesBack) {
  const Bytes packet = {0x10, 0x7E, 0x20, 0x7D, 0x03, 0x5E, 0x5D};
  Bytes frame = Frame(packet, LinkMode::Diag);
  const Bytes expectedStart = {0x10, 0x7D, 0x5E, 0x20, 0x7D, 0x5D, 0x03, 0x5E, 0x5D};
  ASSERT_GE(frame.size(), expectedStart.size());
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + expectedStart.size()), expectedStart);
  EXPECT_EQ(std::count(frame.begin(), frame.end() - 1, kHdlcFlag), 0);

  for (LinkMode mode : {LinkMode::Diag, LinkMode::Dload, LinkMode::Streaming}) {
    Bytes decoded;
    std::string reason;
    ASSERT_TRUE(Decode(Frame(packet, mode), mode, decoded, reason)) << reason;
    EXPECT_EQ(decoded, packet);
  }
}

TEST(BuildFrame, WorstCaseStuffingFitsTheFrameBuffer) {
  FrameBuffer frame;
  PacketWriter writer(frame);
  for (size_t i = 0; i < kMaxPacketLength; ++i)
    writer.Byte(kHdlcFlag);
  ASSERT_FALSE(frame.overflowed);
  uint32_t length = BuildFrame(frame, LinkMode::Streaming);
  ASSERT_GT(length, 2 * kMaxPacketLength + 2);
  ASSERT_LE(length, kFrameCapacity);

  // Unstuff by hand: every packet byte comes back, followed by a valid check.
  Bytes unstuffed;
  for (uint32_t i = 1; i + 1 < length; ++i) {
    uint8_t byte = frame.bytes[i];
    unstuffed.push_back(byte == kHdlcEscape ? static_cast<uint8_t>(frame.bytes[++i] ^ 0x20) : byte);
  }
  ASSERT_EQ(unstuffed.size(), kMaxPacketLength + 2);
  EXPECT_TRUE(
      std::all_of(unstuffed.begin(), unstuffed.end() - 2, [](uint8_t b) { return b == 0x7E; }));
  EXPECT_TRUE(Fcs16Good(unstuffed.data(), unstuffed.size()));
}

TEST(BuildFrame, RefusesAPacketPastTheLimit) {
  FrameBuffer frame;
  PacketWriter writer(frame);
  for (size_t i = 0; i <= kMaxPacketLength; ++i)
    writer.Byte(0x01);
  EXPECT_TRUE(frame.overflowed);
  EXPECT_EQ(frame.length, kMaxPacketLength);
  EXPECT_EQ(BuildFrame(frame, LinkMode::Diag), 0u);
}

TEST(PacketWriter, WritesBothByteOrders) {
  FrameBuffer frame;
  PacketWriter writer(frame);
  writer.U16Le(0x1234);
  writer.U32Le(0xA1B2C3D4);
  writer.U16Be(0x1234);
  writer.U32Be(0xA1B2C3D4);
  const Bytes expected = {0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4};
  EXPECT_EQ(Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length), expected);
}

TEST(DecodeReply, BootLoaderReplyWithoutOpeningFlagDecodes) {
  const Bytes packet = {0x02, 0x7D, 0x01};
  for (LinkMode mode : {LinkMode::Dload, LinkMode::Streaming}) {
    Bytes frame = Frame(packet, mode);
    frame.erase(frame.begin());
    Bytes decoded;
    std::string reason;
    ASSERT_TRUE(Decode(frame, mode, decoded, reason)) << reason;
    EXPECT_EQ(decoded, packet);
  }
}

TEST(DecodeReply, FailuresLeaveTheirTexts) {
  const Bytes packet = {0x01, 0x02, 0x03, 0x04};
  Bytes decoded;
  std::string reason;

  Bytes noEnd = Frame(packet, LinkMode::Diag);
  noEnd.pop_back();
  EXPECT_FALSE(Decode(noEnd, LinkMode::Diag, decoded, reason));
  EXPECT_EQ(reason, "the Received Data is Wrong without End Flag(0x7e)");

  Bytes corrupted = Frame(packet, LinkMode::Dload);
  corrupted[2] ^= 0x01;
  EXPECT_FALSE(Decode(corrupted, LinkMode::Dload, decoded, reason));
  EXPECT_EQ(reason, "the Received Data is Wrong with Wrong CRC Checksum");

  // Two DIAG frames in one read: the inner flag is data, so the check fails.
  Bytes twoFrames = Frame(packet, LinkMode::Diag);
  Bytes second = Frame({0x01, 0x09}, LinkMode::Diag);
  twoFrames.insert(twoFrames.end(), second.begin(), second.end());
  reason.clear();
  EXPECT_FALSE(Decode(twoFrames, LinkMode::Diag, decoded, reason));
  EXPECT_EQ(reason, "the Received Data is Wrong with Wrong CRC Checksum");

  // A DIAG reply with a leading flag takes the flag as data.
  Bytes leadingFlag = Frame(packet, LinkMode::Dload);
  EXPECT_FALSE(Decode(leadingFlag, LinkMode::Diag, decoded, reason));

  // A lone flag, and an escape as the very last byte, end without a packet.
  EXPECT_FALSE(Decode({kHdlcFlag}, LinkMode::Dload, decoded, reason));
  EXPECT_EQ(reason, "the Received Data is Wrong without End Flag(0x7e)");
  EXPECT_FALSE(Decode({0x01, kHdlcEscape}, LinkMode::Diag, decoded, reason));
  EXPECT_EQ(reason, "the Received Data is Wrong without End Flag(0x7e)");
}

TEST(DecodeReply, AFullReplyBufferWithoutOpeningFlagStaysInBounds) {
  Bytes bytes(kMaxReplyLength, 0x41);
  bytes.back() = kHdlcFlag;
  ReplyBuffer reply = Received(bytes);
  uint16_t raw = 0;
  std::string reason;
  EXPECT_FALSE(DecodeReply(reply, LinkMode::Streaming, raw, reason));
  EXPECT_EQ(raw, kMaxReplyLength);
  EXPECT_EQ(reason, "the Received Data is Wrong with Wrong CRC Checksum");
}

TEST(DecodeStreamReplies, AcceptsSeveralAcknowledgements) {
  Bytes bytes;
  for (uint32_t address : {0x1000u, 0x1400u, 0x7E7D00u}) {
    Bytes ack =
        StreamFrame({0x08, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                     static_cast<uint8_t>(address >> 16), 0x00});
    bytes.insert(bytes.end(), ack.begin(), ack.end());
  }
  bytes.erase(bytes.begin());  // the first opening flag may be missing
  bytes.push_back(kHdlcFlag);  // and an unfinished frame after the last is ignored
  bytes.push_back(0x08);
  ReplyBuffer reply = Received(bytes);
  std::string reason = "unchanged";
  std::vector<uint32_t> acknowledged;
  EXPECT_TRUE(DecodeStreamReplies(reply, reason, NoSuchError, &acknowledged));
  EXPECT_EQ(reason, "unchanged");
  EXPECT_EQ(acknowledged, (std::vector<uint32_t>{0x1000, 0x1400, 0x7E7D00}));
}

TEST(DecodeStreamReplies, OneBadFrameFailsTheWholeReply) {
  Bytes good = StreamFrame({0x08, 0x00, 0x10, 0x00, 0x00});
  Bytes bad = good;
  bad[3] ^= 0x40;
  Bytes bytes = good;
  bytes.insert(bytes.end(), bad.begin(), bad.end());
  bytes.insert(bytes.end(), good.begin(), good.end());
  ReplyBuffer reply = Received(bytes);
  std::string reason;
  EXPECT_FALSE(DecodeStreamReplies(reply, reason, NoSuchError));
  EXPECT_EQ(reason, "the Received Data is Wrong with CRC Checksum");
}

TEST(DecodeStreamReplies, ErrorReplyFailsWithItsText) {
  Bytes bytes = StreamFrame({0x08, 0x00, 0x10, 0x00, 0x00});
  Bytes error = StreamFrame({0x0D, 0x05, 0x00, 0x00, 0x00});
  bytes.insert(bytes.end(), error.begin(), error.end());
  ReplyBuffer reply = Received(bytes);
  std::string reason;
  EXPECT_FALSE(DecodeStreamReplies(reply, reason, NoSuchError));
  EXPECT_EQ(reason, "streaming error 5");

  // A short error reply reads only what it has.
  reply = Received(StreamFrame({0x0D, 0x02}));
  EXPECT_FALSE(DecodeStreamReplies(reply, reason, NoSuchError));
  EXPECT_EQ(reason, "streaming error 2");
}

}  // namespace
}  // namespace orbek

// The streaming download protocol against the simulated stick's flash programmer.
#include "download/streaming.h"

#include <gtest/gtest.h>

#include <random>

#include "sim/sha256.h"
#include "sim/stick_json.h"
#include "tests/support/simulated_stick_test.h"

namespace orbek {
namespace {

class StreamingDownload : public testing::SimulatedStickTest {
 protected:
  void SetUp() override {
    config.initialMode = sim::StickMode::StreamingDownload;
    PlugIn();
  }

  uint32_t Requests(uint8_t command) const {
    return SimulatedStickTest::Requests("streaming", command);
  }
};

std::vector<uint8_t> RandomBytes(size_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(length);
  for (auto& byte : bytes)
    byte = static_cast<uint8_t>(random());
  return bytes;
}

TEST_F(StreamingDownload, FullImageArrivesByteForByte) {
  ASSERT_TRUE(StreamHello(link)) << link.reason;  // the programmer checks size and magic
  ASSERT_TRUE(StreamNop(link)) << link.reason;
  ASSERT_TRUE(StreamSecurityMode(link)) << link.reason;
  const auto table = RandomBytes(464, 1);
  ASSERT_TRUE(StreamPartitionTable(link, table.data(), static_cast<uint32_t>(table.size())))
      << link.reason;

  const auto header = RandomBytes(40, 2);
  const auto image = RandomBytes(50 * 1024 + 123, 3);
  ASSERT_TRUE(StreamOpenMultiImage(link, kImageAmss, header.data(), 40)) << link.reason;
  for (uint32_t address = 0; address < image.size(); address += kStreamBlockSize) {
    uint32_t length =
        std::min<uint32_t>(kStreamBlockSize, static_cast<uint32_t>(image.size()) - address);
    ASSERT_TRUE(StreamWrite(link, image.data() + address, address, length)) << link.reason;
    ASSERT_EQ(link.AcknowledgedBlocks(), std::vector<uint32_t>{address});
  }
  ASSERT_TRUE(StreamClose(link)) << link.reason;

  const sim::StickState& state = stick->State();
  EXPECT_EQ(state.partitionTable, table);
  EXPECT_EQ(state.flash.at("amss"), image);
  EXPECT_EQ(state.imageHeaders.at("amss"), header);
  auto report = sim::StickReport(*stick)["images"];
  EXPECT_EQ(report["amss"]["sha256"], sim::Sha256Hex(image));
  EXPECT_EQ(report["partitionTable"]["length"], 464);

  // A new partition table with only the modem image written: the other boot images are missing,
  // so the stick starts its boot loader again, not its firmware.
  ASSERT_TRUE(StreamReset(link)) << link.reason;
  Wait(config.resetLatencyMs + config.replugDelayMs);
  EXPECT_EQ(stick->Mode(), sim::StickMode::DmssDownload);
}

TEST_F(StreamingDownload, OpenSendsTheHeaderOnlyForTypesThatCarryOne) {
  const auto header = RandomBytes(300, 4);
  ASSERT_TRUE(StreamOpenMultiImage(link, kImageAmss, header.data(), 300)) << link.reason;
  ASSERT_TRUE(StreamClose(link));
  ASSERT_TRUE(StreamOpenMultiImage(link, kImageQcsbl, header.data(), 300)) << link.reason;
  ASSERT_TRUE(StreamClose(link));
  EXPECT_EQ(stick->State().imageHeaders.at("amss"), header);  // 302 bytes went out
  EXPECT_TRUE(stick->State().imageHeaders.at("qcsbl").empty());

  // Another type goes out as the code byte alone, which the programmer cannot take.
  EXPECT_FALSE(StreamOpenMultiImage(link, 7, header.data(), 300));
  EXPECT_EQ(link.reason, "Cannot open multi-image, Since Unexpected end of packet");

  std::vector<uint8_t> tooLong(1025);
  EXPECT_FALSE(StreamOpenMultiImage(link, kImageOemsbl, tooLong.data(), 1025));
  EXPECT_EQ(link.reason, "Cannot open multi-image, Since The Request packet is too large to send");
  EXPECT_FALSE(StreamPartitionTable(link, tooLong.data(), 1025));
}

// A boot loader that never started the programmer answers the hello with its negative
// acknowledge: that is no greeting, whatever else passes in this protocol.
TEST_F(StreamingDownload, HelloPassesOnlyWithTheProgrammersHelloReply) {
  EXPECT_TRUE(StreamHello(link)) << link.reason;
  config.initialMode = sim::StickMode::DmssDownload;
  PlugIn();
  EXPECT_FALSE(StreamHello(link));
  EXPECT_EQ(link.reason, kTextNotAHelloReply);
  EXPECT_EQ(SimulatedStickTest::Requests("dmss", 0x01), 3u);  // every attempt used
  EXPECT_TRUE(StreamNop(link));  // the rest of the protocol still takes any answer
}

TEST_F(StreamingDownload, ErrorRepliesAndTheirTexts) {
  ASSERT_TRUE(AddFault("error:0x1B:14:2"));
  EXPECT_FALSE(StreamOpenMultiImage(link, kImageEfs, nullptr, 0));
  EXPECT_EQ(link.reason, "Cannot open multi-image, Since NAND flash programming not supported");
  EXPECT_EQ(Requests(0x1B), 2u);

  ASSERT_TRUE(AddFault("error:0x17:6:3"));
  EXPECT_FALSE(StreamSecurityMode(link));
  EXPECT_EQ(link.reason, "Cannot go into security, Since Illegal reason");

  EXPECT_EQ(StreamingErrorText(18), "Out of space");
  for (uint32_t code : {0u, 1u, 6u, 11u, 19u, 0xFFFFFFFFu}) {
    EXPECT_EQ(StreamingErrorText(code), "Illegal reason") << code;
  }
}

TEST_F(StreamingDownload, StreamWriteAnswers) {
  const auto block = RandomBytes(1024, 5);
  ASSERT_TRUE(StreamOpenMultiImage(link, kImageEfs, nullptr, 0));

  // The answer to the first block is held back and comes with the second's.
  ASSERT_TRUE(AddFault("merge:0x07"));
  EXPECT_TRUE(StreamWrite(link, block.data(), 0, 1024));
  EXPECT_TRUE(link.AcknowledgedBlocks().empty());
  EXPECT_TRUE(StreamWrite(link, block.data(), 1024, 1024)) << link.reason;
  EXPECT_EQ(link.AcknowledgedBlocks(), (std::vector<uint32_t>{0, 1024}));

  ASSERT_TRUE(AddFault("error:0x07:10"));
  EXPECT_FALSE(StreamWrite(link, block.data(), 2048, 1024));
  EXPECT_EQ(link.reason, "Write a Block of Data to Memory Failed, Since Write-verify failed");

  ASSERT_TRUE(AddFault("badcrc:0x07"));
  EXPECT_FALSE(StreamWrite(link, block.data(), 2048, 1024));
  EXPECT_EQ(link.reason,
            "Write a Block of Data to Memory Failed, Since the Received Data is Wrong with CRC "
            "Checksum");

  std::vector<uint8_t> tooLong(1025);
  EXPECT_FALSE(StreamWrite(link, tooLong.data(), 0, 1025));
}

TEST_F(StreamingDownload, SilentProgrammerIsNoticedAtClose) {
  ASSERT_TRUE(StreamOpenMultiImage(link, kImageEfs, nullptr, 0));
  ASSERT_TRUE(AddFault("unplug:0x07:1:never"));
  const auto block = RandomBytes(1024, 6);
  EXPECT_TRUE(StreamWrite(link, block.data(), 0, 1024));  // no answer counts as written
  EXPECT_EQ(link.reason.rfind("time is 6", 0), 0u) << link.reason;
  EXPECT_FALSE(StreamClose(link));
}

}  // namespace
}  // namespace orbek

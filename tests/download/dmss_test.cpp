// The DMSS download protocol against the simulated stick's boot loader.
#include "download/dmss.h"

#include <gtest/gtest.h>

#include "sim/sha256.h"
#include "sim/stick_json.h"
#include "tests/support/simulated_stick_test.h"

namespace orbek {
namespace {

class DmssDownload : public testing::SimulatedStickTest {
 protected:
  void SetUp() override {
    config.initialMode = sim::StickMode::DmssDownload;
    PlugIn();
  }

  uint32_t Requests(uint8_t command) const { return SimulatedStickTest::Requests("dmss", command); }
};

TEST_F(DmssDownload, ProgrammerIsUploadedInBlocksAndStarted) {
  std::vector<uint8_t> programmer(2034);
  for (size_t i = 0; i < programmer.size(); ++i)
    programmer[i] = static_cast<uint8_t>(i * 13 + 0x7D);
  ASSERT_TRUE(DloadNop(link)) << link.reason;
  for (uint32_t offset = 0; offset < programmer.size(); offset += kProgrammerBlockSize) {
    uint16_t length =
        static_cast<uint16_t>(std::min<size_t>(kProgrammerBlockSize, programmer.size() - offset));
    ASSERT_TRUE(DloadWrite32(link, programmer.data() + offset, kProgrammerAddress + offset, length))
        << link.reason;
  }
  EXPECT_EQ(Requests(0x0F), 2u);
  EXPECT_EQ(stick->State().ram, programmer);  // blocks at 0x00800000 and 0x008003F9

  ASSERT_TRUE(DloadGo(link, 0x0080, 0x0000)) << link.reason;
  EXPECT_EQ(stick->Mode(), sim::StickMode::StreamingDownload);
  auto report = sim::StickReport(*stick)["images"]["programmer"];
  EXPECT_EQ(report["length"], 2034);
  EXPECT_EQ(report["sha256"], sim::Sha256Hex(programmer));
}

TEST_F(DmssDownload, NegativeAcknowledgeOnEveryAttempt) {
  ASSERT_TRUE(AddFault("error:0x0F:5:3"));
  const uint8_t block[16] = {};
  EXPECT_FALSE(DloadWrite32(link, block, kProgrammerAddress, sizeof block));
  EXPECT_EQ(link.reason,
            "Write a Block of Data to Memory Failed, Since packet was too long for phone's buffer");
  EXPECT_EQ(Requests(0x0F), 3u);
  EXPECT_EQ(link.reply.nakCode, 5);

  ASSERT_TRUE(AddFault("error:0x0A:0x42:3"));  // a code outside the table
  EXPECT_FALSE(DloadReset(link));
  EXPECT_EQ(link.reason, "Cannot Reset the Phone, Since ");
}

TEST_F(DmssDownload, BootLoaderRefusesWritesOutsideItsRam) {
  const uint8_t block[4] = {1, 2, 3, 4};
  EXPECT_FALSE(DloadWrite32(link, block, 0x00100000, sizeof block));
  EXPECT_EQ(link.reason,
            "Write a Block of Data to Memory Failed, Since destination address is invalid");
  EXPECT_FALSE(DloadGo(link, 0x0080, 0x0000));  // nothing uploaded
  EXPECT_EQ(link.reason,
            "Cannot begin execution at an address, Since destination address is invalid");
}

TEST_F(DmssDownload, FlashParameters) {
  FlashInfo info;
  ASSERT_TRUE(DloadGetParams(link, info)) << link.reason;
  EXPECT_EQ(info.replyCode, 0x08);
  EXPECT_EQ(info.flashSizeCode, 5);
  EXPECT_EQ(info.flashSize, 0x400000u);
  EXPECT_EQ(info.bytes3To6, 0x00000400u);
  EXPECT_EQ(info.byte9, 0x14);
  EXPECT_STREQ(info.firstName.data(), "Unknown");
  EXPECT_STREQ(info.secondName.data(), "Unknown");
  auto record = info.Record();
  EXPECT_EQ(record.size(), 212u);
  EXPECT_EQ(record[0], 0x08);
  EXPECT_EQ(record[12] | record[13] << 8 | record[14] << 16, 0x400000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[18])), "Unknown");

  config.flashSizeCode = 9;
  config.initialMode = sim::StickMode::DmssDownload;
  PlugIn();
  ASSERT_TRUE(DloadGetParams(link, info)) << link.reason;
  EXPECT_EQ(info.byte8, 9);
  EXPECT_EQ(info.flashSizeCode, 0);
  EXPECT_EQ(info.flashSize, 0u);

  ASSERT_TRUE(AddFault("noreply:0x07"));
  EXPECT_FALSE(DloadGetParams(link, info));
  EXPECT_EQ(info.Record(), FlashInfo{}.Record());
  EXPECT_EQ(link.reason,
            "Cannot Get flash Information, Since Port Cannot Receive Desired Data from the Phone");
}

TEST_F(DmssDownload, ResetGoesBackToTheFirmware) {
  EXPECT_TRUE(DloadReset(link)) << link.reason;
  Wait(config.resetLatencyMs + config.replugDelayMs);
  EXPECT_EQ(stick->Mode(), sim::StickMode::Firmware);
  EXPECT_EQ(stick->Ports().size(), 2u);
}

TEST_F(DmssDownload, NopFailsWithTheBootLoadersText) {
  ASSERT_TRUE(AddFault("error:0x06:7"));
  EXPECT_FALSE(DloadNop(link));
  EXPECT_EQ(link.reason, "Cannot Do No Operation, Since operation did not succeed");
}

}  // namespace
}  // namespace orbek

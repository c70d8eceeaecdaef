// The maker's extended commands against the simulated stick.
#include "diag/maker_commands.h"

#include <gtest/gtest.h>

#include "diag/diag_reply.h"
#include "tests/support/simulated_stick_test.h"

namespace orbek {
namespace {

constexpr const char* kNoAnswer = "Port Cannot Receive Desired Data from the Phone";

class MakerCommands : public testing::SimulatedStickTest {
 protected:
  FirmwareVersionBlock Block(const sim::Bytes& bytes) {
    FirmwareVersionBlock block{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    return block;
  }
};

// Texts longer than every field, so each layout's field sizes show in what comes back.
std::array<std::string, 9> LongVersions() {
  std::array<std::string, 9> versions;
  for (size_t i = 0; i < versions.size(); ++i) {
    versions[i] = "V" + std::to_string(i) + "_abcdefghijklmnopqrstuvwxyz0123456789";
  }
  return versions;
}

struct LayoutCase {
  sim::VersionLayout layout;
  bool separators;
  std::vector<size_t> lengths;  // expected text length per slot
};

void PrintTo(const LayoutCase& layout, std::ostream* out) {
  *out << sim::VersionLayoutName(layout.layout) << (layout.separators ? "+separators" : "");
}

std::string LayoutName(const ::testing::TestParamInfo<LayoutCase>& info) {
  return std::string(sim::VersionLayoutName(info.param.layout)) +
         (info.param.separators ? "WithSeparators" : "WithoutSeparators");
}

class VersionTableLayouts : public testing::SimulatedStickTest,
                            public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(VersionTableLayouts, EachLayoutIsReadByItsLength) {
  config.versions = LongVersions();
  config.versionLayout = GetParam().layout;
  config.versionSeparators = GetParam().separators;
  PlugIn();
  VersionRecord record{};
  ASSERT_TRUE(ReadFourVersions(link, record)) << link.reason;
  for (size_t slot = 0; slot < 9; ++slot) {
    size_t length = GetParam().lengths[slot];
    EXPECT_EQ(VersionSlot(record, slot), config.versions[slot].substr(0, length))
        << "slot " << slot;
  }
  EXPECT_TRUE(std::all_of(record.begin() + 280, record.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(stick->State().versionTableRequests, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    AllLayouts, VersionTableLayouts,
    ::testing::Values(
        LayoutCase{sim::VersionLayout::Nine, true, {30, 30, 30, 30, 30, 30, 30, 30, 31}},
        LayoutCase{sim::VersionLayout::Nine, false, {30, 30, 30, 30, 30, 30, 30, 30, 31}},
        LayoutCase{sim::VersionLayout::Eight, true, {30, 30, 30, 30, 30, 30, 30, 30, 0}},
        LayoutCase{sim::VersionLayout::Four, true, {30, 30, 30, 30, 0, 0, 0, 0, 0}},
        LayoutCase{sim::VersionLayout::Four, false, {30, 30, 30, 30, 0, 0, 0, 0, 0}},
        LayoutCase{sim::VersionLayout::Short, true, {22, 22, 24, 24, 0, 0, 0, 0, 0}},
        LayoutCase{sim::VersionLayout::Short, false, {22, 22, 24, 24, 0, 0, 0, 0, 0}}),
    LayoutName);

TEST(VersionTableParser, ShortReplyAndFieldsWithoutSeparator) {
  // 120 raw bytes: the short layout. Field 0 is followed by a separator, field 1 is not, so
  // field 2 starts right after it.
  std::vector<uint8_t> packet(1, 0x39);
  auto field = [&](const std::string& text, size_t size) {
    for (size_t i = 0; i < size; ++i)
      packet.push_back(i < text.size() ? text[i] : 0);
  };
  field("FIRST", 22);
  packet.push_back(0);
  field("SECOND_FIELD_IS_FULL__", 22);
  field("THIRD", 24);
  packet.push_back(0);
  field("FOURTH_FIELD_IS_24_LONG!", 24);
  packet.resize(117, 0);
  VersionRecord record{};
  record.fill(0xEE);
  ParseVersionTable(packet.data(), packet.size(), 120, record);
  EXPECT_EQ(VersionSlot(record, 0), "FIRST");
  EXPECT_EQ(VersionSlot(record, 1), "SECOND_FIELD_IS_FULL__");
  EXPECT_EQ(VersionSlot(record, 2), "THIRD");
  EXPECT_EQ(VersionSlot(record, 3), "FOURTH_FIELD_IS_24_LONG!");
  for (size_t slot = 4; slot < 9; ++slot)
    EXPECT_EQ(VersionSlot(record, slot), "");

  // A reply that ends early reads zeros, never past its end.
  ParseVersionTable(packet.data(), 10, 300, record);
  EXPECT_EQ(VersionSlot(record, 0), "FIRST");
  EXPECT_EQ(VersionSlot(record, 8), "");
}

TEST_F(MakerCommands, VersionTableFailureZeroesTheRecord) {
  ASSERT_TRUE(AddFault("noreply:0x39"));
  VersionRecord record;
  record.fill(0x41);
  EXPECT_FALSE(ReadFourVersions(link, record));
  EXPECT_EQ(record, VersionRecord{});
  EXPECT_EQ(link.reason,
            std::string("Cannot get four software version from the mobile, Since ") + kNoAnswer);
}

TEST_F(MakerCommands, DownloadCheckStatuses) {
  EXPECT_TRUE(DownloadCheck(link, Block(config.firmwareRecord))) << link.reason;
  link.reason = "earlier";
  EXPECT_FALSE(DownloadCheck(link, Block({0x2C, 0x1A, 0xBE, 0x6E, 0x00})));  // another firmware
  EXPECT_EQ(link.reason, "Cannot pass the download check, Since main ver error");

  const std::pair<uint32_t, const char*> statuses[] = {
      {1, "Cannot pass the download check, Since public key error"},
      {2, "Cannot pass the download check, Since main ver error"},
      {3, "Cannot pass the download check, Since compare ver error"},
      {7, "earlier"},
  };
  for (const auto& [status, text] : statuses) {
    config.downloadCheckStatus = status;
    PlugIn();
    link.reason = "earlier";
    EXPECT_FALSE(DownloadCheck(link, Block(config.firmwareRecord)));
    EXPECT_EQ(link.reason, text) << "status " << status;
  }
  ASSERT_EQ(stick->State().downloadChecks.size(), 1u);
  EXPECT_EQ(stick->State().downloadChecks[0].block, config.firmwareRecord);
}

TEST_F(MakerCommands, DownloadCheckWithoutAnswer) {
  ASSERT_TRUE(AddFault("noreply:0x4B:3"));
  uint64_t start = clock.TickCountMs();
  EXPECT_FALSE(DownloadCheck(link, Block(config.firmwareRecord)));
  EXPECT_GE(clock.TickCountMs() - start, 3 * 10000u);
  EXPECT_EQ(link.reason, std::string("Cannot pass the download check, Since ") + kNoAnswer);
}

TEST_F(MakerCommands, ChallengeAnsweredRightAndWrong) {
  Challenge challenge{};
  ASSERT_TRUE(GetChallenge(link, challenge)) << link.reason;
  Md5Digest answer = Md5(challenge.data(), challenge.size());
  EXPECT_TRUE(PutChallengeAnswer(link, answer)) << link.reason;

  ASSERT_TRUE(GetChallenge(link, challenge));
  answer[0] ^= 0x01;
  link.reason = "earlier";
  EXPECT_FALSE(PutChallengeAnswer(link, answer));
  EXPECT_EQ(link.reason, "earlier");

  const auto& verdicts = stick->State().challenges;
  ASSERT_EQ(verdicts.size(), 2u);
  EXPECT_TRUE(verdicts[0].accepted);
  EXPECT_FALSE(verdicts[1].accepted);
}

TEST_F(MakerCommands, ChallengeBytesThatNeedStuffingAreReadRight) {
  config.challengeSeed = 1;
  PlugIn();
  int stuffed = 0;
  for (int i = 0; i < 200 && stuffed < 3; ++i) {
    Challenge challenge{};
    ASSERT_TRUE(GetChallenge(link, challenge)) << link.reason;
    ASSERT_EQ(sim::Bytes(challenge.begin(), challenge.end()), *stick->State().lastChallenge);
    Md5Digest answer = Md5(challenge.data(), challenge.size());
    ASSERT_TRUE(PutChallengeAnswer(link, answer));
    stuffed += std::any_of(challenge.begin(), challenge.end(),
                           [](uint8_t b) { return b == 0x7E || b == 0x7D; });
  }
  EXPECT_EQ(stuffed, 3);
}

TEST_F(MakerCommands, ChallengeWithoutAnswer) {
  ASSERT_TRUE(AddFault("noreply:0x4B:2"));
  Challenge challenge{};
  EXPECT_FALSE(GetChallenge(link, challenge));
  EXPECT_EQ(link.reason, std::string("Cannot get value from the mobile, Since ") + kNoAnswer);
  EXPECT_FALSE(PutChallengeAnswer(link, Md5Digest{}));
  EXPECT_EQ(link.reason, std::string("Cannot get value from the mobile, Since ") + kNoAnswer);
}

TEST_F(MakerCommands, AutorunAndFlagAA) {
  EXPECT_TRUE(SetFlagAA(link, 1));
  EXPECT_TRUE(SetAutorun(link, 0));
  EXPECT_EQ(stick->State().flagAAHistory, std::vector<uint8_t>{1});
  EXPECT_EQ(stick->State().autorunHistory, std::vector<uint8_t>{0});

  ASSERT_TRUE(AddFault("error:0x4B:0x13"));  // a reply that does not match
  link.reason = "earlier";
  EXPECT_FALSE(SetAutorun(link, 1));
  EXPECT_EQ(link.reason, "earlier");

  ASSERT_TRUE(AddFault("noreply:0x4B:2"));
  EXPECT_FALSE(SetAutorun(link, 1));
  EXPECT_EQ(link.reason, std::string("Cannot Set Autorun , Since ") + kNoAnswer);
  EXPECT_FALSE(SetFlagAA(link, 1));
  EXPECT_EQ(link.reason, kNoAnswer);  // the exchange's own text, no message of its own
}

}  // namespace
}  // namespace orbek

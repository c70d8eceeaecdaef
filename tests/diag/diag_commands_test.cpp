// The DIAG core commands against the simulated stick.
#include "diag/diag_commands.h"

#include <gtest/gtest.h>

#include "diag/nv_status.h"
#include "link/hdlc_framer.h"
#include "sim/stick_json.h"
#include "tests/support/manual_clock.h"
#include "tests/support/scripted_bus.h"
#include "tests/support/simulated_stick_test.h"

namespace orbek {
namespace {

constexpr const char* kNoAnswer = "Port Cannot Receive Desired Data from the Phone";

class DiagCommands : public testing::SimulatedStickTest {};

// The link against a scripted peer that answers each request at once, in DIAG framing.
class ScriptedDiag : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link.port.Open(3)); }
  void Answer(const testing::Bytes& packet) {
    FrameBuffer frame;
    std::copy(packet.begin(), packet.end(), frame.bytes.begin());
    frame.length = static_cast<uint32_t>(packet.size());
    BuildFrame(frame, LinkMode::Diag);
    peer.Answer(testing::Bytes(frame.bytes.begin(), frame.bytes.begin() + frame.length));
  }

  testing::ManualClock clock;
  testing::ScriptedBus peer{3};
  PhoneLink link;
};

// The subsystem poll: ready only when the reply holds a status byte and it is 0.
TEST_F(ScriptedDiag, SubsystemReadyOnlyWithAStatusOfZero) {
  const struct {
    testing::Bytes reply;
    bool ready;
  } kCases[] = {
      {{0x4B, 0x04, 0x0E, 0x00, 0x00}, true},
      {{0x4B, 0x04, 0x0E, 0x00, 0x01}, false},
      {{0x4B, 0x04, 0x0E, 0x00}, false},  // too short to hold the status
      {{0x4B, 0x04}, false},
  };
  for (const auto& entry : kCases) {
    Answer(entry.reply);
    EXPECT_EQ(PollSubsystemStatus(link), entry.ready) << entry.reply.size();
  }
}

// An answer given at once ends the reply wait after one polling step.
TEST_F(ScriptedDiag, NvItemsWaitInThirtyMillisecondStepsOthersInTen) {
  testing::Bytes nvReply(133, 0);
  nvReply[0] = 0x26;
  nvReply[1] = 0x16;  // item 22
  Answer(nvReply);
  NvItemData data{};
  uint16_t status = 0xFFFF;
  uint64_t start = clock.TickCountMs();
  ASSERT_TRUE(ReadNvItem(link, 22, data, status)) << link.reason;
  EXPECT_EQ(clock.TickCountMs() - start, 30u);

  nvReply[0] = 0x27;
  Answer(nvReply);
  start = clock.TickCountMs();
  ASSERT_TRUE(WriteNvItem(link, 22, data, status)) << link.reason;
  EXPECT_EQ(clock.TickCountMs() - start, 30u);

  Answer({0x01, 0xC3, 0xB2, 0xA1, 0x80});  // the ESN after them polls at the usual step
  uint32_t esn = 0;
  start = clock.TickCountMs();
  ASSERT_TRUE(ReadEsn(link, esn)) << link.reason;
  EXPECT_EQ(clock.TickCountMs() - start, 10u);
}

TEST_F(DiagCommands, ReadEsn) {
  uint32_t esn = 0;
  ASSERT_TRUE(ReadEsn(link, esn)) << link.reason;
  EXPECT_EQ(esn, 0x80A1B2C3u);

  ASSERT_TRUE(AddFault("noreply:0x01"));
  EXPECT_FALSE(ReadEsn(link, esn));
  EXPECT_EQ(esn, 0xFFFFFFFFu);
  EXPECT_EQ(link.reason, std::string("Cannot Get the ESN Number of the Phone, Since ") + kNoAnswer);
}

TEST_F(DiagCommands, ReadBuildId) {
  std::array<uint8_t, kBuildIdSize> buildId{};
  ASSERT_TRUE(ReadBuildId(link, buildId)) << link.reason;
  EXPECT_STREQ(reinterpret_cast<const char*>(buildId.data()), "R415C1-B01.2.0.17");

  ASSERT_TRUE(AddFault("badcrc:0x7C"));
  EXPECT_FALSE(ReadBuildId(link, buildId));
  EXPECT_TRUE(std::all_of(buildId.begin(), buildId.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(link.reason,
            "Cannot get software version from the mobile, Since the Received Data is Wrong with "
            "Wrong CRC Checksum");
}

TEST_F(DiagCommands, ModeChanges) {
  EXPECT_TRUE(GoOffline(link)) << link.reason;
  EXPECT_TRUE(stick->State().offline);
  EXPECT_TRUE(ChangeModeFour(link)) << link.reason;
  EXPECT_EQ(stick->State().lastModeChange, 4);

  ASSERT_TRUE(AddFault("error:0x29:0x14:2"));
  EXPECT_FALSE(GoOffline(link));
  EXPECT_EQ(link.reason,
            "Cannot Put the Phone Offline, Since The Request packet has invalid or inconsistent "
            "parameters");
  EXPECT_FALSE(ChangeModeFour(link));
  EXPECT_EQ(link.reason.rfind("Cannot Put the Phone Offline, Since ", 0), 0u);

  EXPECT_TRUE(ResetPhone(link)) << link.reason;
  Wait(config.resetLatencyMs);
  EXPECT_TRUE(stick->Ports().empty());
  EXPECT_FALSE(ResetPhone(link));
  EXPECT_EQ(link.reason,
            "Cannot Reset the Phone, Since Port Cannot Send desired data to the Phone");
}

TEST_F(DiagCommands, NvItemsRoundTripAndRefusals) {
  NvItemData data{};
  data.fill(0x7D);
  uint16_t status = 1;
  ASSERT_TRUE(WriteNvItem(link, 22, data, status)) << link.reason;
  EXPECT_EQ(status, kNvDone);
  NvItemData read{};
  ASSERT_TRUE(ReadNvItem(link, 22, read, status)) << link.reason;
  EXPECT_EQ(read, data);

  read.fill(0x55);
  EXPECT_FALSE(ReadNvItem(link, 1, read, status));
  EXPECT_EQ(status, kNvNotActive);
  EXPECT_EQ(read, NvItemData{});
  EXPECT_EQ(link.reason, "cannot read #1 NV Item, since Variable was not active");

  EXPECT_FALSE(WriteNvItem(link, 0, data, status));
  EXPECT_EQ(status, kNvReadOnly);
  EXPECT_EQ(link.reason,
            "Cannot Write #0 NVItem, Since Parameter is write-protected and thus read only");
}

TEST_F(DiagCommands, NvItemsWithoutAnswer) {
  ASSERT_TRUE(AddFault("noreply:0x27:3"));
  ASSERT_TRUE(AddFault("noreply:0x26:3"));
  NvItemData data{};
  data.fill(0x11);
  uint16_t status = 0;
  uint64_t start = clock.TickCountMs();
  EXPECT_FALSE(WriteNvItem(link, 65535, data, status));
  EXPECT_GE(clock.TickCountMs() - start, 3 * 2000u);
  EXPECT_EQ(status, kNvExchangeFailed);
  EXPECT_EQ(link.reason, std::string("Cannot write #65535 NVItem, Since ") + kNoAnswer);
  EXPECT_EQ(Requests("firmware", 0x27), 3u);

  EXPECT_FALSE(ReadNvItem(link, 22, data, status));
  EXPECT_EQ(status, kNvExchangeFailed);
  EXPECT_EQ(data, NvItemData{});
  EXPECT_EQ(link.reason, std::string("cannot read #22 NVItem, since ") + kNoAnswer);
}

TEST_F(DiagCommands, NvStatusNamesAndTexts) {
  EXPECT_STREQ(NvStatusName(5), "NV_NOTACTIVE_S");
  EXPECT_STREQ(NvStatusName(0xFFFF), "NV_RWOPFAILED_S");
  EXPECT_STREQ(NvStatusName(11), "Unknown status!");
  EXPECT_STREQ(NvStatusText(10), "address is not a valid allocation ");
  EXPECT_STREQ(NvStatusText(11), "");
}

TEST_F(DiagCommands, SwitchToDownloaderLeavesTheFirmware) {
  ASSERT_TRUE(AddFault("error:0x3A:0x13"));
  EXPECT_FALSE(SwitchToDownloader(link));
  EXPECT_EQ(link.reason, "Cannot Switch to Downloader, Since Bad command");

  EXPECT_TRUE(SwitchToDownloader(link)) << link.reason;
  Wait(config.resetLatencyMs);
  EXPECT_TRUE(stick->Ports().empty());
  Wait(3000);
  ASSERT_EQ(stick->Ports().size(), 1u);  // the boot loader shows only its diagnostic port
  EXPECT_EQ(stick->Mode(), sim::StickMode::DmssDownload);
}

TEST_F(DiagCommands, EnterDownloadPreliminaries) {
  EXPECT_TRUE(Command5C(link)) << link.reason;
  EXPECT_TRUE(SendSpc(link)) << link.reason;
  EXPECT_EQ(stick->State().spcReceived, std::vector<std::string>{ServiceProgrammingCode()});
  EXPECT_EQ(std::string(ServiceProgrammingCode()).size(), 6u);

  // The subsystem reports busy twice, then ready.
  EXPECT_FALSE(PollSubsystemStatus(link));
  EXPECT_FALSE(PollSubsystemStatus(link));
  EXPECT_TRUE(PollSubsystemStatus(link));
}

TEST_F(DiagCommands, CheckCommunicationFallsBackToTheHandshake) {
  config.diagPortStartsInAtMode = true;
  PlugIn();
  EXPECT_TRUE(CheckCommunication(link));
  EXPECT_EQ(Requests("at-mode", 0x01), 1u);  // the second ESN read was not sent
  EXPECT_EQ(stick->State().atCommands, std::vector<std::string>{"AT$QCDMG"});
}

TEST_F(DiagCommands, HandshakeLeavesTheReasonAlone) {
  config.diagPortStartsInAtMode = true;
  PlugIn();
  link.reason = "earlier";
  EXPECT_TRUE(DiagHandshake(link));
  EXPECT_EQ(link.reason, "earlier");
  EXPECT_FALSE(DiagHandshake(link));  // a DIAG port does not answer text
  EXPECT_EQ(link.reason, "earlier");
}

TEST_F(DiagCommands, CheckCommunicationFailsWithTheSecondEsnReason) {
  ASSERT_TRUE(AddFault("noreply:0x01:2"));
  EXPECT_FALSE(CheckCommunication(link));
  EXPECT_EQ(link.reason, std::string("Cannot communicate with the mobile, Since Cannot Get the ESN "
                                     "Number of the Phone, Since ") +
                             kNoAnswer);
  EXPECT_EQ(Requests("firmware", 0x01), 2u);
  EXPECT_TRUE(CheckCommunication(link));
}

}  // namespace
}  // namespace orbek

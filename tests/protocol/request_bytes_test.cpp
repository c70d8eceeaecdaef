// Every request of the DIAG, maker, DMSS download and streaming download protocols, byte for
// byte, with its attempts and time-out, against a peer that never answers, on the manual clock.
// The expected bytes and figures are written out here from the protocols' definitions; none is
// taken from the code's own constants.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "diag/diag_commands.h"
#include "diag/maker_commands.h"
#include "download/dmss.h"
#include "download/streaming.h"
#include "link/hdlc_framer.h"
#include "tests/support/manual_clock.h"
#include "tests/support/scripted_bus.h"

namespace orbek {
namespace {

using testing::Bytes;

// The packet inside a written frame: the leading flag (if any) and the trailing one dropped,
// unstuffed, the check value verified and dropped.
Bytes PacketOf(const Bytes& frame) {
  Bytes body(frame.begin() + (!frame.empty() && frame[0] == 0x7E ? 1 : 0), frame.end());
  if (!body.empty() && body.back() == 0x7E)
    body.pop_back();
  Bytes packet;
  for (size_t i = 0; i < body.size(); ++i)
    packet.push_back(body[i] == 0x7D && i + 1 < body.size() ? body[++i] ^ 0x20 : body[i]);
  EXPECT_TRUE(Fcs16Good(packet.data(), packet.size()));
  if (packet.size() >= 2)
    packet.resize(packet.size() - 2);
  return packet;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

struct Operation {
  const char* name;
  std::function<bool(PhoneLink&)> run;
  Bytes request;
  int attempts;
  uint32_t timeoutMs;
};

TEST(RequestBytes, EveryOperationSendsItsBytesWithItsAttemptsAndTimeOut) {
  const Bytes data128(128, 0xA5);
  const Bytes answer16(16, 0x3C);
  NvItemData nvData{};
  std::fill(nvData.begin(), nvData.end(), 0x5A);
  FirmwareVersionBlock block{};
  std::fill(block.begin(), block.end(), 0xA5);
  Md5Digest digest{};
  std::fill(digest.begin(), digest.end(), 0x3C);
  const Bytes table = {0x10, 0x20, 0x7E};  // a flag byte inside: stuffed, then unstuffed
  const Bytes header = {0xAA, 0xBB};
  const Bytes code = {0x01, 0x02, 0x03};
  uint32_t esn = 0;
  std::array<uint8_t, kBuildIdSize> buildId{};
  NvItemData read{};
  uint16_t status = 0;
  VersionRecord versions{};
  Challenge challenge{};
  FlashInfo info{};

  const Operation operations[] = {
      // DIAG core commands
      {"ReadEsn", [&](PhoneLink& l) { return ReadEsn(l, esn); }, {0x01}, 1, 300},
      {"ReadBuildId", [&](PhoneLink& l) { return ReadBuildId(l, buildId); }, {0x7C}, 1, 300},
      {"GoOffline", GoOffline, {0x29, 0x01, 0x00}, 1, 10000},
      {"ResetPhone", ResetPhone, {0x29, 0x02, 0x00}, 1, 10000},
      {"ChangeModeFour", ChangeModeFour, {0x29, 0x04, 0x00}, 1, 2000},
      {"ReadNvItem", [&](PhoneLink& l) { return ReadNvItem(l, 0x0116, read, status); },
       Concat({{0x26, 0x16, 0x01}, Bytes(128, 0x00), {0x00, 0x00}}), 3, 2000},
      {"WriteNvItem", [&](PhoneLink& l) { return WriteNvItem(l, 0x0116, nvData, status); },
       Concat({{0x27, 0x16, 0x01}, Bytes(128, 0x5A), {0x00, 0x00}}), 3, 2000},
      {"SwitchToDownloader", SwitchToDownloader, {0x3A}, 1, 20000},
      {"SendSpc", SendSpc, Concat({{0x41}, Text(ServiceProgrammingCode())}), 1, 2000},
      {"Command5C", Command5C, {0x5C, 0x01, 0x00, 0xC2, 0x01, 0x00}, 1, 2000},
      {"PollSubsystemStatus", PollSubsystemStatus, {0x4B, 0x04, 0x0E, 0x00}, 1, 2000},
      // The maker's commands
      {"ReadFourVersions",
       [&](PhoneLink& l) { return ReadFourVersions(l, versions); },
       {0x39},
       1,
       300},
      {"DownloadCheck", [&](PhoneLink& l) { return DownloadCheck(l, block); },
       Concat({{0x4B, 0xA3, 0x05, 0x00}, data128}), 3, 10000},
      {"GetChallenge",
       [&](PhoneLink& l) { return GetChallenge(l, challenge); },
       {0x4B, 0xA3, 0x06, 0x00},
       1,
       1000},
      {"PutChallengeAnswer", [&](PhoneLink& l) { return PutChallengeAnswer(l, digest); },
       Concat({{0x4B, 0xA3, 0x07, 0x00}, answer16}), 1, 1000},
      {"SetAutorun",
       [](PhoneLink& l) { return SetAutorun(l, 0x01); },
       {0x4B, 0xA1, 0x00, 0x00, 0x01},
       1,
       10000},
      {"SetFlagAA",
       [](PhoneLink& l) { return SetFlagAA(l, 0x00); },
       {0x4B, 0xAA, 0x00, 0x00, 0x00},
       1,
       10000},
      // DMSS download (big-endian fields)
      {"DloadNop", DloadNop, {0x06}, 1, 20000},
      {"DloadGetParams", [&](PhoneLink& l) { return DloadGetParams(l, info); }, {0x07}, 1, 20000},
      {"DloadWrite32",
       [&](PhoneLink& l) { return DloadWrite32(l, code.data(), 0x00800000, 3); },
       {0x0F, 0x00, 0x80, 0x00, 0x00, 0x00, 0x03, 0x01, 0x02, 0x03},
       3,
       5000},
      {"DloadGo",
       [](PhoneLink& l) { return DloadGo(l, 0x0080, 0x0000); },
       {0x05, 0x00, 0x80, 0x00, 0x00},
       3,
       2000},
      {"DloadReset", DloadReset, {0x0A}, 3, 2000},
      // Streaming download (little-endian fields)
      {"StreamHello", StreamHello,
       Concat({{0x01}, Text("QCOM fast download protocol host"), {0x02, 0x02, 0x03}}), 3, 5000},
      {"StreamSecurityMode", StreamSecurityMode, {0x17, 0x01}, 3, 2000},
      {"StreamPartitionTable",
       [&](PhoneLink& l) { return StreamPartitionTable(l, table.data(), 3); },
       {0x19, 0x01, 0x10, 0x20, 0x7E},
       1,
       100000},
      {"StreamOpenMultiImage (header)",
       [&](PhoneLink& l) { return StreamOpenMultiImage(l, 5, header.data(), 2); },
       {0x1B, 0x05, 0xAA, 0xBB},
       2,
       25000},
      {"StreamOpenMultiImage (no header)",
       [&](PhoneLink& l) { return StreamOpenMultiImage(l, 9, header.data(), 2); },
       {0x1B, 0x09},
       2,
       25000},
      {"StreamClose", StreamClose, {0x15}, 3, 20000},
      {"StreamNop", StreamNop, {0x09, 0x11}, 1, 5000},
      {"StreamReset", StreamReset, {0x0B}, 3, 20000},
      {"StreamResetAcknowledged", StreamResetAcknowledged, {0x0B}, 1, 20000},
  };

  for (const Operation& operation : operations) {
    SCOPED_TRACE(operation.name);
    testing::ManualClock clock;
    testing::ScriptedBus silent(3);
    PhoneLink link;
    ASSERT_TRUE(link.port.Open(3));
    const uint64_t start = clock.TickCountMs();
    EXPECT_FALSE(operation.run(link));
    const uint64_t elapsed = clock.TickCountMs() - start;

    ASSERT_EQ(silent.Writes().size(), static_cast<size_t>(operation.attempts));
    for (const Bytes& frame : silent.Writes())
      EXPECT_EQ(PacketOf(frame), operation.request);
    // Each attempt waits its whole time-out for an answer (give or take one polling step).
    const uint64_t waited = uint64_t{operation.timeoutMs} * operation.attempts;
    EXPECT_GE(elapsed, waited);
    EXPECT_LE(elapsed, waited + 30u * operation.attempts);
  }
}

// The stream write: one exchange, waiting up to 60 s with a growing polling step (2 ms, then
// 1 ms longer each time); no answer at all counts as written.
TEST(RequestBytes, StreamWriteSendsOnceAndWaitsSixtySeconds) {
  testing::ManualClock clock;
  testing::ScriptedBus silent(3);
  PhoneLink link;
  ASSERT_TRUE(link.port.Open(3));
  const Bytes data = {0x11, 0x7D, 0x22};
  const uint64_t start = clock.TickCountMs();
  EXPECT_TRUE(StreamWrite(link, data.data(), 0x00000400, 3));
  const uint64_t elapsed = clock.TickCountMs() - start;
  ASSERT_EQ(silent.Writes().size(), 1u);
  EXPECT_EQ(PacketOf(silent.Writes()[0]), (Bytes{0x07, 0x00, 0x04, 0x00, 0x00, 0x11, 0x7D, 0x22}));
  EXPECT_GE(elapsed, 60000u);
  // The steps 2, 3, 4, ... ms: the sum first past 60000 ms is reached after 345 of them.
  EXPECT_LE(elapsed, 60000u + 347u);
}

}  // namespace
}  // namespace orbek

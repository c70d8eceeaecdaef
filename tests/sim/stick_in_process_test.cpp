// The updater's own link talking to the simulated stick inside the test process, on a manual
// clock: every exchange, delay and re-enumeration is deterministic.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>

#include "link/phone_link.h"
#include "platform/registry.h"
#include "sim/in_process_bus.h"
#include "sim/port_publisher.h"
#include "sim/stick_json.h"
#include "tests/support/case_names.h"
#include "tests/support/registry_ports.h"
#include "tests/support/simulated_stick_test.h"

namespace orbek {
namespace {

using sim::Bytes;

constexpr int kDiag = 5;
constexpr int kModem = 6;
constexpr uint8_t kNvRead = 0x26;
constexpr uint8_t kNvWrite = 0x27;

Bytes NvPayload(uint16_t item, uint8_t fill) {
  Bytes payload(2 + sim::kNvItemSize + 2, fill);
  payload[0] = static_cast<uint8_t>(item);
  payload[1] = static_cast<uint8_t>(item >> 8);
  payload[2 + sim::kNvItemSize] = 0;  // status
  payload[3 + sim::kNvItemSize] = 0;
  return payload;
}

uint16_t NvStatus(const PhoneLink& link) {
  return static_cast<uint16_t>(link.ReplyBytes()[131] | link.ReplyBytes()[132] << 8);
}

class StickInProcess : public testing::SimulatedStickTest {
 protected:
  bool Ask(uint8_t command, const Bytes& payload = {}, uint8_t attempts = 1,
           uint32_t timeoutMs = 300) {
    link.Clear();
    link.mode = LinkMode::Diag;
    link.request.command = command;
    std::copy(payload.begin(), payload.end(), link.request.payload.begin());
    link.request.payloadLength = static_cast<uint32_t>(payload.size());
    return link.Exchange(attempts, timeoutMs);
  }

  Bytes Reply() const {
    return Bytes(link.ReplyBytes(), link.ReplyBytes() + link.ReplyLength() - 2);
  }

  uint32_t Requests(uint8_t command) const {
    return SimulatedStickTest::Requests("firmware", command);
  }
};

TEST_F(StickInProcess, AnswersIdentityRequests) {
  ASSERT_TRUE(Ask(0x01)) << link.reason;
  EXPECT_EQ(Reply(), (Bytes{0x01, 0xC3, 0xB2, 0xA1, 0x80}));

  ASSERT_TRUE(Ask(0x7C)) << link.reason;
  Bytes reply = Reply();
  ASSERT_GT(reply.size(), 12u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data()) + 12), "R415C1-B01.2.0.17");
}

TEST_F(StickInProcess, NvItemWrittenIsReadBack) {
  ASSERT_TRUE(Ask(kNvWrite, NvPayload(22, 0x7E), 3, 2000)) << link.reason;
  EXPECT_EQ(NvStatus(link), 0);
  ASSERT_TRUE(Ask(kNvRead, NvPayload(22, 0x00), 3, 2000)) << link.reason;
  EXPECT_EQ(NvStatus(link), 0);
  Bytes reply = Reply();
  EXPECT_TRUE(
      std::all_of(reply.begin() + 3, reply.begin() + 131, [](uint8_t b) { return b == 0x7E; }));
  std::string hex;
  for (size_t i = 0; i < sim::kNvItemSize; ++i)
    hex += "7e";
  EXPECT_EQ(sim::StickReport(*stick)["nv"]["22"]["data"], hex);
}

TEST_F(StickInProcess, InactiveReadOnlyAndUnknownNvItems) {
  ASSERT_TRUE(Ask(kNvRead, NvPayload(1, 0x55)));
  EXPECT_EQ(NvStatus(link), 5);
  Bytes reply = Reply();
  EXPECT_TRUE(
      std::all_of(reply.begin() + 3, reply.begin() + 131, [](uint8_t b) { return b == 0; }));

  ASSERT_TRUE(Ask(kNvWrite, NvPayload(1, 0x55)));
  EXPECT_EQ(NvStatus(link), 5);
  ASSERT_TRUE(Ask(kNvWrite, NvPayload(0, 0x55)));
  EXPECT_EQ(NvStatus(link), 7);
  ASSERT_TRUE(Ask(kNvRead, NvPayload(0, 0x00)));
  EXPECT_EQ(NvStatus(link), 0);  // read-only items still read

  ASSERT_TRUE(Ask(kNvRead, NvPayload(999, 0x00)));
  EXPECT_EQ(NvStatus(link), 5);  // never written: not active
  ASSERT_TRUE(Ask(kNvWrite, NvPayload(999, 0x31)));
  EXPECT_EQ(NvStatus(link), 0);
  ASSERT_TRUE(Ask(kNvRead, NvPayload(999, 0x00)));
  EXPECT_EQ(NvStatus(link), 0);
  EXPECT_EQ(Reply()[3], 0x31);
}

TEST_F(StickInProcess, RefusesUnknownCommandsAndBadRequests) {
  EXPECT_FALSE(Ask(0x55, {0x01, 0x7D}));
  EXPECT_EQ(link.reason, "Bad command");
  link.Clear();
  link.mode = LinkMode::RawDiag;
  PacketWriter packet = link.RawPacket();
  packet.Byte(0x55);
  packet.Byte(0x02);
  ASSERT_TRUE(link.Exchange(1, 300));
  const Bytes expected = {0x13, 0x55, 0x02};
  EXPECT_EQ(Bytes(link.ReplyBytes(), link.ReplyBytes() + 3), expected);

  EXPECT_FALSE(Ask(kNvRead, {0x16, 0x00, 0x00, 0x00}));
  EXPECT_EQ(link.reason, "The Request packet has an invalid length");
  EXPECT_FALSE(Ask(0x29, {0x09, 0x00}));
  EXPECT_EQ(link.reason, "The Request packet has invalid or inconsistent parameters");
  ASSERT_TRUE(Ask(0x29, {0x01, 0x00}));
  EXPECT_TRUE(stick->State().offline);
}

Bytes HostHello(uint8_t version, uint8_t compatible, uint8_t features) {
  const std::string magic = "QCOM fast download protocol host";
  Bytes hello{0x01};
  hello.insert(hello.end(), magic.begin(), magic.end());
  hello.insert(hello.end(), {version, compatible, features});
  return hello;
}

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// One request of the four protocols, and what a stick answers it. A valid request gets the
// device's answer, a malformed one the protocol's error; either is listed as a deviation when
// it is not what the updater sends.
struct ProtocolCase {
  const char* name;
  sim::StickMode mode;
  std::vector<Bytes> before;  // sent first, answers not checked
  Bytes request;
  Bytes reply;            // the whole answer, without its check value
  size_t compared = 0;    // when set, only the answer's first bytes are compared
  const char* deviation;  // the reason listed, or nullptr
  std::function<void(const sim::StickState&)> then = nullptr;
};

const Bytes kTableAB = {0x19, 0x01, 0xAA, 0xBB};
const Bytes kHelloReplyStart = {0x02, 'Q', 'C', 'O', 'M'};
const Bytes kOpenEfs = {0x1B, 0x09};

const ProtocolCase kProtocolCases[] = {
    // Streaming download, the flash programmer: errors are 0D and a 32-bit code.
    {"no-op with a 4-byte identifier",
     sim::StickMode::StreamingDownload,
     {},
     {0x09, 0x67, 0x45, 0x8B, 0x6B},
     {0x0A, 0x67, 0x45, 0x8B, 0x6B},
     0,
     "no-op other than 09 11"},
    {"the updater's no-op",
     sim::StickMode::StreamingDownload,
     {},
     {0x09, 0x11},
     {0x0A, 0x11},
     0,
     nullptr},
    {"no-op without identifier",
     sim::StickMode::StreamingDownload,
     {},
     {0x09},
     {0x0A},
     0,
     "no-op other than 09 11"},
    {"partition table equal, override 0",
     sim::StickMode::StreamingDownload,
     {kTableAB},
     {0x19, 0x00, 0xAA, 0xBB},
     {0x1A, 0x00},
     0,
     "partition table without override 1",
     [](const sim::StickState& s) {
       EXPECT_EQ(s.partitionTable, (Bytes{0xAA, 0xBB}));
     }},
    {"partition table differs, override 0",
     sim::StickMode::StreamingDownload,
     {kTableAB},
     {0x19, 0x00, 0xCC},
     {0x1A, 0x01},
     0,
     "partition table without override 1",
     [](const sim::StickState& s) {
       EXPECT_EQ(s.partitionTable, (Bytes{0xAA, 0xBB}));
     }},
    {"partition table on an empty flash, override 0",
     sim::StickMode::StreamingDownload,
     {},
     {0x19, 0x00, 0xAA},
     {0x1A, 0x01},
     0,
     "partition table without override 1",
     [](const sim::StickState& s) { EXPECT_TRUE(s.partitionTable.empty()); }},
    {"partition table, override 1",
     sim::StickMode::StreamingDownload,
     {},
     kTableAB,
     {0x1A, 0x00},
     0,
     nullptr,
     [](const sim::StickState& s) {
       EXPECT_EQ(s.partitionTable, (Bytes{0xAA, 0xBB}));
     }},
    {"partition table without a table",
     sim::StickMode::StreamingDownload,
     {},
     {0x19, 0x01},
     {0x1A, 0x02},
     0,
     nullptr},
    {"partition table without override byte",
     sim::StickMode::StreamingDownload,
     {},
     {0x19},
     {0x0D, 4, 0, 0, 0},
     0,
     nullptr},
    {"open of a headerless type with data",
     sim::StickMode::StreamingDownload,
     {},
     {0x1B, 0x0E, '0', ':', 'P', 'E', 'E', 'R', 0x00},
     {0x1C, 0x00},
     0,
     "open of an image type without header, with data",
     [](const sim::StickState& s) {
       ASSERT_TRUE(s.openImage.has_value());
       EXPECT_EQ(s.openImage->name, "type14");
     }},
    {"the updater's open",
     sim::StickMode::StreamingDownload,
     {},
     {0x1B, 0x03},
     {0x1C, 0x00},
     0,
     nullptr},
    {"security mode untrusted",
     sim::StickMode::StreamingDownload,
     {},
     {0x17, 0x00},
     {0x18},
     0,
     "security mode other than 17 01"},
    {"security mode trusted",
     sim::StickMode::StreamingDownload,
     {},
     {0x17, 0x01},
     {0x18},
     0,
     nullptr},
    {"security mode unknown",
     sim::StickMode::StreamingDownload,
     {},
     {0x17, 0x02},
     {0x0D, 19, 0, 0, 0},
     0,
     "security mode other than 17 01"},
    {"security mode without mode",
     sim::StickMode::StreamingDownload,
     {},
     {0x17},
     {0x0D, 4, 0, 0, 0},
     0,
     "security mode of another length than 2"},
    {"the updater's hello",
     sim::StickMode::StreamingDownload,
     {},
     HostHello(2, 2, 3),
     kHelloReplyStart,
     kHelloReplyStart.size(),
     nullptr},
    {"hello wanting fewer features",
     sim::StickMode::StreamingDownload,
     {},
     HostHello(2, 2, 1),
     kHelloReplyStart,
     kHelloReplyStart.size(),
     "hello not version 2, compatible 2, features 3"},
    {"hello of a newer host that still speaks 2",
     sim::StickMode::StreamingDownload,
     {},
     HostHello(3, 2, 3),
     kHelloReplyStart,
     kHelloReplyStart.size(),
     "hello not version 2, compatible 2, features 3"},
    {"hello of a host that no longer speaks 2",
     sim::StickMode::StreamingDownload,
     {},
     HostHello(3, 3, 3),
     {0x0D, 17, 0, 0, 0},
     0,
     "hello not version 2, compatible 2, features 3"},
    {"hello wanting an unknown feature",
     sim::StickMode::StreamingDownload,
     {},
     HostHello(2, 2, 7),
     {0x0D, 17, 0, 0, 0},
     0,
     "hello not version 2, compatible 2, features 3"},
    {"hello longer than 36 bytes",
     sim::StickMode::StreamingDownload,
     {},
     Concat(HostHello(2, 2, 3), {0x00}),
     kHelloReplyStart,
     kHelloReplyStart.size(),
     "hello longer than 36 bytes"},
    {"hello with another magic",
     sim::StickMode::StreamingDownload,
     {},
     Concat({0x01}, Bytes(35, 'x')),
     {0x0D, 5, 0, 0, 0},
     0,
     "hello without the host's magic"},
    {"refused hello keeps the open image",
     sim::StickMode::StreamingDownload,
     {kOpenEfs},
     {0x01},
     {0x0D, 4, 0, 0, 0},
     0,
     "hello shorter than 36 bytes",
     [](const sim::StickState& s) { EXPECT_TRUE(s.openImage.has_value()); }},
    {"close with payload",
     sim::StickMode::StreamingDownload,
     {kOpenEfs},
     {0x15, 0x00},
     {0x0D, 4, 0, 0, 0},
     0,
     "close with payload"},
    {"close without an open image",
     sim::StickMode::StreamingDownload,
     {},
     {0x15},
     {0x0D, 16, 0, 0, 0},
     0,
     nullptr},
    {"reset with payload",
     sim::StickMode::StreamingDownload,
     {},
     {0x0B, 0x00},
     {0x0D, 4, 0, 0, 0},
     0,
     "reset with payload"},
    {"power off", sim::StickMode::StreamingDownload, {}, {0x11}, {0x12}, 0, nullptr},
    {"unknown command",
     sim::StickMode::StreamingDownload,
     {},
     {0x30},
     {0x0D, 5, 0, 0, 0},
     0,
     nullptr},
    {"stream write without an open image",
     sim::StickMode::StreamingDownload,
     {},
     {0x07, 0x00, 0x00, 0x00, 0x00, 0xAA},
     {0x0D, 15, 0, 0, 0},
     0,
     nullptr},
    {"the host's probe block",
     sim::StickMode::StreamingDownload,
     {},
     {0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA},
     {0x08, 0xFF, 0xFF, 0xFF, 0xFF},
     0,
     nullptr},
    {"stream write at the end of an image's room",
     sim::StickMode::StreamingDownload,
     {kOpenEfs},
     Concat({0x07, 0x00, 0xFF, 0xFF, 0x03}, Bytes(256, 0x5A)),
     {0x08, 0x00, 0xFF, 0xFF, 0x03},
     0,
     nullptr},
    {"stream write past an image's room",
     sim::StickMode::StreamingDownload,
     {kOpenEfs},
     Concat({0x07, 0x01, 0xFF, 0xFF, 0x03}, Bytes(256, 0x5A)),
     {0x0D, 2, 0, 0, 0},
     0,
     nullptr},
    {"stream write of a block larger than the hello's",
     sim::StickMode::StreamingDownload,
     {kOpenEfs},
     Concat({0x07, 0x00, 0x00, 0x00, 0x00}, Bytes(1025, 0x5A)),
     {0x0D, 3, 0, 0, 0},
     0,
     "stream write of more than 1024 bytes"},
    // DMSS download, the boot loader: negative acknowledges are 03 and a 16-bit code.
    {"no-op", sim::StickMode::DmssDownload, {}, {0x06}, {0x02}, 0, nullptr},
    {"no-op with payload",
     sim::StickMode::DmssDownload,
     {},
     {0x06, 0x00},
     {0x03, 0x00, 0x03},
     0,
     "request with payload"},
    {"software version",
     sim::StickMode::DmssDownload,
     {},
     {0x0C},
     Concat({0x0D, 19}, Bytes{'B', 'o', 'o', 't', ' ', 'D', 'o', 'w', 'n', 'l', 'o', 'a', 'd', 'e',
                              'r', ' ', '1', '.', '0'}),
     0,
     nullptr},
    {"write with a 24-bit address, then go",
     sim::StickMode::DmssDownload,
     {{0x01, 0x80, 0x00, 0x00, 0x00, 0x02, 0xAA, 0xBB}},
     {0x05, 0x00, 0x80, 0x00, 0x00},
     {0x02},
     0,
     nullptr,
     [](const sim::StickState& s) {
       EXPECT_EQ(s.programmerImage, (Bytes{0xAA, 0xBB}));
     }},
    {"write32 cut short",
     sim::StickMode::DmssDownload,
     {},
     {0x0F, 0x00, 0x80},
     {0x03, 0x00, 0x04},
     0,
     nullptr},
    {"write32 outside RAM",
     sim::StickMode::DmssDownload,
     {},
     {0x0F, 0x00, 0x70, 0x00, 0x00, 0x00, 0x01, 0xAA},
     {0x03, 0x00, 0x02},
     0,
     nullptr},
    {"go of four bytes",
     sim::StickMode::DmssDownload,
     {},
     {0x05, 0x00, 0x80, 0x00},
     {0x03, 0x00, 0x03},
     0,
     "go of another length than 5"},
    {"go where nothing was uploaded",
     sim::StickMode::DmssDownload,
     {},
     {0x05, 0x00, 0x81, 0x00, 0x00},
     {0x03, 0x00, 0x02},
     0,
     "go not to 0x0080:0x0000"},
    {"unknown command", sim::StickMode::DmssDownload, {}, {0x30}, {0x03, 0x00, 0x06}, 0, nullptr},
    // DIAG, the firmware: refusals are a code followed by the request.
    {"mode change to offline analog",
     sim::StickMode::Firmware,
     {},
     {0x29, 0x00, 0x00},
     {0x29, 0x00, 0x00},
     0,
     "mode change to another mode than 1, 2, 4",
     [](const sim::StickState& s) { EXPECT_TRUE(s.offline); }},
    {"mode change to factory test",
     sim::StickMode::Firmware,
     {},
     {0x29, 0x03, 0x00},
     {0x29, 0x03, 0x00},
     0,
     "mode change to another mode than 1, 2, 4"},
    {"mode change to no mode",
     sim::StickMode::Firmware,
     {},
     {0x29, 0x09, 0x00},
     {0x14, 0x29, 0x09, 0x00},
     0,
     "mode change to another mode than 1, 2, 4"},
    {"mode change cut short",
     sim::StickMode::Firmware,
     {},
     {0x29, 0x01},
     {0x15, 0x29, 0x01},
     0,
     "mode change of another length than 3"},
    {"0x5C with other bytes",
     sim::StickMode::Firmware,
     {},
     {0x5C, 0x01, 0x00, 0xC2, 0x01, 0x01},
     {0x5C, 0x01, 0x00, 0xC2, 0x01, 0x01},
     0,
     "0x5C request not 5C 01 00 C2 01 00"},
    {"the updater's 0x5C",
     sim::StickMode::Firmware,
     {},
     {0x5C, 0x01, 0x00, 0xC2, 0x01, 0x00},
     {0x5C, 0x01, 0x00, 0xC2, 0x01, 0x00},
     0,
     nullptr},
    {"ESN request with payload",
     sim::StickMode::Firmware,
     {},
     {0x01, 0x00},
     {0x15, 0x01, 0x00},
     0,
     "ESN request with payload"},
    {"version table request with payload",
     sim::StickMode::Firmware,
     {},
     {0x39, 0x00},
     {0x15, 0x39, 0x00},
     0,
     "version table request with payload"},
    {"status poll with payload",
     sim::StickMode::Firmware,
     {},
     {0x4B, 0x04, 0x0E, 0x00, 0x00},
     {0x15, 0x4B, 0x04, 0x0E, 0x00, 0x00},
     0,
     "status poll with payload"},
    {"challenge request with payload",
     sim::StickMode::Firmware,
     {},
     {0x4B, 0xA3, 0x06, 0x00, 0x00},
     {0x15, 0x4B, 0xA3, 0x06, 0x00, 0x00},
     0,
     "challenge request with payload"},
    {"unknown command", sim::StickMode::Firmware, {}, {0x55, 0x02}, {0x13, 0x55, 0x02}, 0, nullptr},
};

class ProtocolVariants : public StickInProcess, public ::testing::WithParamInterface<ProtocolCase> {
 protected:
  // The answer without its check value; a refusal is an answer too.
  Bytes Send(sim::StickMode mode, const Bytes& request) {
    const LinkMode linkMode = mode == sim::StickMode::Firmware       ? LinkMode::RawDiag
                              : mode == sim::StickMode::DmssDownload ? LinkMode::Dload
                                                                     : LinkMode::Streaming;
    link.BeginRequest(linkMode, request[0]);
    if (linkMode == LinkMode::RawDiag) {
      link.Clear();
      link.RawPacket().Bytes(request.data(), request.size());
      if (!link.Exchange(1, 300))
        return {};
      // The firmware's frame as received: up to its end flag, unstuffed, without its check.
      Bytes frame(link.ReplyBytes(), link.ReplyBytes() + link.ReplyLength());
      frame.resize(std::find(frame.begin(), frame.end(), 0x7E) - frame.begin());
      frame.resize(UnstuffInPlace(frame.data(), 0, frame.size()));
      return frame.size() < 2 ? Bytes{} : Bytes(frame.begin(), frame.end() - 2);
    }
    link.Payload().Bytes(request.data() + 1, request.size() - 1);
    if (!link.Exchange(1, 300))
      return {};
    return Reply();
  }
};

void PrintTo(const ProtocolCase& c, std::ostream* out) {
  *out << c.name;
}

TEST_P(ProtocolVariants, AnsweredAsTheDeviceAnswersAndListedWhenNotTheUpdaters) {
  const ProtocolCase& c = GetParam();
  config.initialMode = c.mode;
  PlugIn();
  for (const Bytes& request : c.before)
    Send(c.mode, request);
  stick->State().deviations.clear();

  Bytes reply = Send(c.mode, c.request);
  if (c.compared != 0)
    reply.resize(std::min(reply.size(), c.compared));
  EXPECT_EQ(sim::HexOf(reply.data(), reply.size()), sim::HexOf(c.reply.data(), c.reply.size()));
  const auto& deviations = stick->State().deviations;
  if (c.deviation == nullptr) {
    testing::ExpectNoDeviations(stick->State());
  } else {
    ASSERT_EQ(deviations.size(), 1u);
    EXPECT_EQ(deviations[0].reason, c.deviation);
    EXPECT_EQ(deviations[0].request, c.request);
    EXPECT_EQ(sim::StickReport(*stick)["deviations"][0]["reason"], c.deviation);
  }
  if (c.then)
    c.then(stick->State());
}

INSTANTIATE_TEST_SUITE_P(FourProtocols, ProtocolVariants, ::testing::ValuesIn(kProtocolCases),
                         testing::CaseName<ProtocolCase>);

// The flash keeps only the pages written: a block at the end of each image type's 64 MiB costs
// a page each, and together the images hold no more than the stick's NAND.
TEST_F(StickInProcess, FlashHoldsImagesSparselyWithinItsSize) {
  config.initialMode = sim::StickMode::StreamingDownload;
  config.flashMiB = 1;  // 16 pages of 64 KiB
  PlugIn();
  auto stream = [&](uint8_t code, const Bytes& payload) {
    link.BeginRequest(LinkMode::Streaming, code);
    link.Payload().Bytes(payload.data(), payload.size());
    EXPECT_TRUE(link.Exchange(1, 300));
    return link.ReplyBytes()[0];
  };
  const Bytes block = Concat({0x00, 0xFF, 0xFF, 0x03}, Bytes(256, 0x5A));  // at 0x03FFFF00
  for (uint8_t type : {2, 3, 4, 5, 9, 10, 11, 12}) {
    stream(0x1B, {type});
    EXPECT_EQ(stream(0x07, block), 0x08);
    EXPECT_EQ(stream(0x15, {}), 0x16);
  }
  const sim::StickState& state = stick->State();
  ASSERT_EQ(state.flash.size(), 8u);
  for (const auto& [name, image] : state.flash) {
    EXPECT_EQ(image.Size(), 0x04000000u) << name;
    EXPECT_EQ(image.Pages(), 1u) << name;
  }

  // The seven other images take a page each; the EFS image opened again replaces its own, so it
  // may take the nine pages left.
  stream(0x1B, {9});
  for (uint8_t page = 0; page < 9; ++page)
    EXPECT_EQ(stream(0x07, Concat({0x00, 0x00, page, 0x00}, {0x01})), 0x08);
  EXPECT_EQ(stream(0x07, Concat({0x00, 0x00, 0x09, 0x00}, {0x01})), 0x0D);
  EXPECT_EQ(link.ReplyBytes()[1], 18);                                      // out of space
  EXPECT_EQ(stream(0x07, Concat({0x10, 0x00, 0x07, 0x00}, {0x02})), 0x08);  // a page it has
}

// The flash programmer's hello reply as the protocol lays it out: magic, versions, block size,
// flash base, flash id, window size, the sector count and that many 32-bit sector sizes, then
// the feature bits.
TEST_F(StickInProcess, HelloReplyListsItsSectors) {
  config.initialMode = sim::StickMode::StreamingDownload;
  PlugIn();
  const std::string magic = "QCOM fast download protocol host";
  link.BeginRequest(LinkMode::Streaming, 0x01);
  link.Payload().Bytes(reinterpret_cast<const uint8_t*>(magic.data()), magic.size());
  link.Payload().Bytes(Bytes{2, 2, 3}.data(), 3);
  ASSERT_TRUE(link.Exchange(1, 300));
  const Bytes reply(link.ReplyBytes(), link.ReplyBytes() + link.ReplyLength() - 2);
  ASSERT_GE(reply.size(), 45u);
  EXPECT_EQ(std::string(reply.begin() + 1, reply.begin() + 33), "QCOM fast download protocol targ");
  const size_t idLength = reply[43];
  const size_t sectorsAt = 44 + idLength + 2;
  ASSERT_GE(reply.size(), sectorsAt + 2);
  const size_t sectors = reply[sectorsAt] | reply[sectorsAt + 1] << 8;
  ASSERT_EQ(reply.size(), sectorsAt + 2 + 4 * sectors + 1);
  EXPECT_GT(sectors, 0u);
  EXPECT_EQ(reply.back(), 3);
}

// Older host tools read an NV item by its number alone; the firmware answers as for the whole
// record.
TEST_F(StickInProcess, NvReadOfTheItemNumberAloneIsAnswered) {
  ASSERT_TRUE(Ask(kNvRead, {0x16, 0x00}));
  ASSERT_EQ(link.ReplyLength(), 133u + 2);
  EXPECT_EQ(NvStatus(link), 0);
  EXPECT_EQ(Bytes(link.ReplyBytes() + 3, link.ReplyBytes() + 131),
            Bytes(config.nvItems.at(0x16).begin(), config.nvItems.at(0x16).end()));
  testing::ExpectNoDeviations(stick->State());
}

// A streamed image is kept at the size written.
TEST_F(StickInProcess, ClosedImageKeepsOnlyWhatWasWritten) {
  config.initialMode = sim::StickMode::StreamingDownload;
  PlugIn();
  link.BeginRequest(LinkMode::Streaming, 0x1B);
  link.Payload().Byte(0x09);
  ASSERT_TRUE(link.Exchange(1, 300));
  const Bytes block(1000, 0x5A);
  for (uint32_t address = 0; address < 7000; address += 1000) {
    link.BeginRequest(LinkMode::Streaming, 0x07);
    link.Payload().U32Le(address);
    link.Payload().Bytes(block.data(), block.size());
    ASSERT_TRUE(link.Exchange(1, 300));
  }
  link.BeginRequest(LinkMode::Streaming, 0x15);
  ASSERT_TRUE(link.Exchange(1, 300));
  const sim::FlashImage& efs = stick->State().flash.at("efs");
  EXPECT_EQ(efs.Size(), 7000u);
  EXPECT_EQ(efs.Pages(), 1u);
  EXPECT_TRUE(efs == Bytes(7000, 0x5A));
}

// A stick whose flash lacks a boot image (types 2 to 5) comes back in its boot loader after a
// reset or a re-plug: only its diagnostic port, DMSS answered, DIAG silent.
struct BrickCase {
  const char* name;
  // Streaming requests sent to the programmer before it is reset: {code, payload}.
  std::vector<std::pair<uint8_t, Bytes>> requests;
  bool comesBackInBootLoader;
};

const BrickCase kBrickCases[] = {
    {"nothing written", {}, false},
    {"partition table rewritten", {{0x19, {0x01, 0xAA, 0xBB}}}, true},
    {"amss opened, not closed", {{0x1B, {0x05, 0x01, 0x02}}}, true},
    {"amss opened and closed", {{0x1B, {0x05, 0x01, 0x02}}, {0x15, {}}}, false},
    {"efs opened, not closed (no boot image)", {{0x1B, {0x09}}}, false},
    {"partition table, then all four boot images",
     {{0x19, {0x01, 0xAA}},
      {0x1B, {0x02}},
      {0x15, {}},
      {0x1B, {0x03}},
      {0x15, {}},
      {0x1B, {0x04, 0x01}},
      {0x15, {}},
      {0x1B, {0x05, 0x01}},
      {0x15, {}}},
     false},
    {"partition table, then three boot images",
     {{0x19, {0x01, 0xAA}},
      {0x1B, {0x02}},
      {0x15, {}},
      {0x1B, {0x03}},
      {0x15, {}},
      {0x1B, {0x05, 0x01}},
      {0x15, {}}},
     true},
};

TEST_F(StickInProcess, IncompleteFlashStartsOnlyTheBootLoader) {
  for (const BrickCase& row : kBrickCases) {
    SCOPED_TRACE(row.name);
    config.initialMode = sim::StickMode::StreamingDownload;
    PlugIn();
    for (const auto& [code, payload] : row.requests) {
      link.BeginRequest(LinkMode::Streaming, code);
      link.Payload().Bytes(payload.data(), payload.size());
      ASSERT_TRUE(link.Exchange(1, 300));
    }
    link.BeginRequest(LinkMode::Streaming, 0x0B);  // the programmer's reset
    ASSERT_TRUE(link.Exchange(1, 300));
    Wait(60000);
    const sim::StickMode expected =
        row.comesBackInBootLoader ? sim::StickMode::DmssDownload : sim::StickMode::Firmware;
    EXPECT_EQ(stick->Mode(), expected);
    EXPECT_EQ(stick->Ports().size(), row.comesBackInBootLoader ? 1u : 2u);
    EXPECT_EQ(stick->State().bootLoaderBecause.rfind("the flash lacks ", 0) == 0,
              row.comesBackInBootLoader);
    // A re-plug by the person changes nothing: the flash is what it is.
    stick->Reenumerate(sim::StickMode::Firmware, 0, false, true);
    Wait(1000);
    EXPECT_EQ(stick->Mode(), expected);
  }
  // The bricked stick is silent to DIAG and answers the boot loader's no-op.
  link.port.Close();
  ASSERT_TRUE(link.port.Open(stick->Ports()[0].com));
  EXPECT_FALSE(Ask(0x00));
  link.BeginRequest(LinkMode::Dload, 0x06);
  ASSERT_TRUE(link.Exchange(1, 300));
  EXPECT_EQ(link.ReplyBytes()[0], 0x02);
}

TEST_F(StickInProcess, ConfiguredIncompleteFlashStartsInTheBootLoader) {
  config.flashIncomplete = true;
  PlugIn();
  EXPECT_EQ(stick->Mode(), sim::StickMode::DmssDownload);
  EXPECT_EQ(stick->State().bootLoaderBecause, "the flash lacks amss, oemsbl, qcsbl, qcsblhd");
  config.initialMode = sim::StickMode::StreamingDownload;  // a programmer still running
  PlugIn();
  EXPECT_EQ(stick->Mode(), sim::StickMode::StreamingDownload);
  const nlohmann::json report = sim::StickReport(*stick);
  EXPECT_EQ(report["boot"]["mode"], "streaming");
  EXPECT_EQ(report["boot"]["unfinishedImages"].size(), 4u);
  sim::StickConfig parsed;
  std::string error;
  ASSERT_TRUE(
      sim::ParseStickConfig(nlohmann::json::parse(R"({"flashIncomplete": true})"), parsed, error))
      << error;
  EXPECT_TRUE(parsed.flashIncomplete);
}

TEST_F(StickInProcess, FrameWithBadCheckGetsNoAnswer) {
  const uint8_t corrupted[] = {0x01, 0xF1, 0xE2, 0x7E};
  ASSERT_EQ(link.port.Write(corrupted, sizeof corrupted), sizeof corrupted);
  Wait(1000);
  EXPECT_EQ(link.port.BytesQueued(), 0u);
  EXPECT_EQ(Requests(0x01), 0u);
}

TEST_F(StickInProcess, DiagnosticPortInAtModeTakesOnlyText) {
  config.diagPortStartsInAtMode = true;
  PlugIn();
  EXPECT_FALSE(Ask(0x01));  // frames are noise to an AT port
  const std::string handshake = "at$qcdmg\r";
  ASSERT_EQ(link.port.Write(reinterpret_cast<const uint8_t*>(handshake.data()), 9), 9u);
  char answer[32] = {};
  uint32_t n = link.port.Read(reinterpret_cast<uint8_t*>(answer), 31);
  EXPECT_EQ(std::string(answer, n), "at$qcdmg\r\r\nOK\r\n");
  EXPECT_TRUE(Ask(0x01)) << link.reason;  // now it speaks DIAG

  ASSERT_EQ(link.port.Write(reinterpret_cast<const uint8_t*>(handshake.data()), 9), 9u);
  EXPECT_EQ(link.port.BytesQueued(), 0u);  // and takes text for noise
}

class ModemPort {
 public:
  bool Open() { return port.Open(kModem); }
  std::string Send(const std::string& command) {
    std::string line = command + "\r";
    port.Write(reinterpret_cast<const uint8_t*>(line.data()), static_cast<uint32_t>(line.size()));
    char answer[256] = {};
    uint32_t n = port.Read(reinterpret_cast<uint8_t*>(answer), sizeof answer);
    return std::string(answer, n);
  }
  SerialPort port;
};

TEST_F(StickInProcess, ModemPortAnswersAtCommands) {
  ModemPort modem;
  ASSERT_TRUE(modem.Open());
  EXPECT_EQ(modem.Send("AT+GMR"), "AT+GMR\r\r\nR415C1_FW_1.2.0.17\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Send("AT+QQQ"), "AT+QQQ\r\r\nERROR\r\n");
  EXPECT_EQ(modem.Send("at+yrst"), "at+yrst\r\r\nOK\r\n");
  EXPECT_EQ(stick->State().atCommands, (std::vector<std::string>{"AT+GMR", "AT+QQQ", "at+yrst"}));
  Wait(config.resetLatencyMs);
  EXPECT_TRUE(stick->Ports().empty());
}

class StickWithRegistry : public StickInProcess {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orbek-sim-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    setenv("ORBEK_ROOT", root.c_str(), 1);
    registry = std::make_unique<sim::RegistryPublisher>(root, sim::RegistryNames{});
    StickInProcess::SetUp();
    stick->AddListener(registry.get());
    registry->PortsChanged(stick->Ports());
  }

  void TearDown() override {
    stick->RemoveListener(registry.get());
    unsetenv("ORBEK_ROOT");
    std::filesystem::remove_all(root);
  }

  std::string root;
  std::unique_ptr<sim::RegistryPublisher> registry;
};

TEST_F(StickWithRegistry, ResetReenumeratesOnNewPorts) {
  EXPECT_EQ(testing::PublishedCom("qcusbser6k"), kDiag);
  EXPECT_EQ(testing::PublishedCom("qcusbmdm6k"), kModem);

  ASSERT_TRUE(Ask(0x29, {0x02, 0x00})) << link.reason;
  Wait(config.resetLatencyMs);  // the stick drops off the bus
  EXPECT_EQ(testing::PublishedCom("qcusbser6k"), 0);
  EXPECT_EQ(testing::PublishedCom("qcusbmdm6k"), 0);
  EXPECT_FALSE(Ask(0x01));
  EXPECT_EQ(link.reason, "Port Cannot Send desired data to the Phone");

  Wait(config.replugDelayMs - 100);
  EXPECT_EQ(testing::PublishedCom("qcusbser6k"), 0);
  Wait(100);
  EXPECT_EQ(testing::PublishedCom("qcusbser6k"), 7);
  EXPECT_EQ(testing::PublishedCom("qcusbmdm6k"), 8);

  link.port.Close();
  EXPECT_FALSE(link.port.Open(kDiag));
  ASSERT_TRUE(link.port.Open(7));
  EXPECT_TRUE(Ask(0x01)) << link.reason;
  auto modes = sim::StickReport(*stick)["modes"];
  ASSERT_EQ(modes.size(), 3u);
  EXPECT_EQ(modes[1]["mode"], "unplugged");
  EXPECT_EQ(modes[2]["mode"], "firmware");
}

// Each fault, as the host sees it.
TEST_F(StickInProcess, FaultNoReplyIsRetriedThrough) {
  ASSERT_TRUE(AddFault("noreply:0x01:1"));
  EXPECT_TRUE(Ask(0x01, {}, 2)) << link.reason;
  EXPECT_EQ(Requests(0x01), 2u);
}

TEST_F(StickInProcess, FaultErrorReply) {
  ASSERT_TRUE(AddFault("error:1:0x47"));
  EXPECT_FALSE(Ask(0x01));
  EXPECT_EQ(link.reason,
            "the correct Security Password has not yet been entered to unlock the phone");
  EXPECT_TRUE(Ask(0x01));
}

TEST_F(StickInProcess, FaultBadCrc) {
  ASSERT_TRUE(AddFault("badcrc:0x7C"));
  EXPECT_FALSE(Ask(0x7C));
  EXPECT_EQ(link.reason, "the Received Data is Wrong with Wrong CRC Checksum");
  EXPECT_TRUE(Ask(0x7C));
}

TEST_F(StickInProcess, FaultDelay) {
  ASSERT_TRUE(AddFault("delay:0x01:500"));
  EXPECT_FALSE(Ask(0x01, {}, 1, 300));
  EXPECT_EQ(link.reason, "Port Cannot Receive Desired Data from the Phone");
  Wait(500);
  EXPECT_GT(link.port.BytesQueued(), 0u);  // the late answer arrives; the next write drops it
  EXPECT_TRUE(Ask(0x01, {}, 1, 300)) << link.reason;

  ASSERT_TRUE(AddFault("delay:0x01:200"));
  uint64_t start = clock.TickCountMs();
  EXPECT_TRUE(Ask(0x01, {}, 1, 1000)) << link.reason;
  EXPECT_GE(clock.TickCountMs() - start, 200u);
}

TEST_F(StickInProcess, FaultSplitReply) {
  ASSERT_TRUE(AddFault("split:0x01"));
  // The first half stands still for longer than one polling step: the link takes it alone.
  EXPECT_FALSE(Ask(0x01));
  EXPECT_EQ(link.reason, "the Received Data is Wrong without End Flag(0x7e)");
  EXPECT_TRUE(Ask(0x01));
}

TEST_F(StickInProcess, FaultMergedReplies) {
  ASSERT_TRUE(AddFault("merge:0x01"));
  EXPECT_FALSE(Ask(0x01));
  EXPECT_EQ(link.reason, "Port Cannot Receive Desired Data from the Phone");
  EXPECT_FALSE(Ask(0x01));  // two DIAG frames in one read
  EXPECT_EQ(link.reason, "the Received Data is Wrong with Wrong CRC Checksum");
  EXPECT_TRUE(Ask(0x01));
}

TEST_F(StickInProcess, FaultUnplugAndReturn) {
  ASSERT_TRUE(AddFault("unplug:0x01:2:1000"));
  EXPECT_TRUE(Ask(0x01));
  EXPECT_FALSE(Ask(0x01));
  EXPECT_EQ(link.reason, "Port Cannot Receive Desired Data from the Phone");
  EXPECT_TRUE(stick->Ports().empty());
  Wait(1000);
  ASSERT_EQ(stick->Ports().size(), 2u);
  EXPECT_EQ(stick->Ports()[0].com, 7);
}

TEST_F(StickInProcess, FaultUnplugForGood) {
  ASSERT_TRUE(AddFault("unplug:0x01:1:never"));
  EXPECT_FALSE(Ask(0x01));
  Wait(3600000);
  EXPECT_TRUE(stick->Ports().empty());
  EXPECT_EQ(stick->Mode(), sim::StickMode::Unplugged);
}

TEST(FaultSpec, RefusesWhatItDoesNotUnderstand) {
  sim::FaultRule rule;
  std::string error;
  for (const char* bad : {"",
                          "noreply",
                          "noreply:0x100",
                          "noreply:1:0",
                          "error:1",
                          "delay:1:x",
                          "unplug:1",
                          "unplug:1:0",
                          "unplug:1:2:soon",
                          "split:1:2:3",
                          "melt:1",
                          "nvrefuse",
                          "nvrefuse:65536",
                          "nvrefuse:22:0",
                          "nvrefuse:22:1:2:3",
                          "noreply:0x01:",
                          "noreply: 1",
                          "noreply:+1",
                          "noreply:-0",
                          "noreply:0x",
                          "delay:1:1e3",
                          "error:0x17:0x0D:",
                          "unplug:1:2:"}) {
    EXPECT_FALSE(sim::ParseFault(bad, rule, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  ASSERT_TRUE(sim::ParseFault("noreply:010", rule, error));  // decimal, not octal
  EXPECT_EQ(rule.command, 10);
  ASSERT_TRUE(sim::ParseFault("error:0x3A:0x13:3", rule, error));
  EXPECT_EQ(rule.kind, sim::FaultKind::ErrorReply);
  EXPECT_EQ(rule.command, 0x3A);
  EXPECT_EQ(rule.errorCode, 0x13);
  EXPECT_EQ(rule.remaining, 3u);
  ASSERT_TRUE(sim::ParseFault("nvrefuse:4051:2:7", rule, error));
  EXPECT_EQ(rule.kind, sim::FaultKind::NvRefuse);
  EXPECT_EQ(rule.nvItem, 4051);
  EXPECT_EQ(rule.nvStatus, 7);
  EXPECT_EQ(rule.remaining, 2u);
}

TEST(StickConfigJson, ReadsFieldsAndRefusesNonsense) {
  sim::StickConfig config;
  std::string error;
  auto json = nlohmann::json::parse(R"({"esn": "0x12345678", "boardTag": "R415C1_CON",
      "nv": {"22": "0102"}, "inactiveNv": [7], "mode": "cdrom", "firstCom": 12, "renumber": false})");
  ASSERT_TRUE(sim::ParseStickConfig(json, config, error)) << error;
  EXPECT_EQ(config.esn, 0x12345678u);
  EXPECT_EQ(config.versions[8], "R415C1_CON");
  EXPECT_EQ(config.nvItems[22][1], 0x02);
  EXPECT_EQ(config.nvItems[22][2], 0x00);
  EXPECT_EQ(config.initialMode, sim::StickMode::CdromOnly);
  EXPECT_EQ(config.firstComNumber, 12);

  // Every field the documentation lists is taken.
  json = nlohmann::json::parse(R"({"versionLayout": "four", "versionSeparators": false,
      "subsystemBusyPolls": 7, "downloadCheckStatus": 2, "challengeSeed": 99,
      "diagPortInAtMode": true, "flashSizeCode": 3, "firmwareRecord": ")" +
                               std::string(256, 'a') + R"("})");
  ASSERT_TRUE(sim::ParseStickConfig(json, config, error)) << error;
  EXPECT_EQ(config.versionLayout, sim::VersionLayout::Four);
  EXPECT_FALSE(config.versionSeparators);
  EXPECT_EQ(config.subsystemBusyPolls, 7u);
  EXPECT_EQ(config.downloadCheckStatus, 2u);
  EXPECT_EQ(config.challengeSeed, 99u);
  EXPECT_TRUE(config.diagPortStartsInAtMode);
  EXPECT_EQ(config.flashSizeCode, 3);
  EXPECT_EQ(config.firmwareRecord, sim::Bytes(128, 0xAA));

  for (const char* bad :
       {R"({"esn": -1})", R"({"nv": {"22": "0"}})", R"({"mode": "sleep"})", R"({"colour": "red"})",
        R"({"versions": [1]})", R"([])", R"({"versionLayout": "seven"})",
        R"({"firmwareRecord": "00"})", R"({"flashSizeCode": 256})"}) {
    EXPECT_FALSE(sim::ParseStickConfig(nlohmann::json::parse(bad), config, error)) << bad;
  }
}

}  // namespace
}  // namespace orbek

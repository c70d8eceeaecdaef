// The updater's own link talking to the simulated stick inside the test process, on a manual
// clock: every exchange, delay and re-enumeration is deterministic.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "link/phone_link.h"
#include "platform/registry.h"
#include "sim/in_process_bus.h"
#include "sim/port_publisher.h"
#include "sim/stick_json.h"
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

// The stick as a strict oracle: a known request whose fixed bytes are wrong gets the protocol's
// error reply and is listed as a bad request; the right bytes are answered and not listed.
TEST_F(StickInProcess, RequestsWithWrongFixedBytesAreRefusedAndListed) {
  const struct {
    sim::StickMode mode;
    LinkMode linkMode;
    Bytes request;
    Bytes replyStart;  // of the answer to the request
  } cases[] = {
      // Streaming: error replies 0x0D with the code (17 incompatible features, 4 end of packet,
      // 5 invalid command).
      {sim::StickMode::StreamingDownload,
       LinkMode::Streaming,
       {0x01, 'Q', 'C', 'O', 'M', ' ', 'f', 'a', 's', 't', ' ', 'd', 'o', 'w', 'n', 'l', 'o', 'a',
        'd',  ' ', 'p', 'r', 'o', 't', 'o', 'c', 'o', 'l', ' ', 'h', 'o', 's', 't', 2,   2,   1},
       {0x0D, 17, 0, 0, 0}},
      {sim::StickMode::StreamingDownload, LinkMode::Streaming, {0x17, 0x02}, {0x0D, 4, 0, 0, 0}},
      {sim::StickMode::StreamingDownload, LinkMode::Streaming, {0x19, 0x00, 0xAB}, {0x0D, 5}},
      {sim::StickMode::StreamingDownload, LinkMode::Streaming, {0x09, 0x10}, {0x0D, 4}},
      {sim::StickMode::StreamingDownload, LinkMode::Streaming, {0x15, 0x00}, {0x0D, 4}},
      {sim::StickMode::StreamingDownload, LinkMode::Streaming, {0x1B, 0x03, 0x99}, {0x0D, 4}},
      // DMSS: negative acknowledges 0x03 with the code (3 bad length, 2 bad address).
      {sim::StickMode::DmssDownload, LinkMode::Dload, {0x06, 0x00}, {0x03, 0x00, 0x03}},
      {sim::StickMode::DmssDownload,
       LinkMode::Dload,
       {0x05, 0x00, 0x81, 0x00, 0x00},
       {0x03, 0x00, 0x02}},
      // Firmware: DIAG refusals 0x14 (parameters) and 0x15 (length) with the request.
      {sim::StickMode::Firmware, LinkMode::Diag, {0x5C, 0x01, 0x00, 0xC2, 0x01, 0x01}, {0x14}},
      {sim::StickMode::Firmware, LinkMode::Diag, {0x4B, 0xA3, 0x06, 0x00, 0x00}, {0x15}},
      {sim::StickMode::Firmware, LinkMode::Diag, {0x4B, 0x04, 0x0E, 0x00, 0x00}, {0x15}},
      {sim::StickMode::Firmware, LinkMode::Diag, {0x39, 0x00}, {0x15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::HexOf(c.request.data(), c.request.size()));
    config.initialMode = c.mode;
    PlugIn();
    link.BeginRequest(c.linkMode == LinkMode::Diag ? LinkMode::RawDiag : c.linkMode, c.request[0]);
    if (c.linkMode == LinkMode::Diag) {
      link.Clear();
      link.RawPacket().Bytes(c.request.data(), c.request.size());
    } else {
      link.AppendBytes(c.request.data() + 1, c.request.size() - 1);
    }
    ASSERT_TRUE(link.Exchange(1, 300));
    EXPECT_EQ(Bytes(link.ReplyBytes(), link.ReplyBytes() + c.replyStart.size()), c.replyStart);
    ASSERT_EQ(stick->State().badRequests.size(), 1u);
    EXPECT_EQ(stick->State().badRequests[0].request, c.request);
  }

  // The bytes the protocols define are answered and not listed.
  config.initialMode = sim::StickMode::StreamingDownload;
  PlugIn();
  const Bytes good[] = {{0x17, 0x01}, {0x09, 0x11}, {0x19, 0x01, 0xAB}, {0x1B, 0x03}, {0x15}};
  for (const Bytes& request : good) {
    link.BeginRequest(LinkMode::Streaming, request[0]);
    link.AppendBytes(request.data() + 1, request.size() - 1);
    ASSERT_TRUE(link.Exchange(1, 300));
    EXPECT_NE(link.ReplyBytes()[0], 0x0D) << sim::HexOf(request.data(), request.size());
  }
  EXPECT_TRUE(stick->State().badRequests.empty());
  EXPECT_TRUE(sim::StickReport(*stick)["badRequests"].empty());
}

// The flash programmer's hello reply as the protocol lays it out: magic, versions, block size,
// flash base, flash id, window size, the sector count and that many 32-bit sector sizes, then
// the feature bits.
TEST_F(StickInProcess, HelloReplyListsItsSectors) {
  config.initialMode = sim::StickMode::StreamingDownload;
  PlugIn();
  const std::string magic = "QCOM fast download protocol host";
  link.BeginRequest(LinkMode::Streaming, 0x01);
  link.AppendBytes(reinterpret_cast<const uint8_t*>(magic.data()), magic.size());
  link.AppendBytes(Bytes{2, 2, 3}.data(), 3);
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
  EXPECT_TRUE(stick->State().badRequests.empty());
}

// A streamed image is kept at the size written, not in the buffer it grew in.
TEST_F(StickInProcess, ClosedImageKeepsOnlyWhatWasWritten) {
  config.initialMode = sim::StickMode::StreamingDownload;
  PlugIn();
  link.BeginRequest(LinkMode::Streaming, 0x1B);
  link.AppendByte(0x09);
  ASSERT_TRUE(link.Exchange(1, 300));
  const Bytes block(1000, 0x5A);
  for (uint32_t address = 0; address < 7000; address += 1000) {
    link.BeginRequest(LinkMode::Streaming, 0x07);
    link.AppendLe32(address);
    link.AppendBytes(block.data(), block.size());
    ASSERT_TRUE(link.Exchange(1, 300));
  }
  link.BeginRequest(LinkMode::Streaming, 0x15);
  ASSERT_TRUE(link.Exchange(1, 300));
  const Bytes& efs = stick->State().flash.at("efs");
  EXPECT_EQ(efs.size(), 7000u);
  EXPECT_EQ(efs.capacity(), 7000u);
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
      link.AppendBytes(payload.data(), payload.size());
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

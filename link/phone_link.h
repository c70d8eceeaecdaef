// The protocol object of one line's diagnostic port. One object speaks DIAG, the DMSS download
// protocol and the streaming download protocol, chosen per exchange by `mode`.
//
// Every protocol operation follows one pattern: Clear(), fill in `request` and `mode`, run
// Exchange() with the operation's attempts and time-out, and on failure ComposeReason() with
// the operation's own message, whose ", Since %s" takes the reason of the layer below.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/hdlc_framer.h"
#include "link/link_mode.h"
#include "link/serial_port.h"

namespace orbek {

inline constexpr uint32_t kBulkCapacity = 1024;
// A command's fields and data: 1024 data bytes and a short header at most.
inline constexpr uint32_t kRequestPayloadCapacity = 1040;

inline constexpr const char* kTextCannotSend = "Port Cannot Send desired data to the Phone";
inline constexpr const char* kTextCannotReceive = "Port Cannot Receive Desired Data from the Phone";
inline constexpr const char* kTextReplyTooLarge = "The Received Data from the Phone is Too Large";
inline constexpr const char* kTextRequestTooLarge = "The Request packet is too large to send";

inline constexpr uint32_t kReplyPollStepMs = 10;

// Fields of the request; each operation writes those it needs and leaves the others as the
// previous operation left them.
struct LinkRequest {
  uint8_t command = 0;
  std::array<uint8_t, kRequestPayloadCapacity> payload{};
  uint32_t payloadLength = 0;
  bool overflowed = false;  // a field did not fit; the exchange refuses to send
  // The step of the reply wait; BeginRequest sets the usual 10 ms, and a protocol whose
  // commands answer slowly asks for more.
  uint32_t pollStepMs = kReplyPollStepMs;
};

inline constexpr size_t kNvItemDataSize = 128;
inline constexpr size_t kBuildIdSize = 256;
inline constexpr size_t kVersionRecordSize = 302;

// Fields the mode's reply parser extracts; each protocol fills those of its replies.
struct LinkReply {
  uint8_t code = 0;
  // DIAG
  uint32_t esn = 0;
  uint16_t mode = 0;
  uint16_t nvItem = 0;
  std::array<uint8_t, kNvItemDataSize> nvData{};
  uint16_t nvStatus = 0;
  std::array<uint8_t, 3> buildIdFlags{};
  uint32_t buildIdWords[2] = {0, 0};
  std::array<uint8_t, kBuildIdSize> buildId{};
  std::array<uint8_t, kVersionRecordSize> versionRecord{};
  uint8_t subsystemStatus = 0;
  // DMSS download
  uint16_t nakCode = 0;
  std::array<uint8_t, 10> parameters{};  // bytes 0 to 9 of the parameter reply
};

class PhoneLink;

// Writes the packet of `link.request` for one mode.
using PacketBuilder = void (*)(const PhoneLink& link, PacketWriter& packet);
// Checks and extracts a decoded reply; false with `link.reason` set when it is not acceptable.
using ReplyParser = bool (*)(PhoneLink& link);

// The reason text of a DIAG error reply, by its first byte.
const char* DiagErrorText(uint8_t firstByte);

class PhoneLink {
 public:
  PhoneLink();
  PhoneLink(const PhoneLink&) = delete;
  PhoneLink& operator=(const PhoneLink&) = delete;

  // Empties `scratch`, the bulk payload and the frame and reply buffers. Leaves `reason`,
  // `request` and `reply` as they are.
  void Clear();

  // Sends the request up to `attempts` times (an 8-bit count; 0 sends nothing and succeeds),
  // waiting up to `timeoutMs` for each reply.
  bool Exchange(uint8_t attempts, uint32_t timeoutMs);

  // The stream write: one attempt, keeping earlier replies queued, waiting up to 60 s with a
  // growing step. No answer counts as written. Leaves "time is %d(ms)" in `reason`.
  bool StreamExchange();

  // reason = `messageFormat` with its %s filled with the current reason.
  void ComposeReason(const char* messageFormat);
  // Exchange(); on failure ComposeReason(failureFormat) when one is given.
  bool ExchangeOrCompose(uint8_t attempts, uint32_t timeoutMs, const char* failureFormat);

  // Clear(), then a request of `mode` with the command code alone; Payload() writes its fields
  // (a field that does not fit makes the exchange refuse to send), SetBulk its bulk data (false
  // when longer than kBulkCapacity).
  void BeginRequest(LinkMode requestMode, uint8_t command);
  PacketWriter Payload() {
    return PacketWriter(request.payload.data(), request.payload.size(), request.payloadLength,
                        request.overflowed);
  }
  bool SetBulk(const uint8_t* bytes, size_t count);

  // Hooks of the protocols above the link. Without a builder, a packet is the command code
  // followed by the request payload and then the bulk payload; without a parser, every decoded
  // reply is accepted.
  void SetPacketBuilder(LinkMode mode, PacketBuilder builder);
  void SetReplyParser(LinkMode mode, ReplyParser parser);
  void SetStreamErrorText(StreamErrorTextFn errorText) { streamErrorText = errorText; }

  // For RawDiag: the caller writes the packet itself after Clear().
  PacketWriter RawPacket() { return PacketWriter(frame); }

  // After a successful decode: the packet with its two check bytes. After a RawDiag exchange:
  // the bytes exactly as received.
  const uint8_t* ReplyBytes() const { return replyBuffer.bytes.data(); }
  uint16_t ReplyLength() const { return replyBuffer.length; }
  // Block addresses acknowledged by the last stream write's reply.
  const std::vector<uint32_t>& AcknowledgedBlocks() const { return acknowledgedBlocks; }

  SerialPort port;
  LinkRequest request;
  LinkReply reply;
  std::string reason;
  std::string scratch;
  LinkMode mode = LinkMode::Diag;
  std::array<uint8_t, kBulkCapacity> bulk{};
  uint32_t bulkLength = 0;
  uint16_t rawReplyLength = 0;
  // Where the reply parser reads next in the decoded reply; 0 after decoding.
  uint16_t readPosition = 0;

 private:
  bool PrepareFrame();
  bool AwaitReply(uint32_t timeoutMs, uint32_t& queued);
  bool ReadReply(uint32_t count);
  bool DecodeAndParse();

  FrameBuffer frame;
  ReplyBuffer replyBuffer;
  std::vector<uint32_t> acknowledgedBlocks;
  std::array<PacketBuilder, 3> packetBuilders{};
  std::array<ReplyParser, 3> replyParsers{};
  StreamErrorTextFn streamErrorText = nullptr;
};

}  // namespace orbek

#include "link/phone_link.h"

#include <algorithm>

#include "link/frame_trace.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr uint32_t kStreamWaitLimitMs = 60000;
constexpr uint32_t kStreamFirstStepMs = 2;

size_t ModeIndex(LinkMode mode) {
  return static_cast<size_t>(mode);
}
bool HasHooks(LinkMode mode) {
  return ModeIndex(mode) < 3;
}

void BuildCommandAndPayload(const PhoneLink& link, PacketWriter& packet) {
  packet.Byte(link.request.command);
  packet.Bytes(link.request.payload.data(),
               std::min<size_t>(link.request.payloadLength, link.request.payload.size()));
  packet.Bytes(link.bulk.data(), std::min<size_t>(link.bulkLength, link.bulk.size()));
}

}  // namespace

const char* DiagErrorText(uint8_t firstByte) {
  switch (firstByte) {
    case 0x13:
      return "Bad command";
    case 0x14:
      return "The Request packet has invalid or inconsistent parameters";
    case 0x15:
      return "The Request packet has an invalid length";
    case 0x18:
      return "the DMSS isn't in a particular mode";
    case 0x42:
      return "the correct SPC has not yet been entered to unlock service programming";
    case 0x47:
      return "the correct Security Password has not yet been entered to unlock the phone";
    default:
      return "unknow reason";
  }
}

PhoneLink::PhoneLink() {
  Clear();
}

void PhoneLink::Clear() {
  scratch.clear();
  bulk.fill(0);
  bulkLength = 0;
  replyBuffer = ReplyBuffer{};
  readPosition = 0;
  frame.bytes.fill(0);
  frame.length = 0;
  frame.overflowed = false;
  acknowledgedBlocks.clear();
}

void PhoneLink::ComposeReason(const char* messageFormat) {
  scratch = Format(messageFormat, reason.c_str());
  reason = scratch;
}

bool PhoneLink::ExchangeOrCompose(uint8_t attempts, uint32_t timeoutMs, const char* failureFormat) {
  if (Exchange(attempts, timeoutMs))
    return true;
  if (failureFormat != nullptr)
    ComposeReason(failureFormat);
  return false;
}

void PhoneLink::BeginRequest(LinkMode requestMode, uint8_t command) {
  Clear();
  mode = requestMode;
  request.command = command;
  request.payloadLength = 0;
  request.overflowed = false;
  request.pollStepMs = kReplyPollStepMs;
}

bool PhoneLink::SetBulk(const uint8_t* bytes, size_t count) {
  if (count > bulk.size())
    return false;
  std::copy_n(bytes, count, bulk.begin());
  bulkLength = static_cast<uint32_t>(count);
  return true;
}

void PhoneLink::SetPacketBuilder(LinkMode forMode, PacketBuilder builder) {
  if (HasHooks(forMode))
    packetBuilders[ModeIndex(forMode)] = builder;
}

void PhoneLink::SetReplyParser(LinkMode forMode, ReplyParser parser) {
  if (HasHooks(forMode))
    replyParsers[ModeIndex(forMode)] = parser;
}

bool PhoneLink::PrepareFrame() {
  if (mode != LinkMode::RawDiag) {
    frame.length = 0;
    frame.overflowed = false;
    PacketWriter packet(frame);
    PacketBuilder builder = HasHooks(mode) ? packetBuilders[ModeIndex(mode)] : nullptr;
    (builder != nullptr ? builder : BuildCommandAndPayload)(*this, packet);
  }
  if (request.overflowed || BuildFrame(frame, mode) == 0) {
    reason = kTextRequestTooLarge;
    return false;
  }
  return true;
}

// Polls the input count until it is non-zero and stops growing over one step, or until more
// than `timeoutMs` have passed. `queued` is the last first reading.
bool PhoneLink::AwaitReply(uint32_t timeoutMs, uint32_t& queued) {
  const uint32_t step = request.pollStepMs;
  const uint64_t start = platform::TickCountMs();
  for (;;) {
    uint32_t first = port.BytesQueued();
    platform::SleepMs(step);
    uint32_t second = port.BytesQueued();
    queued = first;
    if (first >= 1 && second == first)
      return true;
    if (platform::TickCountMs() - start > timeoutMs)
      return first >= 1;
  }
}

bool PhoneLink::ReadReply(uint32_t count) {
  replyBuffer.length = static_cast<uint16_t>(
      port.Read(replyBuffer.bytes.data(), std::min<uint32_t>(count, kMaxReplyLength)));
  TraceFrame(TraceDirection::Received, mode, replyBuffer.bytes.data(), replyBuffer.length);
  return replyBuffer.length > 0;
}

bool PhoneLink::DecodeAndParse() {
  if (!DecodeReply(replyBuffer, mode, rawReplyLength, reason))
    return false;
  readPosition = 0;
  reply.code = replyBuffer.length > 0 ? replyBuffer.bytes[0] : 0;
  if (!HasHooks(mode))
    return false;
  ReplyParser parser = replyParsers[ModeIndex(mode)];
  return parser == nullptr || parser(*this);
}

bool PhoneLink::Exchange(uint8_t attempts, uint32_t timeoutMs) {
  if (!PrepareFrame())
    return false;
  if (attempts == 0)
    return true;
  for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
    TraceFrame(TraceDirection::Sent, mode, frame.bytes.data(), frame.length);
    if (port.Write(frame.bytes.data(), frame.length) < frame.length) {
      reason = kTextCannotSend;
      continue;
    }
    uint32_t queued = 0;
    if (!AwaitReply(timeoutMs, queued)) {
      reason = kTextCannotReceive;
      continue;
    }
    if (queued > kMaxReplyLength) {
      reason = kTextReplyTooLarge;
      continue;
    }
    if (!ReadReply(queued)) {
      reason = kTextCannotReceive;
      continue;
    }
    if (mode == LinkMode::RawDiag) {
      rawReplyLength = replyBuffer.length;
      return true;
    }
    if (mode == LinkMode::Diag && replyBuffer.bytes[0] != request.command) {
      reason = DiagErrorText(replyBuffer.bytes[0]);
      continue;
    }
    if (DecodeAndParse())
      return true;
  }
  return false;
}

bool PhoneLink::StreamExchange() {
  mode = LinkMode::Streaming;
  if (!PrepareFrame())
    return false;
  TraceFrame(TraceDirection::Sent, mode, frame.bytes.data(), frame.length);
  if (port.WriteKeepInput(frame.bytes.data(), frame.length) < frame.length) {
    reason = kTextCannotSend;
    return false;
  }
  const uint64_t start = platform::TickCountMs();
  uint32_t step = kStreamFirstStepMs;
  uint32_t queued = 0;
  bool answered = false;
  uint64_t elapsed = 0;
  do {
    platform::SleepMs(step);
    uint32_t first = port.BytesQueued();
    platform::SleepMs(step);
    uint32_t second = port.BytesQueued();
    elapsed = platform::TickCountMs() - start;
    if (first >= 1 && first == second) {
      queued = first;
      answered = true;
      break;
    }
    ++step;
  } while (elapsed <= kStreamWaitLimitMs);
  reason = Format("time is %d(ms)", static_cast<int>(elapsed));
  if (!answered)
    return true;
  if (!ReadReply(queued))
    return true;
  return DecodeStreamReplies(replyBuffer, reason, streamErrorText, &acknowledgedBlocks);
}

}  // namespace orbek

#include "link/hdlc_framer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"

namespace orbek {
namespace {

constexpr uint16_t kFcsPreset = 0xFFFF;
constexpr uint16_t kFcsGoodResidue = 0xF0B8;
constexpr uint8_t kStreamAck = 0x08;
constexpr uint8_t kStreamError = 0x0D;

constexpr std::array<uint16_t, 256> MakeFcsTable() {
  std::array<uint16_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint16_t value = static_cast<uint16_t>(byte);
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1) != 0 ? static_cast<uint16_t>((value >> 1) ^ 0x8408)
                               : static_cast<uint16_t>(value >> 1);
    }
    table[byte] = value;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kFcsTable = MakeFcsTable();

uint16_t RunFcs(uint16_t fcs, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    fcs = static_cast<uint16_t>((fcs >> 8) ^ kFcsTable[(fcs ^ bytes[i]) & 0xFF]);
  }
  return fcs;
}

bool HasOpeningFlag(LinkMode mode) {
  return mode == LinkMode::Dload || mode == LinkMode::Streaming;
}

// Boot-loader replies may arrive without their opening flag; put one in front.
void EnsureOpeningFlag(ReplyBuffer& reply) {
  if (reply.length == 0 || reply.bytes[0] == kHdlcFlag)
    return;
  size_t length = std::min<size_t>(reply.length, kMaxReplyLength);
  std::memmove(reply.bytes.data() + 1, reply.bytes.data(), length);
  reply.bytes[0] = kHdlcFlag;
  reply.length = static_cast<uint16_t>(length + 1);
}

}  // namespace

void PacketWriter::Byte(uint8_t value) {
  if (length_ >= capacity_) {
    overflowed_ = true;
    return;
  }
  bytes_[length_++] = value;
}

void PacketWriter::Bytes(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i)
    Byte(bytes[i]);
}

void PacketWriter::U16Le(uint16_t value) {
  uint8_t bytes[2];
  PutLe16(bytes, value);
  Bytes(bytes, sizeof bytes);
}

void PacketWriter::U32Le(uint32_t value) {
  uint8_t bytes[4];
  PutLe32(bytes, value);
  Bytes(bytes, sizeof bytes);
}

void PacketWriter::U16Be(uint16_t value) {
  uint8_t bytes[2];
  PutBe16(bytes, value);
  Bytes(bytes, sizeof bytes);
}

void PacketWriter::U32Be(uint32_t value) {
  uint8_t bytes[4];
  PutBe32(bytes, value);
  Bytes(bytes, sizeof bytes);
}

void AppendStuffed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t byte = bytes[i];
    if (byte == kHdlcFlag || byte == kHdlcEscape) {
      out.push_back(kHdlcEscape);
      out.push_back(static_cast<uint8_t>(byte ^ kHdlcEscapeXor));
    } else {
      out.push_back(byte);
    }
  }
}

size_t UnstuffInPlace(uint8_t* bytes, size_t begin, size_t end) {
  size_t out = begin;
  for (size_t in = begin; in < end; ++in) {
    if (bytes[in] == kHdlcEscape) {
      if (++in == end)
        break;
      bytes[out++] = static_cast<uint8_t>(bytes[in] ^ kHdlcEscapeXor);
    } else {
      bytes[out++] = bytes[in];
    }
  }
  return out;
}

uint16_t ComputeFcs16(const uint8_t* bytes, size_t count) {
  return static_cast<uint16_t>(~RunFcs(kFcsPreset, bytes, count));
}

size_t Fcs16(uint8_t* bytes, size_t count) {
  uint16_t fcs = ComputeFcs16(bytes, count);
  PutLe16(std::span(bytes + count, 2), fcs);  // low byte first
  return count + 2;
}

bool Fcs16Good(const uint8_t* bytes, size_t count) {
  return count >= 2 && RunFcs(kFcsPreset, bytes, count) == kFcsGoodResidue;
}

uint32_t BuildFrame(FrameBuffer& frame, LinkMode mode) {
  if (frame.overflowed || frame.length > kMaxPacketLength)
    return 0;
  size_t packetLength = Fcs16(frame.bytes.data(), frame.length);

  std::vector<uint8_t> stuffed;
  stuffed.reserve(2 * packetLength);
  AppendStuffed(frame.bytes.data(), packetLength, stuffed);

  size_t out = 0;
  if (HasOpeningFlag(mode))
    frame.bytes[out++] = kHdlcFlag;
  std::copy(stuffed.begin(), stuffed.end(), frame.bytes.begin() + static_cast<ptrdiff_t>(out));
  out += stuffed.size();
  frame.bytes[out++] = kHdlcFlag;
  frame.length = static_cast<uint32_t>(out);
  return frame.length;
}

bool DecodeReply(ReplyBuffer& reply, LinkMode mode, uint16_t& rawReplyLength, std::string& reason) {
  reply.length = static_cast<uint16_t>(std::min<size_t>(reply.length, kMaxReplyLength));
  rawReplyLength = reply.length;
  size_t start = 0;
  if (HasOpeningFlag(mode)) {
    EnsureOpeningFlag(reply);
    start = 1;
  }
  size_t end = UnstuffInPlace(reply.bytes.data(), start, reply.length);
  if (end == start || reply.bytes[end - 1] != kHdlcFlag) {
    reason = kTextNoEndFlag;
    return false;
  }
  size_t packetLength = end - 1 - start;
  std::memmove(reply.bytes.data(), reply.bytes.data() + start, packetLength);
  reply.length = static_cast<uint16_t>(packetLength);
  if (!Fcs16Good(reply.bytes.data(), packetLength)) {
    reason = kTextBadReplyCrc;
    return false;
  }
  return true;
}

bool DecodeStreamReplies(ReplyBuffer& reply, std::string& reason, StreamErrorTextFn errorText,
                         std::vector<uint32_t>* acknowledged) {
  reply.length = static_cast<uint16_t>(std::min<size_t>(reply.length, kMaxReplyLength));
  EnsureOpeningFlag(reply);
  const uint8_t* bytes = reply.bytes.data();
  std::vector<uint8_t> frame;
  size_t opening = 0;
  bool open = false;
  for (size_t i = 0; i < reply.length; ++i) {
    if (bytes[i] != kHdlcFlag)
      continue;
    if (!open) {
      open = true;
      opening = i;
      continue;
    }
    open = false;
    frame.assign(bytes + opening + 1, bytes + i);
    frame.resize(UnstuffInPlace(frame.data(), 0, frame.size()));
    if (!Fcs16Good(frame.data(), frame.size())) {
      reason = kTextBadStreamCrc;
      return false;
    }
    size_t packetLength = frame.size() - 2;
    if (packetLength == 0)
      continue;
    size_t fieldLength = packetLength - 1;  // bytes after the reply code
    if (frame[0] == kStreamError) {
      uint32_t code = Le32(std::span<const uint8_t>(frame.data() + 1, fieldLength));
      reason = errorText != nullptr ? errorText(code) : std::string("Illegal reason");
      return false;
    }
    if (frame[0] == kStreamAck && acknowledged != nullptr) {
      acknowledged->push_back(Le32(std::span<const uint8_t>(frame.data() + 1, fieldLength)));
    }
  }
  return true;
}

}  // namespace orbek

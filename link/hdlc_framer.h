// Async-HDLC framing of the stick's packet protocols: the FCS-16 of RFC 1662, byte stuffing of
// 0x7E and 0x7D, and the 0x7E flags.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/link_mode.h"

namespace orbek {

inline constexpr uint8_t kHdlcFlag = 0x7E;
inline constexpr uint8_t kHdlcEscape = 0x7D;
inline constexpr uint8_t kHdlcEscapeXor = 0x20;

// Longest packet (check bytes excluded) a frame can carry: packet and check bytes fill the
// 2048 bytes the stick's protocols are written for.
inline constexpr size_t kMaxPacketLength = 2046;
// Room for the worst case of stuffing: every packet and check byte doubled, plus two flags.
inline constexpr size_t kFrameCapacity = 2 * (kMaxPacketLength + 2) + 2;
// Largest reply accepted from the stick.
inline constexpr size_t kMaxReplyLength = 1024;

inline constexpr const char* kTextNoEndFlag = "the Received Data is Wrong without End Flag(0x7e)";
inline constexpr const char* kTextBadReplyCrc =
    "the Received Data is Wrong with Wrong CRC Checksum";
inline constexpr const char* kTextBadStreamCrc = "the Received Data is Wrong with CRC Checksum";

// The request is built into it from offset 0, then framed in place.
struct FrameBuffer {
  std::array<uint8_t, kFrameCapacity> bytes{};
  uint32_t length = 0;
  bool overflowed = false;  // a packet writer was refused bytes beyond kMaxPacketLength
};

// Appends a packet's fields (bytes, little- and big-endian numbers) to a buffer of `capacity`
// bytes holding `length`, never past its capacity: a field that does not fit is dropped and
// `overflowed` set. The one writer of requests: a frame's packet and a request's payload.
class PacketWriter {
 public:
  PacketWriter(uint8_t* bytes, size_t capacity, uint32_t& length, bool& overflowed)
      : bytes_(bytes), capacity_(capacity), length_(length), overflowed_(overflowed) {}
  explicit PacketWriter(FrameBuffer& frame)
      : PacketWriter(frame.bytes.data(), kMaxPacketLength, frame.length, frame.overflowed) {}
  void Byte(uint8_t value);
  void Bytes(const uint8_t* bytes, size_t count);
  void U16Le(uint16_t value);
  void U32Le(uint32_t value);
  void U16Be(uint16_t value);
  void U32Be(uint32_t value);

 private:
  uint8_t* bytes_;
  size_t capacity_;
  uint32_t& length_;
  bool& overflowed_;
};

// Received bytes, then (after decoding) the packet with its check bytes. One spare byte takes
// the opening flag that decoding may insert.
struct ReplyBuffer {
  std::array<uint8_t, kMaxReplyLength + 1> bytes{};
  uint16_t length = 0;
};

// The FCS-16 of `count` bytes (CRC-16/X.25: reflected 0x8408, preset 0xFFFF, complemented).
uint16_t ComputeFcs16(const uint8_t* bytes, size_t count);
// Appends the two check bytes (low byte first) after `count` bytes; returns count + 2.
size_t Fcs16(uint8_t* bytes, size_t count);
// True when data and check bytes together (at least the two check bytes) leave the good
// residue 0xF0B8.
bool Fcs16Good(const uint8_t* bytes, size_t count);

// Appends `count` bytes to `out` with 0x7E and 0x7D stuffed (0x7D, byte ^ 0x20).
void AppendStuffed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out);
// Unstuffs bytes[begin, end) onto itself from `begin`; returns the new end. A trailing escape
// with nothing after it is dropped.
size_t UnstuffInPlace(uint8_t* bytes, size_t begin, size_t end);

// Turns the packet in frame.bytes[0, frame.length) into its frame in place: check bytes,
// stuffing, a closing flag and, for Dload and Streaming, an opening flag. Returns the frame
// length, or 0 (frame untouched) when the packet overflowed kMaxPacketLength.
uint32_t BuildFrame(FrameBuffer& frame, LinkMode mode);

// Decodes one received frame in place: afterwards reply holds the packet with its check bytes.
// `rawReplyLength` gets the received count first. False with `reason` set on a missing end
// flag or a bad check.
bool DecodeReply(ReplyBuffer& reply, LinkMode mode, uint16_t& rawReplyLength, std::string& reason);

// Text of a streaming error code, supplied by the streaming protocol.
using StreamErrorTextFn = std::string (*)(uint32_t code);

// Decodes the reply to a stream write, which may hold several frames: acknowledgements (0x08)
// pass and their block addresses are appended to `acknowledged` when given, an error reply
// (0x0D) fails with its text, a bad check fails at once, other frames are ignored.
bool DecodeStreamReplies(ReplyBuffer& reply, std::string& reason, StreamErrorTextFn errorText,
                         std::vector<uint32_t>* acknowledged = nullptr);

}  // namespace orbek

#include "diag/diag_reply.h"

#include <algorithm>
#include <cstring>

#include "diag/command_codes.h"
#include "platform/byte_order.h"

namespace orbek {
namespace {

using namespace diag;

// The decoded reply without its check bytes; reads past its end give zero.
class ReplyBytes {
 public:
  ReplyBytes(const uint8_t* bytes, size_t length) : bytes_(bytes), length_(length) {}
  uint8_t At(size_t offset) const { return offset < length_ ? bytes_[offset] : 0; }
  uint16_t Le16(size_t offset) const { return orbek::Le16(From(offset)); }
  uint32_t Le32(size_t offset) const { return orbek::Le32(From(offset)); }
  template <size_t N>
  void Copy(size_t offset, std::array<uint8_t, N>& out) const {
    for (size_t i = 0; i < N; ++i)
      out[i] = At(offset + i);
  }

 private:
  std::span<const uint8_t> From(size_t offset) const {
    return offset < length_ ? std::span(bytes_ + offset, length_ - offset)
                            : std::span<const uint8_t>();
  }

  const uint8_t* bytes_;
  size_t length_;
};

struct VersionLayout {
  size_t fieldCount;
  size_t sizes[kVersionSlots];
};

const VersionLayout& LayoutForRawLength(uint16_t rawLength) {
  static const VersionLayout kNine = {9, {30, 30, 30, 30, 30, 30, 30, 30, 31}};
  static const VersionLayout kEight = {8, {30, 30, 30, 30, 30, 30, 30, 30}};
  static const VersionLayout kFour = {4, {30, 30, 30, 30}};
  static const VersionLayout kShort = {4, {22, 22, 24, 24}};
  if (rawLength > 290)
    return kNine;
  if (rawLength > 240)
    return kEight;
  if (rawLength > 130)
    return kFour;
  return kShort;
}

}  // namespace

void ParseVersionTable(const uint8_t* packet, size_t packetLength, uint16_t rawReplyLength,
                       std::array<uint8_t, kVersionRecordSize>& record) {
  ReplyBytes reply(packet, packetLength);
  const VersionLayout& layout = LayoutForRawLength(rawReplyLength);
  record.fill(0);
  size_t position = 1;  // after the reply code
  for (size_t field = 0; field < layout.fieldCount; ++field) {
    uint8_t* slot = record.data() + field * kVersionSlotSize;
    // The text ends at its first zero; the slot's remaining bytes stay zero.
    for (size_t i = 0; i < layout.sizes[field]; ++i) {
      uint8_t byte = reply.At(position + i);
      if (byte == 0)
        break;
      slot[i] = byte;
    }
    position += layout.sizes[field];
    if (reply.At(position) == 0)
      ++position;  // a separator
  }
}

void BeginDiagRequest(PhoneLink& link, uint8_t command) {
  link.BeginRequest(LinkMode::Diag, command);
  link.SetReplyParser(LinkMode::Diag, ParseDiagReply);
}

bool ParseDiagReply(PhoneLink& link) {
  const size_t length = link.ReplyLength() >= 2 ? link.ReplyLength() - 2u : 0u;
  ReplyBytes reply(link.ReplyBytes(), length);
  LinkReply& out = link.reply;
  switch (out.code) {
    case kEsn:
      out.esn = reply.Le32(1);
      break;
    case kModeChange:
      out.mode = reply.Le16(1);
      break;
    case kNvRead:
    case kNvWrite:
      out.nvItem = reply.Le16(1);
      reply.Copy(3, out.nvData);
      out.nvStatus = reply.Le16(3 + kNvItemDataSize);
      break;
    case kExtendedBuildId:
      out.buildIdFlags = {reply.At(1), reply.At(2), reply.At(3)};
      out.buildIdWords[0] = reply.Le32(4);
      out.buildIdWords[1] = reply.Le32(8);
      reply.Copy(12, out.buildId);
      break;
    case kVersionTable:
      ParseVersionTable(link.ReplyBytes(), length, link.rawReplyLength, out.versionRecord);
      break;
    case kSubsystem:
      out.subsystemStatus = reply.At(4);
      break;
    default:
      break;  // accepted without fields
  }
  return true;
}

}  // namespace orbek

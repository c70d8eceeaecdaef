#include "download/dmss.h"

#include <cstring>

#include "platform/byte_order.h"

namespace orbek {
namespace {

constexpr uint8_t kAcknowledge = 0x02;
constexpr uint8_t kNegativeAcknowledge = 0x03;
constexpr uint8_t kGo = 0x05;
constexpr uint8_t kNop = 0x06;
constexpr uint8_t kParameterRequest = 0x07;
constexpr uint8_t kParameters = 0x08;
constexpr uint8_t kReset = 0x0A;
constexpr uint8_t kWrite32 = 0x0F;

constexpr uint8_t kSizeCodeLimit = 7;
constexpr uint8_t kByte9Limit = 35;

uint32_t FlashSizeFor(uint8_t sizeCode) {
  switch (sizeCode) {
    case 1:
      return 0x80000;
    case 2:
    case 3:
      return 0x100000;
    case 4:
      return 0x200000;
    case 5:
      return 0x400000;
    case 6:
      return 0x800000;
    default:
      return 0;
  }
}

void BeginDmssRequest(PhoneLink& link, uint8_t command) {
  link.BeginRequest(LinkMode::Dload, command);
  link.SetReplyParser(LinkMode::Dload, ParseDmssReply);
}

void PutLe32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::array<uint8_t, FlashInfo::kRecordSize> FlashInfo::Record() const {
  std::array<uint8_t, kRecordSize> record{};
  record[0] = replyCode;
  record[1] = protocolVersion;
  record[2] = lowestCompatibleVersion;
  PutLe32(&record[4], bytes3To6);
  record[8] = byte7;
  record[9] = byte8;
  PutLe32(&record[12], flashSize);
  record[16] = byte9;
  record[17] = flashSizeCode;
  std::memcpy(&record[18], firstName.data(), kNameSize);
  std::memcpy(&record[18 + kNameSize], secondName.data(), kNameSize);
  return record;
}

const char* DmssErrorText(uint16_t code) {
  static const char* const kTexts[] = {
      "",
      "invalid frame check sequence",
      "destination address is invalid",
      "operation length is invalid",
      "packet was too short for this cmd",
      "packet was too long for phone's buffer",
      "packet command code was unknown",
      "operation did not succeed",
      "intelligent ID code was wrong",
      "programming voltage out of spec",
      "readback verify did not match",
      "not permitted without unlock",
      "invalid security code",
  };
  return code < sizeof kTexts / sizeof kTexts[0] ? kTexts[code] : "";
}

bool ParseDmssReply(PhoneLink& link) {
  const size_t length = link.ReplyLength() >= 2 ? link.ReplyLength() - 2u : 0u;
  const std::span<const uint8_t> reply(link.ReplyBytes(), length);
  auto at = [&](size_t offset) -> uint8_t { return offset < length ? reply[offset] : 0; };
  switch (link.reply.code) {
    case kNegativeAcknowledge:
      link.reply.nakCode = Be16(reply, 1);
      link.reason = DmssErrorText(link.reply.nakCode);
      return false;
    case kParameters:
      for (size_t i = 0; i < link.reply.parameters.size(); ++i)
        link.reply.parameters[i] = at(i);
      return true;
    default:
      return true;
  }
}

bool BootLoaderAnswersNop(PhoneLink& link, uint32_t timeoutMs) {
  BeginDmssRequest(link, kNop);
  // A reply that decodes but is no acknowledge fails with whatever reason the link held.
  return link.Exchange(1, timeoutMs) && link.reply.code == kAcknowledge;
}

bool DloadNop(PhoneLink& link) {
  if (BootLoaderAnswersNop(link, 20000))
    return true;
  link.ComposeReason("Cannot Do No Operation, Since %s");
  return false;
}

bool DloadGetParams(PhoneLink& link, FlashInfo& info) {
  BeginDmssRequest(link, kParameterRequest);
  if (!link.ExchangeOrCompose(1, 20000, "Cannot Get flash Information, Since %s")) {
    info = FlashInfo{};
    return false;
  }
  const auto& reply = link.reply.parameters;
  info = FlashInfo{};
  info.replyCode = reply[0];
  info.protocolVersion = reply[1];
  info.lowestCompatibleVersion = reply[2];
  info.bytes3To6 = Le32(std::span(reply).subspan(3));
  info.byte7 = reply[7];
  info.byte8 = reply[8];
  info.flashSizeCode = reply[8] < kSizeCodeLimit ? reply[8] : 0;
  info.flashSize = FlashSizeFor(info.flashSizeCode);
  info.byte9 = reply[9] < kByte9Limit ? reply[9] : 0;
  std::strcpy(info.firstName.data(), "Unknown");
  std::strcpy(info.secondName.data(), "Unknown");
  return true;
}

bool DloadWrite32(PhoneLink& link, const uint8_t* data, uint32_t address, uint16_t length) {
  BeginDmssRequest(link, kWrite32);
  link.Payload().U32Be(address);
  link.Payload().U16Be(length);
  link.Payload().Bytes(data, length);
  return link.ExchangeOrCompose(3, 5000, "Write a Block of Data to Memory Failed, Since %s");
}

bool DloadGo(PhoneLink& link, uint16_t segment, uint16_t offset) {
  BeginDmssRequest(link, kGo);
  link.Payload().U16Be(segment);
  link.Payload().U16Be(offset);
  return link.ExchangeOrCompose(3, 2000, "Cannot begin execution at an address, Since %s");
}

bool DloadReset(PhoneLink& link) {
  BeginDmssRequest(link, kReset);
  return link.ExchangeOrCompose(3, 2000, "Cannot Reset the Phone, Since %s");
}

}  // namespace orbek

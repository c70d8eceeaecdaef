#include "download/streaming.h"

#include <cstring>

#include "platform/byte_order.h"

namespace orbek {
namespace {

constexpr uint8_t kHello = 0x01;
constexpr uint8_t kHelloReply = 0x02;
constexpr uint8_t kStreamWrite = 0x07;
constexpr uint8_t kNop = 0x09;
constexpr uint8_t kNopReply = 0x0A;
constexpr uint8_t kReset = 0x0B;
constexpr uint8_t kResetAcknowledge = 0x0C;
constexpr uint8_t kError = 0x0D;
constexpr uint8_t kClose = 0x15;
constexpr uint8_t kSecurityMode = 0x17;
constexpr uint8_t kPartitionTable = 0x19;
constexpr uint8_t kOpenMultiImage = 0x1B;

constexpr char kHelloMagic[] = "QCOM fast download protocol host";
constexpr uint8_t kProtocolVersion = 2;
constexpr uint8_t kCompatibleVersion = 2;
constexpr uint8_t kFeatureBits = 3;

void BeginStreamingRequest(PhoneLink& link, uint8_t command) {
  link.BeginRequest(LinkMode::Streaming, command);
  link.SetReplyParser(LinkMode::Streaming, ParseStreamingReply);
  link.SetStreamErrorText(StreamingErrorText);
}

// Refuses bulk data the request cannot carry, with the operation's own message.
bool SetBulkOrFail(PhoneLink& link, const uint8_t* bytes, uint32_t length, const char* failure) {
  if (link.SetBulk(bytes, length))
    return true;
  link.reason = kTextRequestTooLarge;
  link.ComposeReason(failure);
  return false;
}

}  // namespace

std::string StreamingErrorText(uint32_t code) {
  switch (code) {
    case 2:
      return "Invalid destination address";
    case 3:
      return "Invalid length";
    case 4:
      return "Unexpected end of packet";
    case 5:
      return "Invalid Command";
    case 7:
      return "Operation failed";
    case 8:
      return "Wrong Flash Intelligent ID";
    case 9:
      return "Bad programming voltage";
    case 10:
      return "Write-verify failed";
    case 12:
      return "Incorrect security code";
    case 13:
      return "Cannot power down phone";
    case 14:
      return "NAND flash programming not supported";
    case 15:
      return "Command out of sequence";
    case 16:
      return "Close did not succeed";
    case 17:
      return "Incompatible feature bits";
    case 18:
      return "Out of space";
    default:
      return "Illegal reason";
  }
}

bool ParseStreamingReply(PhoneLink& link) {
  if (link.reply.code != kError)
    return true;
  const size_t length = link.ReplyLength() >= 2 ? link.ReplyLength() - 2u : 0u;
  const uint32_t code = Le32(std::span(link.ReplyBytes(), length), 1);
  link.reason = StreamingErrorText(code);
  return false;
}

// The hello is answered by the flash programmer's hello reply only. Any other answer (a boot
// loader's negative acknowledge, when the programmer never started) is no greeting: taken for
// one, the update would stream every image into a stick that does not listen.
bool ParseHelloReply(PhoneLink& link) {
  if (!ParseStreamingReply(link))
    return false;
  if (link.reply.code == kHelloReply)
    return true;
  link.reason = kTextNotAHelloReply;
  return false;
}

bool StreamHello(PhoneLink& link) {
  BeginStreamingRequest(link, kHello);
  link.Payload().Bytes(reinterpret_cast<const uint8_t*>(kHelloMagic), sizeof kHelloMagic - 1);
  link.Payload().Byte(kProtocolVersion);
  link.Payload().Byte(kCompatibleVersion);
  link.Payload().Byte(kFeatureBits);
  link.SetReplyParser(LinkMode::Streaming, ParseHelloReply);  // the next request sets its own
  return link.Exchange(3, 5000);
}

bool StreamSecurityMode(PhoneLink& link) {
  BeginStreamingRequest(link, kSecurityMode);
  link.Payload().Byte(1);
  return link.ExchangeOrCompose(3, 2000, "Cannot go into security, Since %s");
}

bool StreamPartitionTable(PhoneLink& link, const uint8_t* table, uint32_t length) {
  const char* failure = "Cannot download partition, Since %s";
  BeginStreamingRequest(link, kPartitionTable);
  link.Payload().Byte(1);  // override
  return SetBulkOrFail(link, table, length, failure) && link.ExchangeOrCompose(1, 100000, failure);
}

bool StreamOpenMultiImage(PhoneLink& link, uint8_t type, const uint8_t* header, uint32_t length) {
  const char* failure = "Cannot open multi-image, Since %s";
  BeginStreamingRequest(link, kOpenMultiImage);
  switch (type) {
    case 1:
    case kImageQcsblHeader:
    case kImageQcsbl:
    case kImageEfs:
      link.Payload().Byte(type);
      break;
    case kImageOemsbl:
    case kImageAmss:
    case kImageProgrammer:
      link.Payload().Byte(type);
      if (!SetBulkOrFail(link, header, length, failure))
        return false;
      break;
    default:
      break;  // the code byte alone
  }
  return link.ExchangeOrCompose(2, 25000, failure);
}

bool StreamWrite(PhoneLink& link, const uint8_t* data, uint32_t address, uint32_t length) {
  const char* failure = "Write a Block of Data to Memory Failed, Since %s";
  BeginStreamingRequest(link, kStreamWrite);
  link.Payload().U32Le(address);
  if (length > kStreamBlockSize) {
    link.reason = kTextRequestTooLarge;
    link.ComposeReason(failure);
    return false;
  }
  link.Payload().Bytes(data, length);
  if (link.StreamExchange())
    return true;
  link.ComposeReason(failure);
  return false;
}

bool StreamClose(PhoneLink& link) {
  BeginStreamingRequest(link, kClose);
  return link.Exchange(3, 20000);
}

bool StreamNop(PhoneLink& link) {
  BeginStreamingRequest(link, kNop);
  link.Payload().Byte(0x11);
  return link.Exchange(1, 5000);
}

bool ProgrammerAnswersNop(PhoneLink& link, uint32_t timeoutMs) {
  BeginStreamingRequest(link, kNop);
  link.Payload().Byte(0x11);
  return link.Exchange(1, timeoutMs) && link.reply.code == kNopReply;
}

bool StreamReset(PhoneLink& link) {
  BeginStreamingRequest(link, kReset);
  return link.Exchange(3, 20000);
}

bool StreamResetAcknowledged(PhoneLink& link) {
  BeginStreamingRequest(link, kReset);
  return link.Exchange(1, 20000) && link.reply.code == kResetAcknowledge;
}

}  // namespace orbek

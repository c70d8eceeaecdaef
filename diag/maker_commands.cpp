#include "diag/maker_commands.h"

#include <algorithm>
#include <vector>

#include "diag/command_codes.h"
#include "diag/diag_reply.h"
#include "link/hdlc_framer.h"
#include "platform/byte_order.h"

namespace orbek {
namespace {

using namespace diag;

constexpr uint8_t kDownloadCheck = 0x05;
constexpr uint8_t kGetChallenge = 0x06;
constexpr uint8_t kPutAnswer = 0x07;

// Writes the subsystem header (and `body`) into the frame buffer byte by byte.
void BeginSubsystemRequest(PhoneLink& link, uint8_t subsystem, uint8_t command,
                           const uint8_t* body = nullptr, size_t bodyLength = 0) {
  link.Clear();
  link.mode = LinkMode::RawDiag;
  link.request.command = kSubsystem;
  link.request.pollStepMs = kReplyPollStepMs;
  PacketWriter packet = link.RawPacket();
  packet.Byte(kSubsystem);
  packet.Byte(subsystem);
  packet.U16Le(command);
  packet.Bytes(body, bodyLength);
}

// True when the reply, as received, begins with `expected`.
bool ReplyStartsWith(const PhoneLink& link, std::initializer_list<uint8_t> expected) {
  return link.ReplyLength() >= expected.size() &&
         std::equal(expected.begin(), expected.end(), link.ReplyBytes());
}

enum class FlagWrite { Done, Refused, NoAnswer };

FlagWrite SetFlag(PhoneLink& link, uint8_t subsystem, uint8_t value) {
  BeginSubsystemRequest(link, subsystem, 0x00, &value, 1);
  if (!link.Exchange(1, 10000))
    return FlagWrite::NoAnswer;
  return ReplyStartsWith(link, {kSubsystem, subsystem, 0x00, 0x00, 0x00}) ? FlagWrite::Done
                                                                          : FlagWrite::Refused;
}

}  // namespace

bool ReadFourVersions(PhoneLink& link, VersionRecord& record) {
  BeginDiagRequest(link, kVersionTable);
  if (link.Exchange(1, 300)) {
    record = link.reply.versionRecord;
    return true;
  }
  record.fill(0);
  link.ComposeReason("Cannot get four software version from the mobile, Since %s");
  return false;
}

std::string VersionSlot(const VersionRecord& record, size_t slot) {
  if (slot >= 9)
    return {};
  const char* text = reinterpret_cast<const char*>(record.data() + slot * kVersionSlotSize);
  size_t limit = record.size() - slot * kVersionSlotSize;
  return std::string(text, std::find(text, text + limit, '\0'));
}

bool DownloadCheck(PhoneLink& link, const FirmwareVersionBlock& block, uint8_t subsystem) {
  BeginSubsystemRequest(link, subsystem, kDownloadCheck, block.data(), block.size());
  if (!link.Exchange(3, 10000)) {
    link.ComposeReason("Cannot pass the download check, Since %s");
    return false;
  }
  if (link.ReplyLength() < 8 ||
      !ReplyStartsWith(link, {kSubsystem, subsystem, kDownloadCheck, 0x00})) {
    return false;
  }
  const uint32_t code = Le32(std::span(link.ReplyBytes() + 4, 4));
  switch (code) {
    case 0:
      return true;
    case 1:
      link.reason = "Cannot pass the download check, Since public key error";
      break;
    case 2:
      link.reason = "Cannot pass the download check, Since main ver error";
      break;
    case 3:
      link.reason = "Cannot pass the download check, Since compare ver error";
      break;
    default:
      break;
  }
  return false;
}

bool GetChallenge(PhoneLink& link, Challenge& challenge) {
  BeginSubsystemRequest(link, kMakerSecurity, kGetChallenge);
  if (!link.Exchange(1, 1000)) {
    link.ComposeReason("Cannot get value from the mobile, Since %s");
    return false;
  }
  // The value is taken after unstuffing: a challenge byte of 0x7E or 0x7D arrives as two bytes.
  std::vector<uint8_t> reply(link.ReplyBytes(), link.ReplyBytes() + link.ReplyLength());
  reply.resize(UnstuffInPlace(reply.data(), 0, reply.size()));
  const uint8_t header[] = {kSubsystem, kMakerSecurity, kGetChallenge, 0x00};
  if (reply.size() < 4 + challenge.size() || !std::equal(header, header + 4, reply.begin())) {
    challenge.fill(0);
    return false;
  }
  std::copy_n(reply.begin() + 4, challenge.size(), challenge.begin());
  return true;
}

bool PutChallengeAnswer(PhoneLink& link, const Md5Digest& answer) {
  BeginSubsystemRequest(link, kMakerSecurity, kPutAnswer, answer.data(), answer.size());
  if (!link.Exchange(1, 1000)) {
    link.ComposeReason("Cannot get value from the mobile, Since %s");
    return false;
  }
  return ReplyStartsWith(link, {kSubsystem, kMakerSecurity, kPutAnswer, 0x00, 0x00});
}

bool SetAutorun(PhoneLink& link, uint8_t value) {
  FlagWrite result = SetFlag(link, kMakerAutorun, value);
  // Only a failed exchange composes the message; a refusing reply leaves the reason alone.
  if (result == FlagWrite::NoAnswer)
    link.ComposeReason("Cannot Set Autorun , Since %s");
  return result == FlagWrite::Done;
}

bool SetFlagAA(PhoneLink& link, uint8_t value) {
  return SetFlag(link, kMakerFlagAA, value) == FlagWrite::Done;
}

}  // namespace orbek

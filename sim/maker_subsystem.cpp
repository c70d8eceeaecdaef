#include "sim/maker_subsystem.h"

#include <algorithm>

#include "diag/md5.h"
#include "platform/byte_order.h"
#include "sim/firmware_diag.h"

namespace orbek::sim {
namespace {

constexpr uint8_t kSubsystem = 0x4B;
constexpr uint8_t kBadCommand = 0x13;
constexpr uint8_t kBadLength = 0x15;

constexpr uint8_t kPollSubsystem = 0x04;
constexpr uint16_t kPollCommand = 0x000E;
constexpr uint8_t kAutorun = 0xA1;
constexpr uint8_t kSecurity = 0xA3;
constexpr uint8_t kFlagAA = 0xAA;
constexpr uint16_t kSetFlag = 0x00;
constexpr uint16_t kDownloadCheck = 0x05;
constexpr uint16_t kGetChallenge = 0x06;
constexpr uint16_t kPutAnswer = 0x07;

constexpr size_t kHeaderLength = 4;
constexpr size_t kBlockLength = 128;
constexpr size_t kChallengeLength = 8;
constexpr size_t kAnswerLength = 16;
constexpr uint32_t kMainVersionError = 2;

Bytes Header(const Bytes& request) {
  return Bytes(request.begin(), request.begin() + kHeaderLength);
}

Bytes WithStatusByte(const Bytes& request, uint8_t status) {
  Bytes reply = Header(request);
  reply.push_back(status);
  return reply;
}

Bytes SetFlag(StickState& state, uint8_t& flag, std::vector<uint8_t>& history,
              const Bytes& request) {
  if (request.size() != kHeaderLength + 1)
    return RefuseMalformed(state, request, kBadLength, "flag request of another length than 5");
  flag = request[kHeaderLength];
  history.push_back(flag);
  return WithStatusByte(request, 0);
}

Bytes DownloadCheck(Stick& stick, const Bytes& request) {
  if (request.size() != kHeaderLength + kBlockLength) {
    return RefuseMalformed(stick.State(), request, kBadLength,
                           "download check of another length than 132");
  }
  Bytes block(request.begin() + kHeaderLength, request.end());
  const StickConfig& config = stick.Config();
  uint32_t status = config.downloadCheckStatus
                        ? *config.downloadCheckStatus
                        : (block == config.firmwareRecord ? 0 : kMainVersionError);
  stick.State().downloadChecks.push_back({block, status});
  Bytes reply = Header(request);
  for (int i = 0; i < 4; ++i)
    reply.push_back(static_cast<uint8_t>(status >> (8 * i)));
  return reply;
}

Bytes GetChallenge(Stick& stick, const Bytes& request) {
  if (request.size() != kHeaderLength)
    return RefuseMalformed(stick.State(), request, kBadLength, "challenge request with payload");
  Bytes challenge(kChallengeLength);
  for (uint8_t& byte : challenge)
    byte = static_cast<uint8_t>(stick.Random()());
  stick.State().lastChallenge = challenge;
  Bytes reply = Header(request);
  reply.insert(reply.end(), challenge.begin(), challenge.end());
  return reply;
}

Bytes PutAnswer(Stick& stick, const Bytes& request) {
  if (request.size() != kHeaderLength + kAnswerLength)
    return RefuseMalformed(stick.State(), request, kBadLength, "answer of another length than 20");
  StickState& state = stick.State();
  Bytes answer(request.begin() + kHeaderLength, request.end());
  bool accepted = false;
  Bytes challenge;
  if (state.lastChallenge) {
    challenge = *state.lastChallenge;
    Md5Digest expected = Md5(challenge.data(), challenge.size());
    accepted = std::equal(expected.begin(), expected.end(), answer.begin());
  }
  state.challenges.push_back({challenge, answer, accepted});
  return WithStatusByte(request, accepted ? 0 : 1);
}

void AppendField(Bytes& reply, const std::string& text, size_t size, bool separator) {
  for (size_t i = 0; i < size; ++i)
    reply.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
  if (separator)
    reply.push_back(0);
}

}  // namespace

std::optional<Bytes> HandleSubsystemRequest(Stick& stick, const Bytes& request) {
  if (request.size() < kHeaderLength)
    return DiagRefusal(kBadLength, request);
  const uint8_t subsystem = request[1];
  const uint16_t command = Le16(request, 2);
  StickState& state = stick.State();
  if (subsystem == kPollSubsystem && command == kPollCommand) {
    if (request.size() != kHeaderLength)
      return RefuseMalformed(state, request, kBadLength, "status poll with payload");
    ++state.subsystemPolls;
    return WithStatusByte(request,
                          state.subsystemPolls > stick.Config().subsystemBusyPolls ? 0 : 1);
  }
  if (subsystem == kAutorun && command == kSetFlag) {
    return SetFlag(state, state.autorun, state.autorunHistory, request);
  }
  if (subsystem == kFlagAA && command == kSetFlag) {
    return SetFlag(state, state.flagAA, state.flagAAHistory, request);
  }
  if (subsystem == kSecurity) {
    switch (command) {
      case kDownloadCheck:
        return DownloadCheck(stick, request);
      case kGetChallenge:
        return GetChallenge(stick, request);
      case kPutAnswer:
        return PutAnswer(stick, request);
      default:
        break;
    }
  }
  return DiagRefusal(kBadCommand, request);
}

Bytes VersionTableReply(const StickConfig& config, const StickState& state) {
  static const std::vector<size_t> kNine = {30, 30, 30, 30, 30, 30, 30, 30, 31};
  static const std::vector<size_t> kEight = {30, 30, 30, 30, 30, 30, 30, 30};
  static const std::vector<size_t> kFour = {30, 30, 30, 30};
  static const std::vector<size_t> kShort = {22, 22, 24, 24};
  const std::vector<size_t>& sizes = config.versionLayout == VersionLayout::Nine    ? kNine
                                     : config.versionLayout == VersionLayout::Eight ? kEight
                                     : config.versionLayout == VersionLayout::Four  ? kFour
                                                                                    : kShort;
  Bytes reply{0x39};
  for (size_t field = 0; field < sizes.size(); ++field) {
    AppendField(reply, state.versions[field], sizes[field], config.versionSeparators);
  }
  // Two more fields the updater does not return: build date and time.
  AppendField(reply, "2010-07-16", 10, config.versionSeparators);
  AppendField(reply, "09:05:03", 10, config.versionSeparators);
  return reply;
}

}  // namespace orbek::sim

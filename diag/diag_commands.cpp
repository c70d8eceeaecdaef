#include "diag/diag_commands.h"

#include <cctype>
#include <cstring>

#include "diag/command_codes.h"
#include "diag/diag_reply.h"
#include "diag/nv_status.h"
#include "platform/clock.h"
#include "platform/text_format.h"

#ifndef ORBEK_SPC
#define ORBEK_SPC "000000"
#endif

namespace orbek {
namespace {

using namespace diag;

constexpr uint16_t kModeOffline = 1;
constexpr uint16_t kModeReset = 2;
constexpr uint16_t kModeFour = 4;

constexpr uint8_t kNvAttempts = 3;
constexpr uint32_t kNvTimeoutMs = 2000;
// NV item reads and writes answer slowly: their reply wait polls in 30 ms steps.
constexpr uint32_t kNvPollStepMs = 30;

constexpr char kHandshake[] = "AT$QCDMG\r";
constexpr char kHandshakeAnswer[] = "AT$QCDMG\r\r\nOK\r\n";
constexpr uint32_t kHandshakeAnswerLength = 15;
constexpr uint32_t kHandshakeWaitMs = 100;

static_assert(sizeof(ORBEK_SPC) == 7, "the service programming code has six digits");

bool ChangeMode(PhoneLink& link, uint16_t mode, uint32_t timeoutMs, const char* failure) {
  BeginDiagRequest(link, kModeChange);
  link.Payload().U16Le(mode);
  if (link.Exchange(1, timeoutMs))
    return true;
  link.ComposeReason(failure);
  return false;
}

void AppendNvRecord(PhoneLink& link, uint16_t item, const NvItemData& data) {
  link.request.pollStepMs = kNvPollStepMs;
  link.Payload().U16Le(item);
  for (uint8_t byte : data)
    link.Payload().Byte(byte);
  link.Payload().U16Le(0);  // status
}

bool SendFixed(PhoneLink& link, uint8_t command, std::initializer_list<uint8_t> fields) {
  BeginDiagRequest(link, command);
  for (uint8_t byte : fields)
    link.Payload().Byte(byte);
  return link.Exchange(1, 2000);
}

}  // namespace

const char* ServiceProgrammingCode() {
  return ORBEK_SPC;
}

bool ReadEsn(PhoneLink& link, uint32_t& esn) {
  BeginDiagRequest(link, kEsn);
  if (link.Exchange(1, 300)) {
    esn = link.reply.esn;
    return true;
  }
  esn = 0xFFFFFFFF;
  link.ComposeReason("Cannot Get the ESN Number of the Phone, Since %s");
  return false;
}

bool ReadBuildId(PhoneLink& link, std::array<uint8_t, kBuildIdSize>& buildId) {
  BeginDiagRequest(link, kExtendedBuildId);
  if (link.Exchange(1, 300)) {
    buildId = link.reply.buildId;
    return true;
  }
  buildId.fill(0);
  link.ComposeReason("Cannot get software version from the mobile, Since %s");
  return false;
}

bool GoOffline(PhoneLink& link) {
  return ChangeMode(link, kModeOffline, 10000, "Cannot Put the Phone Offline, Since %s");
}

bool ResetPhone(PhoneLink& link) {
  return ChangeMode(link, kModeReset, 10000, "Cannot Reset the Phone, Since %s");
}

bool ChangeModeFour(PhoneLink& link) {
  return ChangeMode(link, kModeFour, 2000, "Cannot Put the Phone Offline, Since %s");
}

bool ReadNvItem(PhoneLink& link, uint16_t item, NvItemData& data, uint16_t& status) {
  BeginDiagRequest(link, kNvRead);
  AppendNvRecord(link, item, data);
  if (!link.Exchange(kNvAttempts, kNvTimeoutMs)) {
    link.reason = Format("cannot read #%u NVItem, since %s", static_cast<unsigned>(item),
                         link.reason.c_str());
    status = kNvExchangeFailed;
    data.fill(0);
    return false;
  }
  status = link.reply.nvStatus;
  if (status != kNvDone) {
    link.reason = Format("cannot read #%u NV Item, since %s", static_cast<unsigned>(item),
                         NvStatusText(status));
    data.fill(0);
    return false;
  }
  data = link.reply.nvData;
  return true;
}

bool WriteNvItem(PhoneLink& link, uint16_t item, const NvItemData& data, uint16_t& status) {
  status = kNvDone;
  BeginDiagRequest(link, kNvWrite);
  AppendNvRecord(link, item, data);
  if (!link.Exchange(kNvAttempts, kNvTimeoutMs)) {
    status = kNvExchangeFailed;
    link.reason = Format("Cannot write #%u NVItem, Since %s", static_cast<unsigned>(item),
                         link.reason.c_str());
    return false;
  }
  status = link.reply.nvStatus;
  if (status != kNvDone) {
    link.reason = Format("Cannot Write #%u NVItem, Since %s", static_cast<unsigned>(item),
                         NvStatusText(status));
    return false;
  }
  return true;
}

bool SwitchToDownloader(PhoneLink& link) {
  BeginDiagRequest(link, kDownloader);
  if (link.Exchange(1, 20000))
    return true;
  link.ComposeReason("Cannot Switch to Downloader, Since %s");
  return false;
}

bool SendSpc(PhoneLink& link) {
  BeginDiagRequest(link, kSpc);
  for (const char* digit = ServiceProgrammingCode(); *digit != '\0'; ++digit) {
    link.Payload().Byte(static_cast<uint8_t>(*digit));
  }
  return link.Exchange(1, 2000);
}

bool Command5C(PhoneLink& link) {
  return SendFixed(link, kCommand5C, {0x01, 0x00, 0xC2, 0x01, 0x00});
}

bool PollSubsystemStatus(PhoneLink& link) {
  // The status is the fifth byte of the reply; a reply too short to hold it is no "ready".
  constexpr uint16_t kLengthWithStatus = 5 + 2;  // and the two check bytes
  return SendFixed(link, kSubsystem, {0x04, 0x0E, 0x00}) &&
         link.ReplyLength() >= kLengthWithStatus && link.reply.subsystemStatus == 0;
}

bool CheckCommunication(PhoneLink& link) {
  uint32_t esn = 0;
  if (ReadEsn(link, esn) || DiagHandshake(link) || ReadEsn(link, esn))
    return true;
  link.ComposeReason("Cannot communicate with the mobile, Since %s");
  return false;
}

bool DiagHandshake(PhoneLink& link) {
  const uint32_t length = sizeof kHandshake - 1;
  if (link.port.Write(reinterpret_cast<const uint8_t*>(kHandshake), length) < length)
    return false;
  platform::SleepMs(kHandshakeWaitMs);
  if (link.port.BytesQueued() == 0)
    return false;
  uint8_t answer[kHandshakeAnswerLength] = {};
  if (link.port.Read(answer, kHandshakeAnswerLength) < kHandshakeAnswerLength)
    return false;
  for (uint32_t i = 0; i < kHandshakeAnswerLength; ++i) {
    if (std::tolower(answer[i]) != std::tolower(static_cast<uint8_t>(kHandshakeAnswer[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace orbek

#include "nv/stick_identity.h"

#include <algorithm>
#include <cctype>

#include "diag/diag_commands.h"
#include "diag/nv_status.h"
#include "nv/nv_backup.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/text_format.h"

namespace orbek {
namespace {

constexpr size_t kEsnDigits = 8;
constexpr int kImeiReadAttempts = 3;
constexpr uint32_t kImeiRetryWaitMs = 200;
constexpr uint16_t kEsnItem = 0;
// The IMEI item: a length byte, then BCD digits, the first after the identity type nibble.
constexpr size_t kImeiMaxBytes = 8;

bool AllOf(const std::string& text, int (*is)(int)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [is](char c) {
    return is(static_cast<unsigned char>(c)) != 0;
  });
}

std::string HexOf(const uint8_t* bytes, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i)
    text += Format("%02X", bytes[i]);
  return text;
}

}  // namespace

std::optional<uint32_t> UsableEsn(uint32_t answered) {
  if (answered == 0 || answered == 0xFFFFFFFF)
    return std::nullopt;
  return answered;
}

std::string ImeiOfItem(const std::array<uint8_t, 128>& data) {
  if (std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0; }))
    return "";
  const size_t length = data[0];
  std::string digits;
  bool bcd = length >= 1 && length <= kImeiMaxBytes;
  for (size_t byte = 1; bcd && byte <= length; ++byte) {
    const uint8_t nibbles[2] = {static_cast<uint8_t>(data[byte] & 0x0F),
                                static_cast<uint8_t>(data[byte] >> 4)};
    for (size_t half = byte == 1 ? 1 : 0; half < 2; ++half) {
      if (nibbles[half] == 0x0F && byte == length && half == 1)
        break;  // filler after an odd count
      if (nibbles[half] > 9)
        bcd = false;
      else
        digits += static_cast<char>('0' + nibbles[half]);
    }
  }
  if (bcd && !digits.empty() && digits.find_first_not_of('0') != std::string::npos)
    return digits;
  if (bcd)
    return "";  // a length with zero digits: blank
  return HexOf(data.data(), 1 + kImeiMaxBytes);
}

std::string IdentityFolderName(const StickIdentity& identity) {
  std::string name = identity.esn ? Format("%08X", *identity.esn) : std::string();
  if (!identity.imei.empty())
    name += (name.empty() ? "" : "-") + identity.imei;
  return name;
}

std::optional<StickIdentity> IdentityOfFolderName(const std::string& name) {
  StickIdentity identity;
  const size_t dash = name.find('-');
  const std::string first = name.substr(0, dash);
  const bool esnFirst = first.size() == kEsnDigits && AllOf(first, std::isxdigit);
  if (esnFirst)
    identity.esn = UsableEsn(static_cast<uint32_t>(std::stoul(first, nullptr, 16)));
  const std::string imei = esnFirst ? (dash == std::string::npos ? "" : name.substr(dash + 1))
                                    : (dash == std::string::npos ? name : "");
  if ((!esnFirst && imei.empty()) || (dash != std::string::npos && imei.empty()))
    return std::nullopt;
  if (!imei.empty()) {
    if (imei.size() == kEsnDigits || !AllOf(imei, std::isxdigit))
      return std::nullopt;
    identity.imei = imei;
  }
  return identity;
}

bool BackupIsOfStick(const StickIdentity& backup, const StickIdentity& stick) {
  if (!stick.imei.empty())
    return backup.imei == stick.imei && !(backup.esn && stick.esn && *backup.esn != *stick.esn);
  if (stick.esn)
    return backup.esn == stick.esn;
  return !stick.socket.empty() && backup.socket == stick.socket;
}

bool IdentityContradicts(const StickIdentity& before, const StickIdentity& now) {
  if (!before.socket.empty() && !now.socket.empty() && before.socket != now.socket)
    return true;
  if (before.esn && now.esn && *before.esn != *now.esn)
    return true;
  return !before.imei.empty() && !now.imei.empty() && before.imei != now.imei;
}

StickIdentity ReadStickIdentity(LineSession& line) {
  StickIdentity identity;
  identity.socket = line.socket;
  uint32_t esn = 0;
  if (ReadStickEsn(line.link, esn))
    identity.esn = UsableEsn(esn);
  for (int attempt = 0; attempt < kImeiReadAttempts; ++attempt) {
    NvItemData data{};
    uint16_t status = kNvExchangeFailed;
    if (ReadNvItem(line.link, kImeiItem, data, status)) {
      identity.imei = ImeiOfItem(data);
      break;
    }
    if (status != kNvExchangeFailed)
      break;  // inactive or refused: no IMEI
    platform::SleepMs(kImeiRetryWaitMs);
  }
  return identity;
}

FileIdentity IdentityOfTable(const NvTable& table) {
  FileIdentity identity;
  for (const NvRecord& record : table) {
    if (record.itemId >= kNvEndMarker)
      break;
    if (record.status != kNvDone)
      continue;
    if (record.itemId == kEsnItem && !identity.item0)
      identity.item0 = UsableEsn(Le32(record.data));
    if (record.itemId == kImeiItem && identity.imei.empty())
      identity.imei = ImeiOfItem(record.data);
  }
  return identity;
}

}  // namespace orbek

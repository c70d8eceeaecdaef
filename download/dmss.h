// The DMSS download protocol of the stick's boot loader: check that it answers, read its flash
// parameters, upload the flash programmer into RAM and start it. Big-endian fields, frames with
// an opening flag.
#pragma once

#include <array>
#include <cstdint>

#include "link/phone_link.h"

namespace orbek {

// The boot loader's flash information, as DloadGetParams returns it.
struct FlashInfo {
  static constexpr size_t kRecordSize = 212;
  static constexpr size_t kNameSize = 64;

  uint8_t replyCode = 0;
  uint8_t protocolVersion = 0;
  uint8_t lowestCompatibleVersion = 0;
  uint32_t bytes3To6 = 0;  // read as a little-endian value
  uint8_t byte7 = 0;
  uint8_t byte8 = 0;  // the size byte as received
  uint32_t flashSize = 0;
  uint8_t byte9 = 0;
  uint8_t flashSizeCode = 0;
  std::array<char, kNameSize> firstName{};
  std::array<char, kNameSize> secondName{};

  // The 212-byte record: the fields above in order at their natural alignment (little-endian
  // words at offsets 4 and 12, names at 18 and 82), the rest zero.
  std::array<uint8_t, kRecordSize> Record() const;
};

// The text of a negative acknowledge code; empty for codes outside the table.
const char* DmssErrorText(uint16_t code);

// The DMSS reply parser: acknowledge (0x02) and parameters (0x08) pass, a negative acknowledge
// (0x03) fails with its text.
bool ParseDmssReply(PhoneLink& link);

inline constexpr uint32_t kProgrammerAddress = 0x00800000;
inline constexpr uint16_t kProgrammerBlockSize = 1017;

// 0x06, 1 x 20000 ms: true when the boot loader acknowledges.
bool DloadNop(PhoneLink& link);
// The same no-op as a question to a port that gave no other answer: one attempt of `timeoutMs`,
// no reason composed.
bool BootLoaderAnswersNop(PhoneLink& link, uint32_t timeoutMs);
// 0x07, 1 x 20000 ms (the record is zeroed on failure).
bool DloadGetParams(PhoneLink& link, FlashInfo& info);
// 0x0F, 3 x 5000 ms: `length` bytes of `data` to RAM at `address`.
bool DloadWrite32(PhoneLink& link, const uint8_t* data, uint32_t address, uint16_t length);
// 0x05, 3 x 2000 ms: start execution at segment:offset.
bool DloadGo(PhoneLink& link, uint16_t segment, uint16_t offset);
// 0x0A, 3 x 2000 ms.
bool DloadReset(PhoneLink& link);

}  // namespace orbek

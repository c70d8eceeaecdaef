// The streaming download protocol of the flash programmer: greet it, set the security mode,
// send the partition table, open each image, stream its blocks, close it, reset the stick.
// Little-endian fields, frames with an opening flag.
#pragma once

#include <cstdint>
#include <string>

#include "link/phone_link.h"

namespace orbek {

// Image types of the open multi-image request.
enum ImageType : uint8_t {
  kImageQcsblHeader = 2,  // the secondary boot loader's configuration header
  kImageQcsbl = 3,
  kImageOemsbl = 4,  // with its header
  kImageAmss = 5,    // with its header
  kImageEfs = 9,
  kImageProgrammer = 10,  // the NAND flash programmer image, with its header
};

inline constexpr uint32_t kStreamBlockSize = 1024;

// The text of a streaming error code; "Illegal reason" for codes outside the table.
std::string StreamingErrorText(uint32_t code);

// The streaming reply parser: everything passes but an error reply (0x0D), which fails with
// its text.
bool ParseStreamingReply(PhoneLink& link);

// Why a hello failed when something other than the programmer's hello reply answered it.
inline constexpr const char* kTextNotAHelloReply =
    "the Received Data is not the hello reply of the flash programmer";

bool StreamHello(PhoneLink& link);         // 0x01, 3 x 5000 ms; only a hello reply (0x02) passes
bool StreamSecurityMode(PhoneLink& link);  // 0x17 mode 1, 3 x 2000 ms
// 0x19 with override flag 1, 1 x 100000 ms; at most 1024 bytes.
bool StreamPartitionTable(PhoneLink& link, const uint8_t* table, uint32_t length);
// 0x1B, 2 x 25000 ms. Types 1, 2, 3, 9 go without data, 4, 5, 10 with the header (at most 1024
// bytes), any other type as the code byte alone.
bool StreamOpenMultiImage(PhoneLink& link, uint8_t type, const uint8_t* header, uint32_t length);
// 0x07 through the stream-write exchange: no answer counts as written.
bool StreamWrite(PhoneLink& link, const uint8_t* data, uint32_t address, uint32_t length);
bool StreamClose(PhoneLink& link);  // 0x15, 3 x 20000 ms
bool StreamNop(PhoneLink& link);    // 0x09 0x11, 1 x 5000 ms
// The same no-op as a question to a port that gave no other answer: one attempt of `timeoutMs`,
// passing only on the flash programmer's no-op reply (0x0A).
bool ProgrammerAnswersNop(PhoneLink& link, uint32_t timeoutMs);
bool StreamReset(PhoneLink& link);  // 0x0B, 3 x 20000 ms
// The same reset at the end of a failed operation: one attempt of 20000 ms (its result is not
// waited for again), passing only when the flash programmer acknowledges it (0x0C). A boot
// loader answers the request too, with its negative acknowledge, and is not reset by it.
bool StreamResetAcknowledged(PhoneLink& link);

}  // namespace orbek

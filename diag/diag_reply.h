// The DIAG reply parser: extracts the fields of a decoded DIAG reply into the link's reply
// record. Bytes past the end of the reply read as zero.
#pragma once

#include "link/phone_link.h"

namespace orbek {

bool ParseDiagReply(PhoneLink& link);

// Starts a DIAG request with the command code alone and installs the DIAG reply parser; the
// operation then appends its fields.
void BeginDiagRequest(PhoneLink& link, uint8_t command);

// Fills the nine 31-byte slots of the version record from a 0x39 reply, choosing the layout by
// the number of bytes received (`rawReplyLength`).
void ParseVersionTable(const uint8_t* packet, size_t packetLength, uint16_t rawReplyLength,
                       std::array<uint8_t, kVersionRecordSize>& record);

}  // namespace orbek

// The firmware's subsystem requests (0x4B): the status poll and the maker's commands for
// autorun (0xA1), the 0xAA flag and security (0xA3: download check, challenge, answer).
#pragma once

#include "sim/stick.h"

namespace orbek::sim {

std::optional<Bytes> HandleSubsystemRequest(Stick& stick, const Bytes& request);

// The 0x39 reply in the configured layout.
Bytes VersionTableReply(const StickConfig& config, const StickState& state);

}  // namespace orbek::sim

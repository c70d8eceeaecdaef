// The stick's firmware on the diagnostic port: DIAG commands.
#pragma once

#include "sim/stick.h"

namespace orbek::sim {

class FirmwareDiag final : public PacketHandler {
 public:
  std::optional<Bytes> Handle(Stick& stick, const Bytes& packet) override;
};

// The DIAG answer to a request the firmware cannot take: `code` followed by the request.
// A request of a known command whose fixed bytes are wrong: listed in the stick's bad requests
// and refused like DiagRefusal.
Bytes RefuseBadRequest(StickState& state, const Bytes& request, uint8_t code, const char* why);
Bytes DiagRefusal(uint8_t code, const Bytes& request);

}  // namespace orbek::sim

// The stick's firmware on the diagnostic port: DIAG commands.
#pragma once

#include "sim/stick.h"

namespace orbek::sim {

class FirmwareDiag final : public PacketHandler {
 public:
  std::optional<Bytes> Handle(Stick& stick, const Bytes& packet) override;
};

// The DIAG answer to a request the firmware cannot take: `code` followed by the request.
Bytes DiagRefusal(uint8_t code, const Bytes& request);
// A request of the updater's whose length the firmware does not take: listed among the stick's
// deviations and refused like DiagRefusal.
Bytes RefuseMalformed(StickState& state, const Bytes& request, uint8_t code, const char* reason);

}  // namespace orbek::sim

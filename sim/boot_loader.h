// The stick's boot loader in download mode (DMSS download protocol) and the flash programmer
// it starts (streaming download protocol).
#pragma once

#include "sim/stick.h"

namespace orbek::sim {

class DmssBootLoader final : public PacketHandler {
 public:
  std::optional<Bytes> Handle(Stick& stick, const Bytes& packet) override;
};

class FlashProgrammer final : public PacketHandler {
 public:
  std::optional<Bytes> Handle(Stick& stick, const Bytes& packet) override;
};

// The name under which an image type is kept and reported.
std::string ImageName(uint8_t type);

// Error replies of each protocol, for a refused request or a fault.
Bytes DmssNak(uint16_t code);
Bytes StreamingError(uint32_t code);

}  // namespace orbek::sim

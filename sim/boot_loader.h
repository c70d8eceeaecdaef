// The stick's boot loader in download mode (DMSS download protocol) and the flash programmer
// it starts (streaming download protocol).
#pragma once

#include <set>

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
// The boot images, types 2 to 5, without which the stick starts only its boot loader.
std::set<std::string> BootImageNames();

// Error replies of each protocol, for a refused request or a fault.
Bytes DmssNak(uint16_t code);
Bytes StreamingError(uint32_t code);

}  // namespace orbek::sim

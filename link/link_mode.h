#pragma once

#include <cstdint>

namespace orbek {

// Which protocol one exchange speaks: it selects the packet builder, the framing and the reply
// handling.
enum class LinkMode : int32_t {
  Diag = 0,       // DIAG commands to the running firmware; frames without an opening flag
  Dload = 1,      // DMSS download protocol of the boot loader
  Streaming = 2,  // streaming download protocol of the flash programmer
  RawDiag = 3,    // a DIAG packet written byte by byte; the reply is kept as received
};

inline const char* LinkModeName(LinkMode mode) {
  switch (mode) {
    case LinkMode::Diag:
      return "Diag";
    case LinkMode::Dload:
      return "Dload";
    case LinkMode::Streaming:
      return "Streaming";
    case LinkMode::RawDiag:
      return "RawDiag";
  }
  return "Unknown";
}

}  // namespace orbek

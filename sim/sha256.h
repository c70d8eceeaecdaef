// SHA-256 (FIPS 180-4), for the report's fingerprints of what the stick was given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orbek::sim {

std::string Sha256Hex(const std::vector<uint8_t>& data);

}  // namespace orbek::sim

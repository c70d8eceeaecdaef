// MD5 (RFC 1321): the update answers the stick's challenge with the digest of its 8 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orbek {

using Md5Digest = std::array<uint8_t, 16>;

Md5Digest Md5(const uint8_t* data, size_t length);

}  // namespace orbek

// Byte order on the wire and in files: 16- and 32-bit numbers written into and read from byte
// spans, little-endian (DIAG, streaming download, the NV file, ELF headers) or big-endian (DMSS
// download). Bytes past the end of a span read as zero and are not written, so a short reply
// or buffer is never read or written beyond its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orbek {

namespace byte_order_detail {
inline uint8_t At(std::span<const uint8_t> bytes, size_t index) {
  return index < bytes.size() ? bytes[index] : 0;
}
inline void Set(std::span<uint8_t> bytes, size_t index, uint8_t value) {
  if (index < bytes.size())
    bytes[index] = value;
}
}  // namespace byte_order_detail

inline uint16_t Le16(std::span<const uint8_t> bytes) {
  using byte_order_detail::At;
  return static_cast<uint16_t>(At(bytes, 0) | At(bytes, 1) << 8);
}
inline uint32_t Le32(std::span<const uint8_t> bytes) {
  const auto high = bytes.size() > 2 ? bytes.subspan(2) : std::span<const uint8_t>();
  return Le16(bytes) | static_cast<uint32_t>(Le16(high)) << 16;
}
inline uint16_t Be16(std::span<const uint8_t> bytes) {
  using byte_order_detail::At;
  return static_cast<uint16_t>(At(bytes, 0) << 8 | At(bytes, 1));
}
inline uint32_t Be32(std::span<const uint8_t> bytes) {
  const auto low = bytes.size() > 2 ? bytes.subspan(2) : std::span<const uint8_t>();
  return static_cast<uint32_t>(Be16(bytes)) << 16 | Be16(low);
}

inline void PutLe16(std::span<uint8_t> bytes, uint16_t value) {
  byte_order_detail::Set(bytes, 0, static_cast<uint8_t>(value));
  byte_order_detail::Set(bytes, 1, static_cast<uint8_t>(value >> 8));
}
inline void PutLe32(std::span<uint8_t> bytes, uint32_t value) {
  PutLe16(bytes, static_cast<uint16_t>(value));
  if (bytes.size() > 2)
    PutLe16(bytes.subspan(2), static_cast<uint16_t>(value >> 16));
}
inline void PutBe16(std::span<uint8_t> bytes, uint16_t value) {
  byte_order_detail::Set(bytes, 0, static_cast<uint8_t>(value >> 8));
  byte_order_detail::Set(bytes, 1, static_cast<uint8_t>(value));
}
inline void PutBe32(std::span<uint8_t> bytes, uint32_t value) {
  PutBe16(bytes, static_cast<uint16_t>(value >> 16));
  if (bytes.size() > 2)
    PutBe16(bytes.subspan(2), static_cast<uint16_t>(value));
}

// Reads `offset` bytes into the span (zeros past its end).
inline std::span<const uint8_t> TailFrom(std::span<const uint8_t> bytes, size_t offset) {
  return offset < bytes.size() ? bytes.subspan(offset) : std::span<const uint8_t>();
}
inline uint16_t Le16(std::span<const uint8_t> bytes, size_t offset) {
  return Le16(TailFrom(bytes, offset));
}
inline uint32_t Le32(std::span<const uint8_t> bytes, size_t offset) {
  return Le32(TailFrom(bytes, offset));
}
inline uint16_t Be16(std::span<const uint8_t> bytes, size_t offset) {
  return Be16(TailFrom(bytes, offset));
}
inline uint32_t Be32(std::span<const uint8_t> bytes, size_t offset) {
  return Be32(TailFrom(bytes, offset));
}

// The same numbers appended to a growing byte vector.
template <size_t N, typename Put, typename Value>
void AppendWith(std::vector<uint8_t>& out, Put put, Value value) {
  const size_t at = out.size();
  out.resize(at + N);
  put(std::span<uint8_t>(out).subspan(at), value);
}
inline void AppendLe16(std::vector<uint8_t>& out, uint16_t value) {
  AppendWith<2>(out, PutLe16, value);
}
inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
  AppendWith<4>(out, PutLe32, value);
}
inline void AppendBe16(std::vector<uint8_t>& out, uint16_t value) {
  AppendWith<2>(out, PutBe16, value);
}
inline void AppendBe32(std::vector<uint8_t>& out, uint32_t value) {
  AppendWith<4>(out, PutBe32, value);
}

}  // namespace orbek

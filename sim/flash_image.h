// An image in the stick's flash, held in pages of 64 KiB: only the pages written take memory,
// so a block written near the end of an image's 64 MiB costs one page, not the whole span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace orbek::sim {

class FlashImage {
 public:
  static constexpr uint32_t kPageSize = 64 * 1024;

  FlashImage() = default;
  explicit FlashImage(const std::vector<uint8_t>& whole);

  void Write(uint32_t address, const uint8_t* data, size_t length);
  // Pages a write of `length` bytes at `address` would add.
  size_t NewPages(uint32_t address, size_t length) const;
  size_t Pages() const { return pages_.size(); }
  // One past the last byte written.
  size_t Size() const { return size_; }
  // The image as read back: every byte up to Size(), what was never written reads as zero.
  std::vector<uint8_t> Whole() const;

  bool operator==(const std::vector<uint8_t>& whole) const;
  bool operator!=(const std::vector<uint8_t>& whole) const { return !(*this == whole); }

 private:
  std::map<uint32_t, std::vector<uint8_t>> pages_;  // page number -> kPageSize bytes
  size_t size_ = 0;
};

}  // namespace orbek::sim

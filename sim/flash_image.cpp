#include "sim/flash_image.h"

#include <algorithm>

namespace orbek::sim {

FlashImage::FlashImage(const std::vector<uint8_t>& whole) {
  Write(0, whole.data(), whole.size());
}

void FlashImage::Write(uint32_t address, const uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    const size_t at = address + done;
    const uint32_t page = static_cast<uint32_t>(at / kPageSize);
    const size_t offset = at % kPageSize;
    const size_t count = std::min(length - done, kPageSize - offset);
    std::vector<uint8_t>& bytes = pages_[page];
    if (bytes.empty())
      bytes.assign(kPageSize, 0);
    std::copy_n(data + done, count, bytes.begin() + static_cast<ptrdiff_t>(offset));
    done += count;
  }
  size_ = std::max(size_, static_cast<size_t>(address) + length);
}

size_t FlashImage::NewPages(uint32_t address, size_t length) const {
  if (length == 0)
    return 0;
  const size_t first = address / kPageSize;
  const size_t last = (static_cast<size_t>(address) + length - 1) / kPageSize;
  size_t added = 0;
  for (size_t page = first; page <= last; ++page)
    added += pages_.count(static_cast<uint32_t>(page)) == 0 ? 1 : 0;
  return added;
}

std::vector<uint8_t> FlashImage::Whole() const {
  std::vector<uint8_t> whole(size_, 0);
  for (const auto& [page, bytes] : pages_) {
    const size_t start = static_cast<size_t>(page) * kPageSize;
    const size_t count = std::min(bytes.size(), size_ - start);
    std::copy_n(bytes.begin(), count, whole.begin() + static_cast<ptrdiff_t>(start));
  }
  return whole;
}

bool FlashImage::operator==(const std::vector<uint8_t>& whole) const {
  if (whole.size() != size_)
    return false;
  for (size_t start = 0; start < size_; start += kPageSize) {
    const size_t count = std::min<size_t>(kPageSize, size_ - start);
    auto page = pages_.find(static_cast<uint32_t>(start / kPageSize));
    const auto expected = whole.begin() + static_cast<ptrdiff_t>(start);
    const bool same =
        page != pages_.end()
            ? std::equal(expected, expected + static_cast<ptrdiff_t>(count), page->second.begin())
            : std::all_of(expected, expected + static_cast<ptrdiff_t>(count),
                          [](uint8_t b) { return b == 0; });
    if (!same)
      return false;
  }
  return true;
}

}  // namespace orbek::sim

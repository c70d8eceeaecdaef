// The byte-order vocabulary: both orders, and spans shorter than the number.
#include "platform/byte_order.h"

#include <gtest/gtest.h>

namespace orbek {
namespace {

TEST(ByteOrder, BothOrdersRoundTrip) {
  std::vector<uint8_t> bytes;
  AppendLe16(bytes, 0x1234);
  AppendLe32(bytes, 0x89ABCDEF);
  AppendBe16(bytes, 0x1234);
  AppendBe32(bytes, 0x89ABCDEF);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0x12, 0x34, 0x89, 0xAB,
                                         0xCD, 0xEF}));
  EXPECT_EQ(Le16(bytes, 0), 0x1234);
  EXPECT_EQ(Le32(bytes, 2), 0x89ABCDEFu);
  EXPECT_EQ(Be16(bytes, 6), 0x1234);
  EXPECT_EQ(Be32(bytes, 8), 0x89ABCDEFu);
}

TEST(ByteOrder, ShortSpansReadZerosAndWriteOnlyWhatFits) {
  const std::vector<uint8_t> three{0x11, 0x22, 0x33};
  EXPECT_EQ(Le32(three), 0x00332211u);
  EXPECT_EQ(Be32(three), 0x11223300u);
  EXPECT_EQ(Le16(three, 2), 0x0033);
  EXPECT_EQ(Le32(three, 3), 0u);
  EXPECT_EQ(Be16(three, 100), 0);

  std::array<uint8_t, 5> buffer{};
  PutBe32(std::span(buffer).first(3), 0x01020304);
  EXPECT_EQ(buffer, (std::array<uint8_t, 5>{0x01, 0x02, 0x03, 0x00, 0x00}));
  PutLe16(std::span(buffer).subspan(4), 0xAABB);
  EXPECT_EQ(buffer[4], 0xBB);
}

}  // namespace
}  // namespace orbek

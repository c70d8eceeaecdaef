#include "diag/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace orbek {
namespace {

std::string Hex(const Md5Digest& digest) {
  std::string hex;
  char digits[3];
  for (uint8_t byte : digest) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

std::string Md5Of(const std::string& text) {
  return Hex(Md5(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Of("1234567890123456789012345678901234567890123456789012345678901234567890123456789"
                  "0"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundaries) {
  const std::pair<size_t, const char*> expected[] = {
      {55, "8d24280288a696559fd8d5aa1b6d8c6e"}, {56, "ef2c72b7254c92459e498eddd4ace573"},
      {63, "c4c8c6d513f4e1604eb18508a1769364"}, {64, "a2fcb39a253b9b785b1f97518fa37683"},
      {65, "e49fe82d0bb12967a196c85de313e446"}, {1000, "de809ff794e91b68f9e91a2b7030bcb0"},
  };
  for (const auto& [length, digest] : expected) {
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i)
      data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(Hex(Md5(data.data(), data.size())), digest) << length;
  }
}

}  // namespace
}  // namespace orbek

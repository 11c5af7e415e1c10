// Check codes behind every block.
#include "transfer/crc16.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zephor::transfer {
namespace {

TEST(Crc16Test, CheckValueOfDigits) {
  const char* digits = "123456789";
  EXPECT_EQ(Crc16(9, 0, reinterpret_cast<const std::uint8_t*>(digits)), 0x31C3);
}

TEST(Crc16Test, ZeroBytesGiveTheStartingValue) {
  const std::uint8_t none = 0;
  EXPECT_EQ(Crc16(0, 0xBEEF, &none), 0xBEEF);
}

TEST(Crc16Test, TwoPiecesEqualOne) {
  std::vector<std::uint8_t> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::uint16_t whole = Crc16(data.size(), 0, data.data());
  const std::uint16_t first = Crc16(113, 0, data.data());
  EXPECT_EQ(Crc16(data.size() - 113, first, data.data() + 113), whole);
}

TEST(ByteChecksumTest, SumOf128OnesBytesWraps) {
  std::vector<std::uint8_t> data(128, 0xFF);
  EXPECT_EQ(ByteChecksum(data.size(), data.data()), 0x80);
}

}  // namespace
}  // namespace zephor::transfer

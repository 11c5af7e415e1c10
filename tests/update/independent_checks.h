// Check codes worked out bit by bit in the tests, apart from the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zephor::update::script {

// CRC-16/XMODEM: polynomial 0x1021, starting value 0, most significant bit first.
inline unsigned BitwiseCrc(const std::vector<std::uint8_t>& bytes, std::size_t from = 0,
                           std::size_t count = static_cast<std::size_t>(-1)) {
  unsigned crc = 0;
  for (std::size_t i = from; i < bytes.size() && i - from < count; ++i) {
    crc ^= static_cast<unsigned>(bytes[i]) << 8;
    for (int bit = 0; bit < 8; ++bit)
      crc = ((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1) & 0xFFFF;
  }
  return crc;
}

inline unsigned ByteSum(const std::vector<std::uint8_t>& bytes) {
  unsigned sum = 0;
  for (std::uint8_t byte : bytes) sum = (sum + byte) % 65536;
  return sum;
}

inline std::string FiveDigits(unsigned value) {
  std::string text = std::to_string(value);
  return std::string(5 - text.size(), '0') + text;
}

}  // namespace zephor::update::script

// Bitwise CRC and sums: the instrument computes them a byte at a time as the data comes.
#include "sim/check_codes.h"

namespace zephor::sim {
namespace {

constexpr std::uint16_t kPolynomial = 0x1021;
constexpr std::uint16_t kTopBit = 0x8000;
constexpr int kBitsPerByte = 8;

}  // namespace

std::uint16_t InstrumentCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t start) {
  std::uint16_t crc = start;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << kBitsPerByte));
    for (int bit = 0; bit < kBitsPerByte; ++bit)
      crc = static_cast<std::uint16_t>((crc & kTopBit) ? (crc << 1) ^ kPolynomial : crc << 1);
  }
  return crc;
}

std::uint8_t BlockChecksum(const std::uint8_t* data, std::size_t length) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  return sum;
}

std::uint16_t ImageByteSum(const std::uint8_t* data, std::size_t length) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint16_t>(sum + data[i]);
  return sum;
}

}  // namespace zephor::sim

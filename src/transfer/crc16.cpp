// CRC-16/XMODEM (polynomial 0x1021, most significant bit first) from a table built at compile time.
#include "transfer/crc16.h"

#include <array>

namespace zephor::transfer {
namespace {

constexpr std::uint16_t kPolynomial = 0x1021;

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ kPolynomial : crc << 1;
    table[i] = static_cast<std::uint16_t>(crc & 0xFFFF);
  }
  return table;
}

constexpr auto kTable = MakeTable();
static_assert(kTable[1] == 0x1021 && kTable[2] == 0x2042 && kTable[255] == 0x1EF0);

}  // namespace

std::uint16_t Crc16(std::size_t length, std::uint16_t start, const std::uint8_t* data) {
  unsigned crc = start;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned index = ((crc >> 8) ^ data[i]) & 0xFF;
    crc = kTable[index] ^ ((crc << 8) & 0xFFFF);
  }
  return static_cast<std::uint16_t>(crc);
}

std::uint8_t ByteChecksum(std::size_t length, const std::uint8_t* data) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += data[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

}  // namespace zephor::transfer

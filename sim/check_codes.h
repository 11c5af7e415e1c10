// The instrument's own check codes: CRC-16/XMODEM, the 8-bit block checksum and the 16-bit image
// sum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zephor::sim {

inline constexpr int kByteBits = 8;

// CRC-16/XMODEM (polynomial 0x1021, most significant bit first) continued from start.
std::uint16_t InstrumentCrc16(const std::uint8_t* data, std::size_t length,
                              std::uint16_t start = 0);
// Sum of the bytes modulo 256: the check byte of a checksum block.
std::uint8_t BlockChecksum(const std::uint8_t* data, std::size_t length);
// Sum of the bytes modulo 65,536: the check code of a short image header.
std::uint16_t ImageByteSum(const std::uint8_t* data, std::size_t length);

}  // namespace zephor::sim

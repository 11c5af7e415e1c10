// Block check codes: CRC-16/XMODEM with a caller's starting value, and the 8-bit byte sum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zephor::transfer {

std::uint16_t Crc16(std::size_t length, std::uint16_t start, const std::uint8_t* data);
std::uint8_t ByteChecksum(std::size_t length, const std::uint8_t* data);

}  // namespace zephor::transfer

// The framed record that announces an image to the instrument's loader, and its length limit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/operator_panel.h"

namespace zephor::update {

inline constexpr std::size_t kLongHeaderSize = 23;
inline constexpr std::size_t kShortHeaderSize = 19;

inline constexpr std::uint8_t kHeaderStart = 0x01;
inline constexpr std::uint8_t kHeaderOpen = 0x02;
inline constexpr std::uint8_t kHeaderClose = 0x03;
inline constexpr std::uint8_t kUnitSeparator = 0x1F;

inline constexpr std::uint8_t kBootImageCode = 0x20;
inline constexpr std::uint8_t kUpdateImageCode = 0x0C;

// The length field holds eight digits, so an image must stay below this many bytes.
inline constexpr std::uintmax_t kImageLengthLimit = 100000000;
inline constexpr const char* kImageTooLargeFormat = "Image file %s is too large to be loaded";

using LongImageHeader = std::array<std::uint8_t, kLongHeaderSize>;
using ShortImageHeader = std::array<std::uint8_t, kShortHeaderSize>;

// Header for boot.bin and update.bin: length, CRC-16 of the file and the image code.
LongImageHeader BuildLongImageHeader(long fileLength, std::uint16_t fileCrc,
                                     std::uint8_t imageCode);

// Header for the main-program path: length and byte sum of the file.
ShortImageHeader BuildShortImageHeader(long fileLength, std::uint16_t byteSum);

// Sum of all bytes of an image, each 0 to 255, modulo 65,536.
std::uint16_t ImageByteSum(const std::uint8_t* data, std::size_t length);

// True when an image of length bytes fits the header's length field; otherwise shows a message
// naming the file and returns false, so that the load stops before any port is opened.
bool CheckImageLength(device::OperatorPanel& panel, const std::string& fileName,
                      std::uintmax_t length);

}  // namespace zephor::update

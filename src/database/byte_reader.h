// Bounds-checked big-endian reads over the bytes of a saved database.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zephor::database {

// Every read is checked against the end of the bytes; a read that would run past it gives 0,
// so callers test Fits() first where a short record matters.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size(); }
  bool Fits(std::size_t position, std::size_t count) const {
    return position <= bytes_.size() && count <= bytes_.size() - position;
  }
  std::uint8_t Byte(std::size_t position) const {
    return Fits(position, 1) ? bytes_[position] : std::uint8_t{0};
  }
  std::uint16_t ReadBE16(std::size_t position) const {
    if (!Fits(position, 2)) return 0;
    return static_cast<std::uint16_t>((bytes_[position] << 8) | bytes_[position + 1]);
  }
  std::uint32_t ReadBE32(std::size_t position) const {
    if (!Fits(position, 4)) return 0;
    return (std::uint32_t{bytes_[position]} << 24) | (std::uint32_t{bytes_[position + 1]} << 16) |
           (std::uint32_t{bytes_[position + 2]} << 8) | std::uint32_t{bytes_[position + 3]};
  }
  // The bytes from position on, empty when they do not all lie inside.
  std::span<const std::uint8_t> Bytes(std::size_t position, std::size_t count) const {
    if (!Fits(position, count)) return {};
    return bytes_.subspan(position, count);
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// A 32-bit number laid out most significant byte first, for writing.
inline std::array<std::uint8_t, 4> ToBE32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

}  // namespace zephor::database

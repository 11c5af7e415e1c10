// One draw per kind and byte, so a seed always damages the same bytes of the same stream.
#include "sim/line_faults.h"

namespace zephor::sim {
namespace {

constexpr double kDrawRange = 4294967296.0;  // 2^32, the range of one mt19937 draw
constexpr int kBitsPerByte = 8;

}  // namespace

bool LineFaults::Chance(double rate) {
  const std::uint32_t draw = random_();
  return rate > 0 && static_cast<double>(draw) < rate * kDrawRange;
}

void LineFaults::Pass(std::uint8_t byte, std::vector<std::uint8_t>& out) {
  const bool drop = Chance(rates_.drop);
  const bool corrupt = Chance(rates_.corrupt);
  const bool duplicate = Chance(rates_.duplicate);
  const int bit = static_cast<int>(random_() % kBitsPerByte);
  if (drop) {
    ++touched_;
    return;
  }
  if (corrupt) {
    ++touched_;
    byte = static_cast<std::uint8_t>(byte ^ (1u << bit));
  }
  out.push_back(byte);
  if (duplicate) {
    ++touched_;
    out.push_back(byte);
  }
}

}  // namespace zephor::sim

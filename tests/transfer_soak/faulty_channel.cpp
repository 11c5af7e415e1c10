// A held-back byte holds back every byte behind it: the line keeps its order, as a real one.
#include "faulty_channel.h"

#include <vector>

namespace zephor::transfer {
namespace {
constexpr double kDrawRange = 4294967296.0;  // 2^32, the range of one mt19937 draw
}

void FaultyChannel::Push(std::uint8_t byte, std::uint32_t nowMs) {
  std::vector<std::uint8_t> out;
  faults_.Pass(byte, out);
  std::uint32_t release = nowMs;
  const bool hold = rates_.delay > 0 && static_cast<double>(random_()) < rates_.delay * kDrawRange;
  if (hold && rates_.maxDelayMs > 0) {
    ++delays_;
    release += 1 + random_() % static_cast<std::uint32_t>(rates_.maxDelayMs);
  }
  if (!inFlight_.empty() && static_cast<std::int32_t>(lastRelease_ - release) > 0) {
    release = lastRelease_;
  }
  for (std::uint8_t b : out) inFlight_.emplace_back(release, b);
  if (!out.empty()) lastRelease_ = release;
}

}  // namespace zephor::transfer

// Noise on the instrument's transmit line: corrupted, dropped or doubled bytes, seeded and
// repeatable.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace zephor::sim {

struct LineFaultRates {
  double corrupt = 0;    // chance that a byte goes out with one bit flipped
  double drop = 0;       // chance that a byte never reaches the line
  double duplicate = 0;  // chance that a byte goes out twice
  std::uint32_t seed = 1;
  bool allOutput = false;  // false: only bytes of an XMODEM transfer are touched

  bool any() const { return corrupt > 0 || drop > 0 || duplicate > 0; }
};

class LineFaults {
 public:
  explicit LineFaults(const LineFaultRates& rates) : rates_(rates), random_(rates.seed) {}

  // Appends what the line carries for one byte the instrument sends.
  void Pass(std::uint8_t byte, std::vector<std::uint8_t>& out);
  const LineFaultRates& rates() const { return rates_; }
  long touched() const { return touched_; }

 private:
  bool Chance(double rate);

  LineFaultRates rates_;
  // mt19937 gives the same sequence everywhere; its raw output is used, not a distribution.
  std::mt19937 random_;
  long touched_ = 0;
};

}  // namespace zephor::sim

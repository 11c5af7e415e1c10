// Measurement memories as a ZEPHOR fills them, seeded and repeatable, for tests and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zephor::sim {

struct DatabaseOptions {
  // Ends the memory with a survey whose stop time marks it as still running.
  bool unstoppedSurvey = false;
};

// Plain, value and survey records (surveys of 0, 1, many and more than 37 measurements, and a
// header whose count says "no measurements"), closed by the end-of-data byte. The result is the
// largest whole database not above size bytes; a size too small for anything gives only the
// end-of-data byte (or nothing for size 0).
std::vector<std::uint8_t> GenerateDatabase(std::uint32_t seed, std::size_t size);
std::vector<std::uint8_t> GenerateDatabase(std::uint32_t seed, std::size_t size,
                                           const DatabaseOptions& options);

}  // namespace zephor::sim

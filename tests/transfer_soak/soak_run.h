// One seeded XMODEM transfer through a noisy line on virtual time, against the simulated
// instrument's own sender or receiver, and what came of it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>

namespace zephor::transfer {

enum class SoakDirection { kSend, kReceive };

inline const char* DirectionName(SoakDirection direction) {
  return direction == SoakDirection::kSend ? "SendFile" : "ReceiveFile";
}
inline void PrintTo(SoakDirection direction, std::ostream* out) {
  *out << DirectionName(direction);
}

struct SoakOutcome {
  int result = 0;               // what SendFile or ReceiveFile returned
  std::uint32_t elapsedMs = 0;  // virtual time the call took
  std::uint32_t boundMs = 0;    // the longest the call may take for this file
  bool dataMatches = false;     // the far side's copy equals the file, up to block padding
  std::size_t size = 0;
  long damaged = 0;      // bytes the line corrupted, dropped or doubled
  long delayed = 0;      // bytes it held back
  std::string mismatch;  // where the copy differs, when it does
  // The copy lacks whole blocks at its end in the way XMODEM cannot tell from a good end: a
  // lone EOT is believed (a lost SOH leaves block 4's number, 0x04, at a block start; a pause
  // inside a block leaves a data byte there; a doubled ACK answers for a last block that never
  // got through).
  bool endedEarlyByProtocol = false;
};

SoakOutcome RunSoakTransfer(SoakDirection direction, std::uint32_t seed,
                            const std::filesystem::path& dir);

// Tally over many runs.
struct SoakTally {
  int runs = 0;
  int successes = 0;
  int falseSuccesses = 0;       // reported success with a copy that differs
  int protocolLimit = 0;        // copies cut short where XMODEM cannot tell, kept apart
  int overBound = 0;            // took longer than the limits allow
  std::map<int, int> failures;  // by result code
  std::uint64_t virtualMs = 0;
  long damaged = 0;
  long delayed = 0;
  std::string firstProblem;

  void Add(std::uint32_t seed, const SoakOutcome& o);
  std::string Summary() const;
};

}  // namespace zephor::transfer

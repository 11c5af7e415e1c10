// What the operations tell a view about transfers and long waits as they go, beside the log
// and the bar: enough for a live line with rate and time left, a summary, and a countdown.
#pragma once

#include <cstdint>
#include <string>

namespace zephor::device {

enum class ProgressKind {
  kTransferPlanned,  // the run will move this file later; totalBytes its length, 0 not known yet
  kTransferStart,    // a file begins to move
  kTransferStep,     // more of it moved, or the line stayed quiet
  kTransferEnd,      // it ended: result says how
  kWaitStart,        // a wait for the instrument began; limitMs is its longest
  kWaitEnd,
};

struct ProgressEvent {
  ProgressKind kind = ProgressKind::kTransferStep;
  // The file's name, or what the wait is for.
  std::string subject;
  bool sending = false;
  long bytes = 0;       // moved so far
  long totalBytes = 0;  // sending: the file's length; receiving: the length announced, 0 unknown
  long blocksResent = 0;
  int result = 0;  // at the end: 1 done, else the transfer's code
  std::uint32_t limitMs = 0;
  // When it happened, on the tick counter of the waits.
  std::uint32_t tickMs = 0;
};

}  // namespace zephor::device

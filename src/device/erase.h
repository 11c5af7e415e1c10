// Erase of the instrument's measurement memory.
#pragma once

#include "device/operator_panel.h"

namespace zephor::device {

// The confirmation code the instrument expects after the word erase.
inline constexpr long kEraseCode = 40718293;
inline constexpr int kEraseReplySize = 5;
inline constexpr int kEraseReplyBufferSize = 50;
inline constexpr int kEraseReplyLimitMs = 5000;

inline constexpr const char* kEraseFinishedLine = "\tFinished.\r\n";

// False when the instrument did not unlock; true once the erase command went out (the
// instrument's confirmation is not checked). announce frames the log entry as a section and ends
// it with "Finished."; a caller that proves the erase first holds that line back (finishedLine
// false) and writes it once the memory reads empty.
bool EraseLogger(Station& station, bool announce, bool finishedLine = true);

}  // namespace zephor::device

// Erase of the instrument's measurement memory.
#pragma once

#include "device/operator_panel.h"

namespace zephor::device {

// The confirmation code the instrument expects after the word erase.
inline constexpr long kEraseCode = 40718293;
inline constexpr int kEraseReplySize = 5;
inline constexpr int kEraseReplyBufferSize = 50;
inline constexpr int kEraseReplyLimitMs = 5000;

// False when the instrument did not unlock; true once the erase command went out (the
// instrument's confirmation is not checked). announce frames the log entry as a section.
bool EraseLogger(Station& station, bool announce);

}  // namespace zephor::device

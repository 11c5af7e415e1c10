// A run killed during a transfer leaves the instrument inside it: deaf to commands until the
// transfer is given up. The cancel sequence ends it, in either direction.
#pragma once

#include "device/operator_panel.h"
#include "serial/serial_port.h"

namespace zephor::device {

// The line is quiet when nothing came for this long; the clearing ends after the limit even on a
// line that keeps talking (a loader that repeats its letter).
inline constexpr int kClearQuietMs = 1000;
inline constexpr int kClearLimitMs = 3000;

// Sends the cancel sequence (two CAN end a transfer; the backspaces leave an idle instrument's
// command line empty), then reads until the line has been quiet for kClearQuietMs or
// kClearLimitMs have passed.
void ClearStoppedTransfer(serial::SerialPort& port);

}  // namespace zephor::device

// The unlock that opens every conversation, and the lock that closes it.
#pragma once

#include "device/operator_panel.h"
#include "serial/serial_port.h"

namespace zephor::device {

inline constexpr char kUnlockCommand[] = "UNLOCK";
inline constexpr char kLockCommand[] = "LOCK";
inline constexpr char kUnlockedReply[] = "OK";
inline constexpr char kNotConnectedMessage[] = "ZEPHOR connected ?\n";
inline constexpr char kStatusNotConnected[] = "No ZEPHOR connected";

// Sends "UNLOCK" and checks for the exact answer "OK". On failure tells the operator, sets the
// status text and returns false; the caller then closes the port without locking.
bool Unlock(Station& station, serial::SerialPort& port);

// The two halves of Unlock: the exchange alone, and what the operator is told when it failed.
bool Unlocked(serial::SerialPort& port);
void ReportNotConnected(Station& station);

}  // namespace zephor::device

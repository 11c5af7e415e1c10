// Status codes of the serial layer: stored sticky in a port and returned by its operations.
#pragma once

namespace zephor::serial {

inline constexpr int kOk = 0;
inline constexpr int kSystemFailure = -1;
inline constexpr int kInvalidPort = -2;
inline constexpr int kPortInUse = -3;
inline constexpr int kOutOfMemory = -5;
inline constexpr int kBadArgument = -7;
inline constexpr int kTimeout = -8;
inline constexpr int kTxFull = -9;
inline constexpr int kNoHardware = -14;
inline constexpr int kNotSupported = -24;
inline constexpr int kBadBaudRate = -25;
inline constexpr int kBadParity = -26;
inline constexpr int kBadDataBits = -27;
inline constexpr int kBadStopBits = -28;
inline constexpr int kBufferFull = -31;
inline constexpr int kWriteRetry = -36;

// Which of the two causes of -3 the system gave for a refused open, kept beside the code as a
// system's own message is kept beside a portable error: to every caller that tests status both
// are -3, but only a refused permission has a fix the operator can make.
enum class OpenRefusal { kNotTold, kInUse, kNoPermission };

// Both queue sizes handed to the system at open.
inline constexpr int kQueueSize = 1050;
// Highest rate a port accepts.
inline constexpr long kMaxBaudRate = 115200;

}  // namespace zephor::serial

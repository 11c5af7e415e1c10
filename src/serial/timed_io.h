// Timed reads and writes over a SerialPort: they look at the queues against the tick counter and
// run the idle hook between looks, which on a real clock sleeps on the line until a byte comes.
// A limit of -1 means no limit.
#pragma once

#include <cstdint>
#include <string_view>

#include "serial/serial_port.h"

namespace zephor::serial {

inline constexpr int kNoLimit = -1;

int ReadChar(SerialPort& port, int limitMs);
int ReadBuffer(SerialPort& port, std::uint8_t* buffer, int n, int limitMs);
// Reads n bytes, each within limitMs of the one before (of the call, for the first), as n
// calls of ReadChar would, but takes what is waiting in one go and lets the wait sleep until
// bytes are waiting: a block of a transfer wakes the program a few times, not once a byte.
// 0, or the first failure (-8 when a byte did not come in time); count holds the bytes read.
int ReadBufferEach(SerialPort& port, std::uint8_t* buffer, int n, int limitMs);
// Reads one line into buffer (size bytes including the closing zero byte).
int ReadString(SerialPort& port, char* buffer, int size, int terminator, int limitMs);
int WriteString(SerialPort& port, std::string_view text, int terminator);
int WriteBuffer(SerialPort& port, const std::uint8_t* data, int n, int limitMs);
int FlushRxBuffer(SerialPort& port);
int Delay(SerialPort& port, int ms);

}  // namespace zephor::serial

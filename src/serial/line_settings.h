// What both drivers share: the line's settings laid out as the Windows device control block
// (so that a port dump reads alike on every system), SetLine's arguments checked and coded once,
// and the ten lines of the port dump. The system halves only make the system calls.
#pragma once

#include "serial/serial_port.h"
#include "serial/status_codes.h"

namespace zephor::serial {

// The device control block's codes for parity, stop bits and the output line controls.
inline constexpr int kNoParity = 0;
inline constexpr int kOddParity = 1;
inline constexpr int kEvenParity = 2;
inline constexpr int kMarkParity = 3;
inline constexpr int kSpaceParity = 4;
inline constexpr int kOneStopBit = 0;
inline constexpr int kTwoStopBits = 2;
inline constexpr int kControlDisable = 0;
inline constexpr int kControlEnable = 1;
inline constexpr int kControlHandshake = 2;
inline constexpr char kXonChar = 0x11;
inline constexpr char kXoffChar = 0x13;
// Flow control starts and stops at a quarter of the receive queue.
inline constexpr unsigned kFlowLimit = kQueueSize / 4;

// Line error bits as the system's error word carries them.
inline constexpr int kErrRxOver = 0x0001;
inline constexpr int kErrOverrun = 0x0002;
inline constexpr int kErrRxParity = 0x0004;
inline constexpr int kErrFrame = 0x0008;
inline constexpr int kErrBreak = 0x0010;
inline constexpr int kErrTxFull = 0x0100;
inline constexpr int kErrMode = 0x8000;

// The settings of a line, field for field as the device control block holds them.
struct DeviceControl {
  long BaudRate = 0;
  int ByteSize = 8;
  int Parity = kNoParity;
  int StopBits = kOneStopBit;
  int fBinary = 1;
  int fParity = 0;
  int fOutxCtsFlow = 0;
  int fOutxDsrFlow = 0;
  int fDtrControl = kControlEnable;
  int fRtsControl = kControlEnable;
  int fOutX = 0;
  int fInX = 0;
  int fNull = 0;
  char XonChar = kXonChar;
  char XoffChar = kXoffChar;
  unsigned XonLim = kFlowLimit;
  unsigned XoffLim = kFlowLimit;
  char EofChar = 0;
  char EvtChar = 0;
};

// What the dump shows of the line beside its settings.
struct LineState {
  int rxUsed = 0;      // bytes in the receive queue
  int txUsed = 0;      // bytes in the transmit queue
  int lineStatus = 0;  // kLine... bits
  int lineErrors = 0;  // kErr... bits gathered since the open
  int modem = 0;       // kModem... bits
  unsigned uart = 0;   // the UART's own word; 0 where the driver has none to show
};

// The code of a parity letter (E, O, N, M or S, in either case); false for any other.
bool ParityCode(char parity, int& code);
// The code of 1 or 2 stop bits; false for any other count.
bool StopBitsCode(int stopBits, int& code);

// Checks SetLine's arguments and stores them in control as far as they go: values before a
// refused one stay, and go out with the next write of the settings. kOk, or the status of the
// first refused argument.
int TakeLineArguments(DeviceControl& control, long baud, char parity, int dataBits, int stopBits);

// The port dump: an empty line, then the settings and the line's state in ten lines as the
// Windows tools lay them out.
void PrintPortDump(const DeviceControl& control, const LineState& state,
                   const LinePrinter& printer);

}  // namespace zephor::serial

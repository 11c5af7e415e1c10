// One parse of the line's arguments and one layout of the dump, for every driver.
#include "serial/line_settings.h"

#include <cctype>
#include <cstdio>

namespace zephor::serial {
namespace {

// Every dump line fits this buffer; a line made longer by an unheard-of number is cut there.
constexpr std::size_t kDumpLineSize = 84;

int Bit(int bits, int mask) { return (bits & mask) != 0 ? 1 : 0; }

// Character fields go out widened as signed values, as the system's own dump shows them.
int Widened(char c) { return static_cast<int>(c); }

}  // namespace

bool ParityCode(char parity, int& code) {
  switch (std::toupper(static_cast<unsigned char>(parity))) {
    case 'E':
      code = kEvenParity;
      return true;
    case 'O':
      code = kOddParity;
      return true;
    case 'N':
      code = kNoParity;
      return true;
    case 'M':
      code = kMarkParity;
      return true;
    case 'S':
      code = kSpaceParity;
      return true;
    default:
      return false;
  }
}

bool StopBitsCode(int stopBits, int& code) {
  if (stopBits != 1 && stopBits != 2) return false;
  code = stopBits == 1 ? kOneStopBit : kTwoStopBits;
  return true;
}

int TakeLineArguments(DeviceControl& control, long baud, char parity, int dataBits, int stopBits) {
  if (baud > kMaxBaudRate) return kBadBaudRate;
  control.BaudRate = baud;
  control.ByteSize = dataBits;
  if (!ParityCode(parity, control.Parity)) return kBadParity;
  if (!StopBitsCode(stopBits, control.StopBits)) return kBadStopBits;
  return kOk;
}

void PrintPortDump(const DeviceControl& d, const LineState& s, const LinePrinter& printer) {
  // Formatted with room for any number, then cut to the dump's line.
  char wide[kDumpLineSize * 2];
  auto print = [&](const char* format, auto... args) {
    std::snprintf(wide, sizeof wide, format, args...);
    wide[kDumpLineSize - 1] = '\0';
    printer(wide);
  };
  printer("");
  print("Port type:  MS Windows  DCB BaudRate: %-6d  ByteSize: %1d  Parity: %1d",
        static_cast<int>(d.BaudRate), d.ByteSize, d.Parity);
  print("StopBits: %1d fBinary: %1d  fRtsControl: %1d", d.StopBits, d.fBinary, d.fRtsControl);
  print("Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  InX: %1d",
        d.fParity, d.fOutxCtsFlow, d.fOutxDsrFlow, d.fDtrControl, d.fOutX, d.fInX);
  print("Null: %1d  DtrControl: %1d  RtsControl: %1d  XonChar: %02x  XoffChar: %02x", d.fNull,
        d.fDtrControl, d.fRtsControl, Widened(d.XonChar), Widened(d.XoffChar));
  print("XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x", d.XonLim, d.XoffLim,
        Widened(d.EofChar), Widened(d.EvtChar));
  print("RX count/free: %5d/%-5d  TX count/free: %5d/%-5d  BREAK/FE/OE/PE: %d%d%d%d", s.rxUsed,
        kQueueSize - s.rxUsed, s.txUsed, kQueueSize - s.txUsed, Bit(s.lineStatus, kLineBreak),
        Bit(s.lineStatus, kLineFraming), Bit(s.lineStatus, kLineOverrun),
        Bit(s.lineStatus, kLineParity));
  const int e = s.lineErrors;
  print("CE_BREAK:%d  CE_FRAME:%d  CE_MODE:%d CE_OVERRUN:%d", Bit(e, kErrBreak), Bit(e, kErrFrame),
        Bit(e, kErrMode), Bit(e, kErrOverrun));
  print("CE_RXOVER:%d CE_RXPARITY:%d CE_TXFULL:%d  CTS/DSR/RI/CD: %d%d%d%d", Bit(e, kErrRxOver),
        Bit(e, kErrRxParity), Bit(e, kErrTxFull), Bit(s.modem, kModemCts), Bit(s.modem, kModemDsr),
        Bit(s.modem, kModemRing), Bit(s.modem, kModemCarrier));
  print("8250:%04x", s.uart);
}

}  // namespace zephor::serial

// Windows communications driver: overlapped reads and writes that return at once with what the
// system queues give or take, and the line settings kept in the device control block.
#include "serial/win32_driver.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <list>
#include <memory>
#include <vector>

#include "serial/line_settings.h"
#include "serial/timed_io.h"

namespace zephor::serial {
namespace {

// Communication error codes of the 16-bit API, which the mapping still honours.
constexpr long kIeBadId = -1;
constexpr long kIeOpen = -2;
constexpr long kIeMemory = -4;
constexpr long kIeHardware = -10;
constexpr long kIeByteSize = -11;
constexpr long kIeBaudRate = -12;

// The device control block's codes are the ones the common half writes and the dump shows.
static_assert(NOPARITY == kNoParity && ODDPARITY == kOddParity && EVENPARITY == kEvenParity &&
              MARKPARITY == kMarkParity && SPACEPARITY == kSpaceParity);
static_assert(ONESTOPBIT == kOneStopBit && TWOSTOPBITS == kTwoStopBits);
static_assert(CE_RXOVER == kErrRxOver && CE_OVERRUN == kErrOverrun && CE_RXPARITY == kErrRxParity &&
              CE_FRAME == kErrFrame && CE_BREAK == kErrBreak && CE_TXFULL == kErrTxFull &&
              CE_MODE == kErrMode);
// GetVersion's high bit and major version 3: a 16-bit Windows 3.x host.
constexpr DWORD kWin32sBit = 0x80000000;
constexpr BYTE kWindows3 = 3;
// While a close waits for queued writes: a margin above the time the bytes take on the line.
constexpr DWORD kDrainMarginMs = 100;
constexpr DWORD kBitsPerByte = 10;
constexpr DWORD kMsPerSecond = 1000;
// The one event a wait for input asks the system for: a byte received.
constexpr DWORD kInputEvents = EV_RXCHAR;

// The settings the system holds, as the common half reads them.
DeviceControl ControlOf(const DCB& d) {
  DeviceControl control;
  control.BaudRate = static_cast<long>(d.BaudRate);
  control.ByteSize = d.ByteSize;
  control.Parity = d.Parity;
  control.StopBits = d.StopBits;
  control.fBinary = static_cast<int>(d.fBinary);
  control.fParity = static_cast<int>(d.fParity);
  control.fOutxCtsFlow = static_cast<int>(d.fOutxCtsFlow);
  control.fOutxDsrFlow = static_cast<int>(d.fOutxDsrFlow);
  control.fDtrControl = static_cast<int>(d.fDtrControl);
  control.fRtsControl = static_cast<int>(d.fRtsControl);
  control.fOutX = static_cast<int>(d.fOutX);
  control.fInX = static_cast<int>(d.fInX);
  control.fNull = static_cast<int>(d.fNull);
  control.XonChar = d.XonChar;
  control.XoffChar = d.XoffChar;
  control.XonLim = d.XonLim;
  control.XoffLim = d.XoffLim;
  control.EofChar = d.EofChar;
  control.EvtChar = d.EvtChar;
  return control;
}

// Errors with which the system answers for a device that went away: USB adapter drivers report
// a pulled plug with any of these, and keep doing so until the handle is closed. A handle that
// once worked as a port and now is not ready or takes no port call at all (Wine's answers when
// the terminal behind it hangs up) has lost its device too.
bool DeviceGone(DWORD error) {
  switch (error) {
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

// One overlapped write and the bytes it carries: both must outlive the call that queued it.
struct PendingWrite {
  OVERLAPPED overlapped{};
  std::vector<std::uint8_t> bytes;
};

class Win32Driver final : public PortDriver {
 public:
  explicit Win32Driver(HANDLE handle);
  ~Win32Driver() override;
  Win32Driver(const Win32Driver&) = delete;
  Win32Driver& operator=(const Win32Driver&) = delete;

  // Queue sizes, the received-byte event, the application's fixed DCB fields and reads that
  // return at once.
  // A refusal here is not the open's failure: SetLine, which follows, reports the line's state.
  void Start();

  int ReadCharNow(SerialPort& port) override;
  int WriteChar(SerialPort& port, std::uint8_t byte) override;
  int Close(SerialPort& port) override;
  int SetLine(SerialPort& port, long baud, char parity, int dataBits, int stopBits) override;
  int SetXonXoff(SerialPort& port, bool on) override;
  int SetRtsCts(SerialPort& port, bool on) override;
  int SetDtrDsr(SerialPort& port, bool on) override;
  int SetDtr(SerialPort& port, bool on) override;
  int SetRts(SerialPort& port, bool on) override;
  int TxFree(SerialPort& port) override;
  int TxUsed(SerialPort& port) override;
  int RxFree(SerialPort& port) override;
  int RxUsed(SerialPort& port) override;
  int ClearTxBuffer(SerialPort& port) override;
  int WriteBufferNow(SerialPort& port, const std::uint8_t* data, int n) override;
  int ReadBufferNow(SerialPort& port, std::uint8_t* buffer, int n) override;
  int DumpPort(SerialPort& port, const LinePrinter& printer) override;
  int SendBreak(SerialPort& port, int ms) override;
  int ModemStatus(SerialPort& port) override;
  int LineStatus(SerialPort& port) override;
  int ClearLineStatus(SerialPort& port) override;
  // Wakes for every byte whatever bytes asks: the system signals each one received.
  bool WaitForInput(int maxMs, int bytes) override;
  bool Lost() const override { return lost_; }

 private:
  // ClearCommError with its error bits added to the accumulated ones; the queue counts.
  COMSTAT QueueState();
  // A queue count, or the status of a lost line once the device went away.
  int Count(SerialPort& port, int value) { return lost_ ? LostLine(port) : value; }
  // What every operation on a line that went away returns.
  static int LostLine(SerialPort& port);
  // After a failed call: true (status -14) when the failure says the device went away.
  bool NoteLoss(SerialPort& port);
  // SetCommState for a flow-control switch: 0, or the refusal stored in status.
  int WriteState(SerialPort& port);
  // How one wait for a received byte ended.
  enum class WaitEnd { kInputOrTime, kNothing, kCannotWait };
  // One wait of at most ms for a received byte or a message for the thread's windows.
  WaitEnd WaitOnce(DWORD ms);
  // Drops the records of writes the system has finished.
  void ReapWrites();
  // Lets queued writes reach the line, then cancels what is left so no record is in use.
  void FinishWrites();
  int Release();

  HANDLE handle_;
  DCB dcb_{};
  DWORD lineErrors_ = 0;  // accumulated since open or ClearLineStatus
  bool lost_ = false;     // the device went away: nothing more can move
  OVERLAPPED readOverlapped_{};
  OVERLAPPED waitOverlapped_{};
  DWORD waitEvents_ = 0;  // where the wait for input puts what happened
  std::list<PendingWrite> writes_;
};

Win32Driver::Win32Driver(HANDLE handle) : handle_(handle) {
  // A read waits on its own event, so a write finishing meanwhile cannot end that wait early;
  // so does the wait for input.
  readOverlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  waitOverlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Win32Driver::~Win32Driver() {
  Release();
  if (readOverlapped_.hEvent != nullptr) CloseHandle(readOverlapped_.hEvent);
  if (waitOverlapped_.hEvent != nullptr) CloseHandle(waitOverlapped_.hEvent);
}

void Win32Driver::Start() {
  SetupComm(handle_, kQueueSize, kQueueSize);
  SetCommMask(handle_, kInputEvents);
  dcb_.DCBlength = sizeof dcb_;
  GetCommState(handle_, &dcb_);
  dcb_.XonChar = kXonChar;
  dcb_.XoffChar = kXoffChar;
  dcb_.fBinary = 1;
  dcb_.fParity = 0;
  dcb_.fNull = 0;
  dcb_.XonLim = kFlowLimit;
  dcb_.XoffLim = kFlowLimit;
  dcb_.fOutxCtsFlow = 0;
  dcb_.fOutxDsrFlow = 0;
  dcb_.fDtrControl = DTR_CONTROL_ENABLE;
  dcb_.fRtsControl = RTS_CONTROL_ENABLE;
  dcb_.EofChar = 0;
  dcb_.EvtChar = 0;
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what is waiting
  SetCommTimeouts(handle_, &timeouts);
}

COMSTAT Win32Driver::QueueState() {
  DWORD errors = 0;
  COMSTAT stat{};
  if (ClearCommError(handle_, &errors, &stat)) {
    lineErrors_ |= errors;
  } else if (DeviceGone(GetLastError())) {
    lost_ = true;
  }
  return stat;
}

int Win32Driver::LostLine(SerialPort& port) {
  port.status = kNoHardware;
  return kNoHardware;
}

bool Win32Driver::NoteLoss(SerialPort& port) {
  if (DeviceGone(GetLastError())) lost_ = true;
  if (lost_) LostLine(port);
  return lost_;
}

int Win32Driver::WriteState(SerialPort& port) {
  if (SetCommState(handle_, &dcb_)) return kOk;
  port.status = MapWin32Error(static_cast<long>(GetLastError()));
  return port.status;
}

void Win32Driver::ReapWrites() {
  writes_.remove_if([](const PendingWrite& w) { return HasOverlappedIoCompleted(&w.overlapped); });
}

void Win32Driver::FinishWrites() {
  ReapWrites();
  if (writes_.empty()) return;
  std::size_t bytes = 0;
  for (const PendingWrite& w : writes_) bytes += w.bytes.size();
  const DWORD baud = std::max<DWORD>(dcb_.BaudRate, 1);
  const DWORD limit =
      static_cast<DWORD>(bytes) * kBitsPerByte * kMsPerSecond / baud + kDrainMarginMs;
  const DWORD start = GetTickCount();
  while (!writes_.empty() && GetTickCount() - start < limit) {
    Sleep(1);
    ReapWrites();
  }
  CancelIo(handle_);
  for (PendingWrite& w : writes_) {
    DWORD moved = 0;
    GetOverlappedResult(handle_, &w.overlapped, &moved, TRUE);
  }
  writes_.clear();
}

int Win32Driver::Release() {
  if (handle_ == INVALID_HANDLE_VALUE) return kOk;
  FinishWrites();
  // Both outputs drop, so the instrument sees the host leave the line.
  EscapeCommFunction(handle_, CLRDTR);
  EscapeCommFunction(handle_, CLRRTS);
  const int rc = CloseHandle(handle_) ? kOk : MapWin32Error(static_cast<long>(GetLastError()));
  handle_ = INVALID_HANDLE_VALUE;
  return rc;
}

int Win32Driver::ReadCharNow(SerialPort& port) {
  std::uint8_t byte = 0;
  const int rc = ReadBufferNow(port, &byte, 1);
  if (rc != kOk) return rc;
  return port.count == 1 ? byte : kTimeout;
}

int Win32Driver::WriteChar(SerialPort& port, std::uint8_t byte) {
  return WriteBufferNow(port, &byte, 1);
}

int Win32Driver::Close(SerialPort&) { return Release(); }

int Win32Driver::SetLine(SerialPort& port, long baud, char parity, int dataBits, int stopBits) {
  // Values stored before a refused argument stay and go out with the next SetCommState.
  DeviceControl wanted = ControlOf(dcb_);
  const int taken = TakeLineArguments(wanted, baud, parity, dataBits, stopBits);
  dcb_.BaudRate = static_cast<DWORD>(wanted.BaudRate);
  dcb_.ByteSize = static_cast<BYTE>(wanted.ByteSize);
  dcb_.Parity = static_cast<BYTE>(wanted.Parity);
  dcb_.StopBits = static_cast<BYTE>(wanted.StopBits);
  if (taken != kOk) {
    port.status = taken;
    return taken;
  }
  if (!SetCommState(handle_, &dcb_)) port.status = MapWin32Error(static_cast<long>(GetLastError()));
  return port.status;
}

int Win32Driver::SetXonXoff(SerialPort& port, bool on) {
  dcb_.fOutX = on ? 1 : 0;
  dcb_.fInX = on ? 1 : 0;
  return WriteState(port);
}

int Win32Driver::SetRtsCts(SerialPort& port, bool on) {
  dcb_.fOutxCtsFlow = on ? 1 : 0;
  dcb_.fRtsControl = on ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
  return WriteState(port);
}

int Win32Driver::SetDtrDsr(SerialPort& port, bool on) {
  dcb_.fOutxDsrFlow = on ? 1 : 0;
  dcb_.fDtrControl = on ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
  return WriteState(port);
}

int Win32Driver::SetDtr(SerialPort&, bool on) {
  dcb_.fDtrControl = on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  SetCommState(handle_, &dcb_);  // a refusal is not reported here
  return kOk;
}

int Win32Driver::SetRts(SerialPort&, bool on) {
  dcb_.fRtsControl = on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  SetCommState(handle_, &dcb_);  // a refusal is not reported here
  return kOk;
}

int Win32Driver::TxFree(SerialPort& port) {
  return Count(port, kQueueSize - static_cast<int>(QueueState().cbOutQue));
}
int Win32Driver::TxUsed(SerialPort& port) {
  return Count(port, static_cast<int>(QueueState().cbOutQue));
}
int Win32Driver::RxFree(SerialPort& port) {
  return Count(port, kQueueSize - static_cast<int>(QueueState().cbInQue));
}
int Win32Driver::RxUsed(SerialPort& port) {
  return Count(port, static_cast<int>(QueueState().cbInQue));
}

int Win32Driver::ClearTxBuffer(SerialPort& port) {
  if (PurgeComm(handle_, PURGE_TXCLEAR)) return kOk;
  port.status = MapWin32Error(static_cast<long>(GetLastError()));
  return port.status;
}

int Win32Driver::WriteBufferNow(SerialPort& port, const std::uint8_t* data, int n) {
  ReapWrites();
  const COMSTAT stat = QueueState();
  port.count = 0;
  if (lost_) return LostLine(port);
  const int room = kQueueSize - static_cast<int>(stat.cbOutQue);
  const int take = std::max(0, std::min(n, room));
  if (take > 0) {
    PendingWrite& w = writes_.emplace_back();
    w.bytes.assign(data, data + take);
    DWORD written = 0;
    if (WriteFile(handle_, w.bytes.data(), static_cast<DWORD>(take), &written, &w.overlapped)) {
      port.count = static_cast<int>(written);
    } else if (GetLastError() == ERROR_IO_PENDING) {
      port.count = take;  // queued; the system finishes it while we go on
    } else {
      writes_.pop_back();
      if (NoteLoss(port)) return kNoHardware;
      QueueState();
    }
  }
  if (port.count == n) return kOk;
  port.status = kTxFull;
  return kTxFull;
}

int Win32Driver::ReadBufferNow(SerialPort& port, std::uint8_t* buffer, int n) {
  const COMSTAT stat = QueueState();
  port.count = 0;
  if (lost_) return LostLine(port);
  if (stat.cbInQue == 0 || n <= 0) return kTimeout;
  const DWORD take = std::min(static_cast<DWORD>(n), stat.cbInQue);
  DWORD got = 0;
  ResetEvent(readOverlapped_.hEvent);
  if (ReadFile(handle_, buffer, take, &got, &readOverlapped_)) {
    port.count = static_cast<int>(got);
    return kOk;
  }
  if (GetLastError() != ERROR_IO_PENDING) {
    if (NoteLoss(port)) return kNoHardware;
    QueueState();
    return kTimeout;
  }
  // The read time-outs make the system finish at once with what is queued; this wait only
  // collects that result and never waits for bytes still on the way.
  if (!GetOverlappedResult(handle_, &readOverlapped_, &got, TRUE)) {
    return NoteLoss(port) ? kNoHardware : kTimeout;
  }
  port.count = static_cast<int>(got);
  return kOk;
}

int Win32Driver::DumpPort(SerialPort& port, const LinePrinter& printer) {
  LineState state;
  state.lineStatus = LineStatus(port);
  const COMSTAT stat = QueueState();  // all zero once the device went away
  state.rxUsed = static_cast<int>(stat.cbInQue);
  state.txUsed = static_cast<int>(stat.cbOutQue);
  state.lineErrors = static_cast<int>(lineErrors_);
  state.modem = ModemStatus(port);
  PrintPortDump(ControlOf(dcb_), state, printer);
  return kOk;
}

int Win32Driver::SendBreak(SerialPort& port, int ms) {
  SetCommBreak(handle_);
  Delay(port, ms);
  ClearCommBreak(handle_);
  return kOk;
}

int Win32Driver::ModemStatus(SerialPort&) {
  DWORD lines = 0;
  GetCommModemStatus(handle_, &lines);  // a refusal leaves every line off
  return static_cast<int>(lines & 0xFF);
}

int Win32Driver::LineStatus(SerialPort&) {
  QueueState();
  return static_cast<int>(lineErrors_ & (CE_BREAK | CE_FRAME | CE_RXPARITY | CE_OVERRUN));
}

int Win32Driver::ClearLineStatus(SerialPort&) {
  lineErrors_ = 0;
  return kOk;
}

bool Win32Driver::WaitForInput(int maxMs, int) {
  const DWORD start = GetTickCount();
  const auto limit = static_cast<DWORD>(std::max(maxMs, 0));
  for (;;) {
    if (lost_ || waitOverlapped_.hEvent == nullptr) return false;
    const DWORD armedAt = GetTickCount();
    const DWORD spent = armedAt - start;
    switch (WaitOnce(spent >= limit ? 0 : limit - spent)) {
      case WaitEnd::kInputOrTime:
        return !lost_;
      case WaitEnd::kCannotWait:
        return false;
      case WaitEnd::kNothing:
        // Wine gives a wait up every few milliseconds on a pseudo-terminal, whose modem lines it
        // cannot read: it is put in place again for the rest of the time, unless it gave up at
        // once, which would only spin.
        if (GetTickCount() == armedAt) return false;
        if (GetTickCount() - start >= limit) return true;
        break;
    }
  }
}

Win32Driver::WaitEnd Win32Driver::WaitOnce(DWORD ms) {
  ResetEvent(waitOverlapped_.hEvent);
  waitEvents_ = 0;
  if (WaitCommEvent(handle_, &waitEvents_, &waitOverlapped_)) {
    return waitEvents_ != 0 ? WaitEnd::kInputOrTime : WaitEnd::kNothing;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) {
    if (DeviceGone(error)) lost_ = true;
    return WaitEnd::kCannotWait;
  }
  // A byte that came before the wait began does not end it: the queue is looked at once the
  // wait is in place.
  const bool queued = QueueState().cbInQue > 0 || lost_;
  const DWORD woke =
      queued ? WAIT_TIMEOUT
             : MsgWaitForMultipleObjects(1, &waitOverlapped_.hEvent, FALSE, ms, QS_ALLINPUT);
  // Setting the mask again ends a wait still pending, with no events; its result must be
  // collected before the record is used again.
  if (!HasOverlappedIoCompleted(&waitOverlapped_)) SetCommMask(handle_, kInputEvents);
  DWORD ignored = 0;
  const bool done = GetOverlappedResult(handle_, &waitOverlapped_, &ignored, TRUE) != FALSE;
  // Bytes queued, a message or the time up end the wait; its own end only with the byte it
  // names. A wait that failed by itself says nothing of the line: the queue's state tells a
  // line that went away.
  if (woke != WAIT_OBJECT_0) return WaitEnd::kInputOrTime;
  return done && waitEvents_ != 0 ? WaitEnd::kInputOrTime : WaitEnd::kNothing;
}

}  // namespace

std::string Win32DeviceName(int portIndex) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", portIndex + 1);
  return name;
}

int MapWin32Error(long error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return kPortInUse;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return kNoHardware;
    case kIeBadId:
      return kInvalidPort;
    case kIeOpen:
      return kPortInUse;
    case kIeMemory:
      return kOutOfMemory;
    case kIeHardware:
      return kNoHardware;
    case kIeByteSize:
      return kBadDataBits;
    case kIeBaudRate:
      return kBadBaudRate;
    default:
      return kSystemFailure;
  }
}

int Win32PortFactory::OpenDevice(SerialPort& port) {
  const DWORD version = GetVersion();
  if ((version & kWin32sBit) != 0 && LOBYTE(LOWORD(version)) == kWindows3) return kNotSupported;
  const std::string name = Win32DeviceName(port.portIndex);
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const int status = MapWin32Error(static_cast<long>(GetLastError()));
    // A COM port opens without sharing: the system denies access to a port another program holds.
    if (status == kPortInUse) port.refusal = OpenRefusal::kInUse;
    return status;
  }
  auto driver = std::make_unique<Win32Driver>(handle);
  driver->Start();
  port.driver = std::move(driver);
  return kOk;
}

}  // namespace zephor::serial

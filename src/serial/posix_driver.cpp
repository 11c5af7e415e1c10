// POSIX termios driver: a non-blocking, exclusively held tty with the Windows line-settings record.
#include "serial/posix_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "serial/line_settings.h"
#include "serial/timed_io.h"

namespace zephor::serial {
namespace {

// While a read waits for more bytes than have come, the wait sleeps on after the first one for
// the time the rest take on the line, at most this long: a block of a transfer wakes the
// program every score of bytes instead of for each, and its last byte is still read as it comes.
constexpr long kGatherMs = 20;
constexpr long kBitsPerByte = 10;
constexpr long kMicrosPerMs = 1000;
constexpr long kMicrosPerSecond = 1000000;
constexpr long kNanosPerMicro = 1000;
// The line settings last written or about to be written, field for field as on Windows.
using LineSettings = DeviceControl;

struct RateEntry {
  long baud;
  speed_t speed;
};

constexpr RateEntry kRates[] = {{50, B50},        {75, B75},       {110, B110},     {134, B134},
                                {150, B150},      {200, B200},     {300, B300},     {600, B600},
                                {1200, B1200},    {1800, B1800},   {2400, B2400},   {4800, B4800},
                                {9600, B9600},    {19200, B19200}, {38400, B38400}, {57600, B57600},
                                {115200, B115200}};

bool SpeedOf(long baud, speed_t& speed) {
  for (const RateEntry& r : kRates) {
    if (r.baud == baud) {
      speed = r.speed;
      return true;
    }
  }
  return false;
}

long BaudOf(speed_t speed) {
  for (const RateEntry& r : kRates) {
    if (r.speed == speed) return r.baud;
  }
  return 0;
}

struct SizeEntry {
  int bits;
  tcflag_t flag;
};

constexpr SizeEntry kSizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

bool SizeFlag(int bits, tcflag_t& flag) {
  for (const SizeEntry& e : kSizes) {
    if (e.bits == bits) {
      flag = e.flag;
      return true;
    }
  }
  return false;
}

// Errors with which the system answers for a device that went away: a line that hung up, an
// adapter pulled out.
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// The one place where a system error becomes a port status.
int MapError(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTTY:
    case EIO:
      return kNoHardware;
    case EACCES:
    case EBUSY:
    case EPERM:
    case EWOULDBLOCK:  // the lock of another holder
      return kPortInUse;
    case ENOMEM:
      return kOutOfMemory;
    default:
      return kSystemFailure;
  }
}

// Beside the -3 of a refused open, which cause the system gave: a device whose permissions keep
// this user out, or a holder that has it already (its exclusive flag or its lock).
OpenRefusal RefusalOf(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return OpenRefusal::kNoPermission;
    case EBUSY:
    case EWOULDBLOCK:
      return OpenRefusal::kInUse;
    default:
      return OpenRefusal::kNotTold;
  }
}

// A refused open: its status, with the cause kept in the port.
int RefuseOpen(SerialPort& port, int error) {
  port.refusal = RefusalOf(error);
  return MapError(error);
}

// Line errors since a starting point, read from the device's counters where it keeps them.
class ErrorCounters {
 public:
  // Takes the counters as the new starting point.
  void Reset(int fd) { haveBase_ = Read(fd, base_); }
  // Error bits whose counters grew since the starting point; 0 on a device without counters.
  int Bits(int fd) const {
    Counts now;
    if (!haveBase_ || !Read(fd, now)) return 0;
    int bits = 0;
    if (now.brk > base_.brk) bits |= kErrBreak;
    if (now.frame > base_.frame) bits |= kErrFrame;
    if (now.parity > base_.parity) bits |= kErrRxParity;
    if (now.overrun > base_.overrun) bits |= kErrOverrun;
    if (now.bufOverrun > base_.bufOverrun) bits |= kErrRxOver;
    return bits;
  }

 private:
  struct Counts {
    long brk = 0, frame = 0, parity = 0, overrun = 0, bufOverrun = 0;
  };
  static bool Read(int fd, Counts& c) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct ic{};
    if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
    c = {ic.brk, ic.frame, ic.parity, ic.overrun, ic.buf_overrun};
    return true;
#else
    (void)fd;
    (void)c;
    return false;
#endif
  }
  Counts base_;
  bool haveBase_ = false;
};

class PosixDriver final : public PortDriver {
 public:
  explicit PosixDriver(int fd) : fd_(fd) { errors_.Reset(fd_); }
  ~PosixDriver() override { Release(); }
  PosixDriver(const PosixDriver&) = delete;
  PosixDriver& operator=(const PosixDriver&) = delete;

  // Takes over what the system reports and makes the line raw with both outputs raised.
  void Start(const termios& current);

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
  bool WaitForInput(int maxMs, int bytes) override;
  bool Lost() const override { return lost_; }

  // Asks a serial device to hand on every received byte at once (USB adapters otherwise hold
  // them for their latency timer); a device without the switch is left as it is.
  void AskLowLatency();

 private:
  // Writes the whole settings record to the device; 0 or the status it failed with.
  int WriteSettings();
  // After the first byte of a wait for bytes: sleeps, leftMs at most, for the time the bytes not
  // yet queued take on the line.
  void Gather(int bytes, long leftMs);
  // Result of a flow-control switch: 0, or the refusal stored in status.
  int Report(SerialPort& port, int rc);
  // After a refused tcsetattr: true when the device holds all of the settings it has.
  bool TookWhatItCan(const termios& wanted) const;
  void SetModemLine(int line, bool on);
  // Bytes in a system queue; 0 when the device cannot tell, the status of a lost line when gone.
  int QueueBytes(SerialPort& port, unsigned long request);
  // A failed system call: notes a device that went away and stores the mapped status.
  int Fail(SerialPort& port, int error);
  // What every operation on a line that went away returns.
  static int LostLine(SerialPort& port);
  // Drops the outputs, gives up the lock and closes; 0 or the mapped error.
  int Release();

  int fd_;
  LineSettings dcb_;
  ErrorCounters errors_;
  int lineErrors_ = 0;          // accumulated since open or ClearLineStatus
  bool lost_ = false;           // the device went away: nothing more can move
  int serialFlags_ = 0;         // as the device had them before low-latency mode
  bool restoreSerial_ = false;  // low-latency mode was switched on by this open
};

void PosixDriver::Start(const termios& current) {
  dcb_.BaudRate = BaudOf(cfgetospeed(&current));
  dcb_.ByteSize = 8;
  for (const SizeEntry& e : kSizes) {
    if ((current.c_cflag & CSIZE) == e.flag) dcb_.ByteSize = e.bits;
  }
  // SetLine follows at once with the caller's settings; until then the line is raw at the
  // rate it had, so a refused SetLine leaves no cooked terminal behind.
  if (WriteSettings() != kOk) {
    SetModemLine(TIOCM_DTR, true);
    SetModemLine(TIOCM_RTS, true);
  }
}

int PosixDriver::WriteSettings() {
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return MapError(errno);
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  tcflag_t size = 0;
  if (!SizeFlag(dcb_.ByteSize, size)) return kBadDataBits;
  tio.c_cflag |= size;
  switch (dcb_.Parity) {
    case kNoParity:
      break;
    case kOddParity:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case kEvenParity:
      tio.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case kMarkParity:
      tio.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case kSpaceParity:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
#endif
    default:
      return kSystemFailure;
  }
  if (dcb_.StopBits == kTwoStopBits) tio.c_cflag |= CSTOPB;
  // Parity is sent but, as on Windows with fParity off, received bytes are not checked.
  if (dcb_.fParity != 0) tio.c_iflag |= INPCK;
  if (dcb_.fOutxCtsFlow != 0) tio.c_cflag |= CRTSCTS;
  if (dcb_.fOutX != 0) tio.c_iflag |= IXON;
  if (dcb_.fInX != 0) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb_.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb_.XoffChar);
  // The descriptor does not block, so reads return at once with what is waiting; a minimum of
  // one byte makes an empty queue read as "try again" and keeps the end of input for a line
  // that hung up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  speed_t speed = B0;
  if (!SpeedOf(dcb_.BaudRate, speed)) return kBadBaudRate;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0 && !TookWhatItCan(tio)) return MapError(errno);
  // The outputs follow their control fields; the handshake modes start with the line raised.
  SetModemLine(TIOCM_DTR, dcb_.fDtrControl != kControlDisable);
  SetModemLine(TIOCM_RTS, dcb_.fRtsControl != kControlDisable);
  return kOk;
}

bool PosixDriver::TookWhatItCan(const termios& wanted) const {
  // A pseudo-terminal carries bytes without framing and keeps its own size and parity bits;
  // the C library reports that as EINVAL although the rate and the raw mode were set.
  if (errno != EINVAL) return false;
  termios now{};
  if (tcgetattr(fd_, &now) != 0) return false;
  return cfgetospeed(&now) == cfgetospeed(&wanted) && (now.c_lflag & (ICANON | ECHO)) == 0 &&
         now.c_cc[VMIN] == wanted.c_cc[VMIN] && now.c_cc[VTIME] == wanted.c_cc[VTIME];
}

void PosixDriver::SetModemLine(int line, bool on) {
  // A pseudo-terminal has no modem lines; that is no failure of the port.
  ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
}

int PosixDriver::Report(SerialPort& port, int rc) {
  if (rc != kOk) port.status = rc;
  return rc;
}

int PosixDriver::QueueBytes(SerialPort& port, unsigned long request) {
  int n = 0;
  if (ioctl(fd_, request, &n) != 0 && DeviceGone(errno)) lost_ = true;
  if (lost_) return LostLine(port);
  return std::max(0, n);
}

int PosixDriver::Fail(SerialPort& port, int error) {
  if (DeviceGone(error)) lost_ = true;
  port.status = MapError(error);
  return port.status;
}

int PosixDriver::LostLine(SerialPort& port) {
  port.status = kNoHardware;
  return kNoHardware;
}

void PosixDriver::AskLowLatency() {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  // Pseudo-terminals and other devices without the switch refuse the request; the open goes
  // on either way, and a device that went away shows at the first read or write.
  serial_struct serial{};
  if (ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
  if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return;
  const int previous = serial.flags;
  serial.flags |= ASYNC_LOW_LATENCY;
  if (ioctl(fd_, TIOCSSERIAL, &serial) != 0) return;
  serialFlags_ = previous;
  restoreSerial_ = true;
#endif
}

int PosixDriver::Release() {
  if (fd_ < 0) return kOk;
#if defined(__linux__) && defined(TIOCGSERIAL)
  // The next user of the device finds it as this open found it.
  serial_struct serial{};
  if (restoreSerial_ && ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
    serial.flags = serialFlags_;
    ioctl(fd_, TIOCSSERIAL, &serial);
  }
#endif
  SetModemLine(TIOCM_DTR, false);
  SetModemLine(TIOCM_RTS, false);
  // A tty that outlives this descriptor (a pseudo-terminal's) must not stay exclusive.
  ioctl(fd_, TIOCNXCL);
  flock(fd_, LOCK_UN);
  const int rc = close(fd_) == 0 ? kOk : MapError(errno);
  fd_ = -1;
  return rc;
}

int PosixDriver::ReadCharNow(SerialPort& port) {
  std::uint8_t byte = 0;
  const int rc = ReadBufferNow(port, &byte, 1);
  if (rc != kOk) return rc;
  return port.count == 1 ? byte : kTimeout;
}

int PosixDriver::WriteChar(SerialPort& port, std::uint8_t byte) {
  return WriteBufferNow(port, &byte, 1);
}

int PosixDriver::Close(SerialPort&) { return Release(); }

int PosixDriver::SetLine(SerialPort& port, long baud, char parity, int dataBits, int stopBits) {
  const int taken = TakeLineArguments(dcb_, baud, parity, dataBits, stopBits);
  if (taken != kOk) {
    port.status = taken;
    return taken;
  }
  const int rc = WriteSettings();
  if (rc != kOk) port.status = rc;
  return port.status;
}

int PosixDriver::SetXonXoff(SerialPort& port, bool on) {
  dcb_.fOutX = on ? 1 : 0;
  dcb_.fInX = on ? 1 : 0;
  return Report(port, WriteSettings());
}

int PosixDriver::SetRtsCts(SerialPort& port, bool on) {
  dcb_.fOutxCtsFlow = on ? 1 : 0;
  dcb_.fRtsControl = on ? kControlHandshake : kControlDisable;
  return Report(port, WriteSettings());
}

int PosixDriver::SetDtrDsr(SerialPort& port, bool on) {
  // termios has no DSR handshake: it is recorded, and DTR follows its control field.
  dcb_.fOutxDsrFlow = on ? 1 : 0;
  dcb_.fDtrControl = on ? kControlHandshake : kControlDisable;
  return Report(port, WriteSettings());
}

int PosixDriver::SetDtr(SerialPort&, bool on) {
  dcb_.fDtrControl = on ? kControlEnable : kControlDisable;
  WriteSettings();  // a refusal is not reported here
  return kOk;
}

int PosixDriver::SetRts(SerialPort&, bool on) {
  dcb_.fRtsControl = on ? kControlEnable : kControlDisable;
  WriteSettings();  // a refusal is not reported here
  return kOk;
}

int PosixDriver::TxFree(SerialPort& port) {
  const int used = TxUsed(port);
  return used < 0 ? used : kQueueSize - used;
}
int PosixDriver::TxUsed(SerialPort& port) { return QueueBytes(port, TIOCOUTQ); }
int PosixDriver::RxFree(SerialPort& port) {
  const int used = RxUsed(port);
  return used < 0 ? used : std::max(0, kQueueSize - used);
}
int PosixDriver::RxUsed(SerialPort& port) { return QueueBytes(port, FIONREAD); }

int PosixDriver::ClearTxBuffer(SerialPort& port) {
  if (tcflush(fd_, TCOFLUSH) == 0) return kOk;
  return Fail(port, errno);
}

int PosixDriver::WriteBufferNow(SerialPort& port, const std::uint8_t* data, int n) {
  port.count = 0;
  const int room = TxFree(port);
  if (room < 0) return room;
  const int take = std::max(0, std::min(n, room));
  ssize_t written = 0;
  if (take > 0) {
    do {
      written = write(fd_, data, static_cast<std::size_t>(take));
    } while (written < 0 && errno == EINTR);
    if (written < 0 && DeviceGone(errno)) return Fail(port, errno);
    // A full system queue (EAGAIN) or any other refusal moved nothing.
    if (written < 0) written = 0;
  }
  port.count = static_cast<int>(written);
  if (port.count == n) return kOk;
  port.status = kTxFull;
  return kTxFull;
}

int PosixDriver::ReadBufferNow(SerialPort& port, std::uint8_t* buffer, int n) {
  port.count = 0;
  if (lost_) return LostLine(port);
  if (n <= 0) return kTimeout;
  // A read takes what is waiting, at most n, without a count of the queue first.
  ssize_t got = 0;
  do {
    got = read(fd_, buffer, static_cast<std::size_t>(n));
  } while (got < 0 && errno == EINTR);
  if (got == 0) {
    // The end of input: the line hung up (an empty queue reads as "try again").
    lost_ = true;
    return LostLine(port);
  }
  if (got < 0 && DeviceGone(errno)) return Fail(port, errno);
  if (got < 0) return kTimeout;
  port.count = static_cast<int>(got);
  return kOk;
}

int PosixDriver::DumpPort(SerialPort& port, const LinePrinter& printer) {
  LineState state;
  state.lineStatus = LineStatus(port);
  state.rxUsed = std::max(0, RxUsed(port));
  state.txUsed = std::max(0, TxUsed(port));
  state.lineErrors = lineErrors_;
  state.modem = ModemStatus(port);
  PrintPortDump(dcb_, state, printer);
  return kOk;
}

int PosixDriver::SendBreak(SerialPort& port, int ms) {
  ioctl(fd_, TIOCSBRK);
  Delay(port, ms);
  ioctl(fd_, TIOCCBRK);
  return kOk;
}

int PosixDriver::ModemStatus(SerialPort&) {
  int lines = 0;
  // A pseudo-terminal has no modem lines: every input reads as off.
  if (ioctl(fd_, TIOCMGET, &lines) != 0) return 0;
  int bits = 0;
  if ((lines & TIOCM_CTS) != 0) bits |= kModemCts;
  if ((lines & TIOCM_DSR) != 0) bits |= kModemDsr;
  if ((lines & TIOCM_RI) != 0) bits |= kModemRing;
  if ((lines & TIOCM_CD) != 0) bits |= kModemCarrier;
  return bits;
}

int PosixDriver::LineStatus(SerialPort&) {
  lineErrors_ |= errors_.Bits(fd_);
  return lineErrors_ & (kErrBreak | kErrFrame | kErrRxParity | kErrOverrun);
}

int PosixDriver::ClearLineStatus(SerialPort&) {
  lineErrors_ = 0;
  errors_.Reset(fd_);
  return kOk;
}

void PosixDriver::Gather(int bytes, long leftMs) {
  int queued = 0;
  if (dcb_.BaudRate <= 0 || ioctl(fd_, FIONREAD, &queued) != 0 || queued >= bytes) return;
  const long lineUs = (bytes - queued) * kBitsPerByte * kMicrosPerSecond / dcb_.BaudRate;
  const long napUs = std::min({lineUs, kGatherMs * kMicrosPerMs, leftMs * kMicrosPerMs});
  if (napUs <= 0) return;
  const timespec nap{0, napUs * kNanosPerMicro};
  nanosleep(&nap, nullptr);
}

bool PosixDriver::WaitForInput(int maxMs, int bytes) {
  if (lost_) return false;
  const auto start = std::chrono::steady_clock::now();
  pollfd p{fd_, POLLIN, 0};
  const int rc = poll(&p, 1, maxMs);
  // A hung-up line reports at once and for ever, readable included: it is lost, and the
  // caller sleeps instead of spinning until its wait ends.
  if (rc > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) lost_ = true;
  if (lost_ || (rc < 0 && errno != EINTR)) return false;
  if (rc > 0 && (p.revents & POLLIN) == 0) return false;
  if (rc > 0 && bytes > 1) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    Gather(bytes, maxMs - spent);
  }
  return true;
}

}  // namespace

std::string PosixDevicePath(int portIndex) {
  const std::string name = "ZEPHOR_COM" + std::to_string(portIndex + 1);
  const char* value = std::getenv(name.c_str());
  if (value != nullptr && *value != '\0') return value;
  return "/dev/ttyS" + std::to_string(portIndex);
}

int PosixPortFactory::OpenDevice(SerialPort& port) {
  const std::string path = PosixDevicePath(port.portIndex);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return RefuseOpen(port, errno);
  // The port is ours alone: the lock stops every other holder, the tty flag most openers.
  termios current{};
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 ||
      tcgetattr(fd, &current) != 0) {
    const int rc = RefuseOpen(port, errno);
    close(fd);
    return rc;
  }
  auto driver = std::make_unique<PosixDriver>(fd);
  driver->AskLowLatency();
  driver->Start(current);
  port.driver = std::move(driver);
  return kOk;
}

}  // namespace zephor::serial

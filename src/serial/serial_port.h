// The SerialPort record, its table of driver operations and the way a port is opened and closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/status_codes.h"
#include "serial/timing.h"

namespace zephor::serial {

struct SerialPort;

// Receives each line of DumpPort.
using LinePrinter = std::function<void(const std::string&)>;

// Modem and line status bits.
inline constexpr int kModemCts = 0x10;
inline constexpr int kModemDsr = 0x20;
inline constexpr int kModemRing = 0x40;
inline constexpr int kModemCarrier = 0x80;
inline constexpr int kLineBreak = 0x10;
inline constexpr int kLineFraming = 0x08;
inline constexpr int kLineParity = 0x04;
inline constexpr int kLineOverrun = 0x02;

// The operation table of a port, in its fixed order. Every operation a driver does not
// override fails with -24 and stores it in the port's status.
class PortDriver {
 public:
  virtual ~PortDriver() = default;
  virtual int ReadCharNow(SerialPort& port);
  virtual int WriteChar(SerialPort& port, std::uint8_t byte);
  // Releases the device; the generic ClosePort then unlinks and frees the record.
  virtual int Close(SerialPort& port);
  virtual int SetLine(SerialPort& port, long baud, char parity, int dataBits, int stopBits);
  virtual int SetXonXoff(SerialPort& port, bool on);
  virtual int SetRtsCts(SerialPort& port, bool on);
  virtual int SetDtrDsr(SerialPort& port, bool on);
  virtual int SetDtr(SerialPort& port, bool on);
  virtual int SetRts(SerialPort& port, bool on);
  virtual int TxFree(SerialPort& port);
  virtual int TxUsed(SerialPort& port);
  virtual int RxFree(SerialPort& port);
  virtual int RxUsed(SerialPort& port);
  virtual int ClearTxBuffer(SerialPort& port);
  virtual int WriteBufferNow(SerialPort& port, const std::uint8_t* data, int n);
  virtual int ReadBufferNow(SerialPort& port, std::uint8_t* buffer, int n);
  virtual int DumpPort(SerialPort& port, const LinePrinter& printer);
  virtual int SendBreak(SerialPort& port, int ms);
  virtual int ModemStatus(SerialPort& port);
  virtual int LineStatus(SerialPort& port);
  virtual int ClearLineStatus(SerialPort& port);
  virtual void ClearError(SerialPort& port);

  // Not part of the table: lets the idle hook sleep until input arrives instead of spinning,
  // maxMs at most; returns at once when bytes are queued already. A driver that can may sleep
  // on until bytes are waiting (the POSIX one does; Windows wakes for every byte, and for a
  // message for the thread's windows too). Returns false when the driver cannot wait, so the
  // caller sleeps on its own.
  virtual bool WaitForInput(int maxMs, int bytes);
  // Not part of the table: true once the device went away (hung up, unplugged). Every operation
  // then fails with -14 and every wait on the port ends at once.
  virtual bool Lost() const;

 protected:
  static int NotSupported(SerialPort& port);
};

// Opens the device of a port index and installs its driver. Platform code lives behind it.
class PortFactory {
 public:
  virtual ~PortFactory() = default;
  // On success installs port.driver and returns 0; otherwise returns the mapped status.
  virtual int OpenDevice(SerialPort& port) = 0;
};

// What OpenPort needs from its surroundings.
struct PortEnvironment {
  PortFactory* factory = nullptr;
  Timing* timing = nullptr;
};

struct SerialPort {
  std::unique_ptr<PortDriver> driver;  // not-supported table until a device opened
  SerialPort* next = nullptr;          // link in the open-ports list
  int portIndex = -1;                  // 0 is COM1
  int status = kOk;                    // sticky: only ClearError, an open and a transfer reset it
  int count = 0;                       // bytes moved by the last buffer operation
  OpenRefusal refusal = OpenRefusal::kNotTold;  // beside a -3 from the open: its cause
  Timing* timing = nullptr;
  // How many bytes the timed read in progress waits for: the idle hook's sleep on the line may
  // last until that many came (or its time is up).
  int awaitedBytes = 1;

  PortDriver& ops();

  int ReadCharNow() { return ops().ReadCharNow(*this); }
  int WriteChar(std::uint8_t b) { return ops().WriteChar(*this, b); }
  int SetLine(long baud, char parity, int dataBits, int stopBits) {
    return ops().SetLine(*this, baud, parity, dataBits, stopBits);
  }
  int SetXonXoff(bool on) { return ops().SetXonXoff(*this, on); }
  int SetRtsCts(bool on) { return ops().SetRtsCts(*this, on); }
  int SetDtrDsr(bool on) { return ops().SetDtrDsr(*this, on); }
  int SetDtr(bool on) { return ops().SetDtr(*this, on); }
  int SetRts(bool on) { return ops().SetRts(*this, on); }
  int TxFree() { return ops().TxFree(*this); }
  int TxUsed() { return ops().TxUsed(*this); }
  int RxFree() { return ops().RxFree(*this); }
  int RxUsed() { return ops().RxUsed(*this); }
  int ClearTxBuffer() { return ops().ClearTxBuffer(*this); }
  int WriteBufferNow(const std::uint8_t* d, int n) { return ops().WriteBufferNow(*this, d, n); }
  int ReadBufferNow(std::uint8_t* b, int n) { return ops().ReadBufferNow(*this, b, n); }
  int DumpPort(const LinePrinter& p) { return ops().DumpPort(*this, p); }
  int SendBreak(int ms) { return ops().SendBreak(*this, ms); }
  int ModemStatus() { return ops().ModemStatus(*this); }
  int LineStatus() { return ops().LineStatus(*this); }
  int ClearLineStatus() { return ops().ClearLineStatus(*this); }
  void ClearError() { ops().ClearError(*this); }
};

// Never returns null: a port that failed to open carries its status and fails every operation.
SerialPort* OpenPort(const PortEnvironment& env, int portIndex, long baud, char parity,
                     int dataBits, int stopBits);
// Releases the device and the record; returns 0 or the driver's close failure.
int ClosePort(SerialPort* port);
// Closes every port still open, newest first (also run at program exit).
void CloseAllPorts();
// Number of ports currently open.
int OpenPortCount();

// Closes its port when it goes out of scope.
class PortHandle {
 public:
  explicit PortHandle(SerialPort* port) : port_(port) {}
  ~PortHandle() { Close(); }
  PortHandle(const PortHandle&) = delete;
  PortHandle& operator=(const PortHandle&) = delete;
  SerialPort& operator*() const { return *port_; }
  SerialPort* operator->() const { return port_; }
  SerialPort* get() const { return port_; }
  int Close() {
    int rc = 0;
    if (port_ != nullptr) rc = ClosePort(port_);
    port_ = nullptr;
    return rc;
  }

 private:
  SerialPort* port_;
};

}  // namespace zephor::serial

// Generic half of the serial layer: the not-supported table, opening, closing, the open-ports list.
#include "serial/serial_port.h"

#include <cstdlib>
#include <new>

namespace zephor::serial {
namespace {

SerialPort* g_openPorts = nullptr;
bool g_exitRoutineRegistered = false;

// A port whose open never reached a device uses this table.
PortDriver& NotSupportedTable() {
  static PortDriver table;
  return table;
}

// Handed out when memory for a port cannot be had; it is never released.
SerialPort& FallbackPort() {
  static SerialPort port;
  return port;
}

void Link(SerialPort* port) {
  if (!g_exitRoutineRegistered) {
    g_exitRoutineRegistered = true;
    std::atexit(CloseAllPorts);
  }
  port->next = g_openPorts;
  g_openPorts = port;
}

void Unlink(SerialPort* port) {
  for (SerialPort** p = &g_openPorts; *p != nullptr; p = &(*p)->next) {
    if (*p == port) {
      *p = port->next;
      port->next = nullptr;
      return;
    }
  }
}

}  // namespace

int PortDriver::NotSupported(SerialPort& port) {
  port.status = kNotSupported;
  return kNotSupported;
}

int PortDriver::ReadCharNow(SerialPort& p) { return NotSupported(p); }
int PortDriver::WriteChar(SerialPort& p, std::uint8_t) { return NotSupported(p); }
int PortDriver::Close(SerialPort&) { return kOk; }
int PortDriver::SetLine(SerialPort& p, long, char, int, int) { return NotSupported(p); }
int PortDriver::SetXonXoff(SerialPort& p, bool) { return NotSupported(p); }
int PortDriver::SetRtsCts(SerialPort& p, bool) { return NotSupported(p); }
int PortDriver::SetDtrDsr(SerialPort& p, bool) { return NotSupported(p); }
int PortDriver::SetDtr(SerialPort& p, bool) { return NotSupported(p); }
int PortDriver::SetRts(SerialPort& p, bool) { return NotSupported(p); }
int PortDriver::TxFree(SerialPort& p) { return NotSupported(p); }
int PortDriver::TxUsed(SerialPort& p) { return NotSupported(p); }
int PortDriver::RxFree(SerialPort& p) { return NotSupported(p); }
int PortDriver::RxUsed(SerialPort& p) { return NotSupported(p); }
int PortDriver::ClearTxBuffer(SerialPort& p) { return NotSupported(p); }
int PortDriver::WriteBufferNow(SerialPort& p, const std::uint8_t*, int) {
  p.count = 0;
  return NotSupported(p);
}
int PortDriver::ReadBufferNow(SerialPort& p, std::uint8_t*, int) {
  p.count = 0;
  return NotSupported(p);
}
int PortDriver::DumpPort(SerialPort& p, const LinePrinter& printer) {
  printer("Port dump not supported for this driver");
  printer("");
  return NotSupported(p);
}
int PortDriver::SendBreak(SerialPort& p, int) { return NotSupported(p); }
int PortDriver::ModemStatus(SerialPort& p) { return NotSupported(p); }
int PortDriver::LineStatus(SerialPort& p) { return NotSupported(p); }
int PortDriver::ClearLineStatus(SerialPort& p) { return NotSupported(p); }
void PortDriver::ClearError(SerialPort& p) { p.status = kOk; }
bool PortDriver::WaitForInput(int, int) { return false; }
bool PortDriver::Lost() const { return false; }

PortDriver& SerialPort::ops() { return driver ? *driver : NotSupportedTable(); }

SerialPort* OpenPort(const PortEnvironment& env, int portIndex, long baud, char parity,
                     int dataBits, int stopBits) {
  auto* port = new (std::nothrow) SerialPort;
  if (port == nullptr) {
    SerialPort& fallback = FallbackPort();
    fallback.status = kOutOfMemory;
    fallback.portIndex = -1;
    fallback.timing = env.timing;
    Unlink(&fallback);
    Link(&fallback);
    return &fallback;
  }
  port->timing = env.timing;
  Link(port);
  port->portIndex = portIndex;
  port->status = kOk;
  if (env.factory == nullptr) {
    port->status = kNotSupported;
    return port;
  }
  const int rc = env.factory->OpenDevice(*port);
  if (rc != kOk || !port->driver) {
    port->driver.reset();
    port->status = rc != kOk ? rc : kSystemFailure;
    return port;
  }
  port->SetLine(baud, parity, dataBits, stopBits);
  return port;
}

int ClosePort(SerialPort* port) {
  if (port == nullptr) return kOk;
  Unlink(port);
  if (port == &FallbackPort()) return kOk;
  int rc = kOk;
  if (port->driver) rc = port->driver->Close(*port);
  delete port;
  return rc;
}

void CloseAllPorts() {
  while (g_openPorts != nullptr) ClosePort(g_openPorts);
}

int OpenPortCount() {
  int n = 0;
  for (SerialPort* p = g_openPorts; p != nullptr; p = p->next) ++n;
  return n;
}

}  // namespace zephor::serial

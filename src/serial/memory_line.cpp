// A serial line in memory and its driver, run on virtual time.
#include "serial/memory_line.h"

#include <algorithm>
#include <cctype>

#include "serial/line_settings.h"

namespace zephor::serial {

void MemoryLine::CarryOneMs() {
  if (txBaud > 0) {
    // One start bit, eight data bits, one stop bit; an idle line saves up nothing.
    constexpr long kByteCredit = 10 * 1000;
    txCredit = txQueue.empty() ? 0 : txCredit + txBaud;
    while (txCredit >= kByteCredit && !txQueue.empty()) {
      toPeer.push_back(txQueue.front());
      txQueue.pop_front();
      txCredit -= kByteCredit;
    }
    return;
  }
  int budget = txBytesPerMs > 0 ? txBytesPerMs : static_cast<int>(txQueue.size());
  while (budget-- > 0 && !txQueue.empty()) {
    toPeer.push_back(txQueue.front());
    txQueue.pop_front();
  }
}

void VirtualTiming::Advance(std::uint32_t ms) {
  for (std::uint32_t i = 0; i < ms; ++i) {
    ++now_;
    if (line_ != nullptr) line_->CarryOneMs();
    if (peer_) peer_(now_, *line_);
  }
}

void VirtualTiming::IdleFor(SerialPort*, std::uint32_t) {
  ++idleCalls_;
  Advance(1);
}

void VirtualTiming::SleepMs(std::uint32_t ms) { Advance(ms); }

int MemoryDriver::ReadCharNow(SerialPort&) {
  if (line_.toHost.empty()) return kTimeout;
  const int c = line_.toHost.front();
  line_.toHost.pop_front();
  return c;
}

int MemoryDriver::WriteChar(SerialPort& port, std::uint8_t byte) {
  return WriteBufferNow(port, &byte, 1);
}

int MemoryDriver::Close(SerialPort&) {
  line_.dtr = false;
  line_.rts = false;
  line_.deviceHeld = false;
  return kOk;
}

int MemoryDriver::SetLine(SerialPort& port, long baud, char parity, int dataBits, int stopBits) {
  // The memory line keeps only its rate; the arguments are checked as a driver checks them.
  DeviceControl control;
  const int taken = TakeLineArguments(control, baud, parity, dataBits, stopBits);
  if (control.BaudRate != 0) line_.baud = control.BaudRate;
  if (taken != kOk) port.status = taken;
  return taken != kOk ? taken : port.status;
}

int MemoryDriver::SetDtr(SerialPort&, bool on) {
  line_.dtr = on;
  return kOk;
}

int MemoryDriver::SetRts(SerialPort&, bool on) {
  line_.rts = on;
  return kOk;
}

int MemoryDriver::TxFree(SerialPort&) {
  return kQueueSize - static_cast<int>(line_.txQueue.size());
}
int MemoryDriver::TxUsed(SerialPort&) { return static_cast<int>(line_.txQueue.size()); }
int MemoryDriver::RxFree(SerialPort&) {
  return std::max(0, kQueueSize - static_cast<int>(line_.toHost.size()));
}
int MemoryDriver::RxUsed(SerialPort&) { return static_cast<int>(line_.toHost.size()); }

int MemoryDriver::ClearTxBuffer(SerialPort&) {
  line_.txQueue.clear();
  return kOk;
}

int MemoryDriver::WriteBufferNow(SerialPort& port, const std::uint8_t* data, int n) {
  const int room = kQueueSize - static_cast<int>(line_.txQueue.size());
  const int take = std::max(0, std::min(n, room));
  line_.txQueue.insert(line_.txQueue.end(), data, data + take);
  port.count = take;
  if (take == n) return kOk;
  port.status = kTxFull;
  return kTxFull;
}

int MemoryDriver::ReadBufferNow(SerialPort& port, std::uint8_t* buffer, int n) {
  if (line_.toHost.empty()) {
    port.count = 0;
    return kTimeout;
  }
  const int take = std::min(n, static_cast<int>(line_.toHost.size()));
  for (int i = 0; i < take; ++i) {
    buffer[i] = line_.toHost.front();
    line_.toHost.pop_front();
  }
  port.count = take;
  return kOk;
}

int MemoryDriver::ModemStatus(SerialPort&) { return line_.modemBits & 0xFF; }

void MemoryPortFactory::AddLine(int portIndex, MemoryLine* line) {
  lines_.emplace_back(portIndex, line);
}

int MemoryPortFactory::OpenDevice(SerialPort& port) {
  for (auto& [index, line] : lines_) {
    if (index != port.portIndex) continue;
    if (line->deviceHeld) {
      port.refusal = OpenRefusal::kInUse;
      return kPortInUse;
    }
    line->deviceHeld = true;
    line->dtr = true;
    line->rts = true;
    port.driver = std::make_unique<MemoryDriver>(*line);
    return kOk;
  }
  return kNoHardware;
}

}  // namespace zephor::serial

// A serial line held in memory on a virtual clock: the carrier of simulated instruments and tests.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "serial/serial_port.h"
#include "serial/timing.h"

namespace zephor::serial {

// Both directions of one line. The host side is what a SerialPort driver sees; the peer side
// is the simulated instrument.
class MemoryLine {
 public:
  // Bytes from the host that the peer has not taken yet.
  std::deque<std::uint8_t> toPeer;
  // Bytes from the peer waiting in the host's receive queue.
  std::deque<std::uint8_t> toHost;
  // Bytes the host queued but the line has not carried yet (the transmit queue).
  std::deque<std::uint8_t> txQueue;
  // Bytes carried per millisecond from the transmit queue; 0 carries all at once.
  int txBytesPerMs = 0;
  // When set, the transmit queue is carried at this rate, ten bits a byte, instead.
  long txBaud = 0;
  long txCredit = 0;        // thousandths of a bit carried toward the next byte
  bool deviceHeld = false;  // a driver has the line open
  bool dtr = false;
  bool rts = false;
  int modemBits = kModemCts | kModemDsr | kModemCarrier;
  long baud = 0;

  void PeerSend(const std::vector<std::uint8_t>& bytes) {
    toHost.insert(toHost.end(), bytes.begin(), bytes.end());
  }
  // Moves queued host bytes onto the line for one millisecond.
  void CarryOneMs();
};

// A simulated instrument or scripted peer: runs once per virtual millisecond.
using PeerStep = std::function<void(std::uint32_t nowMs, MemoryLine& line)>;

// Virtual time: every idle pass advances the clock by one millisecond and runs the peer, however
// long the pass may wait: a simulated peer answers within the millisecond it is due.
class VirtualTiming final : public Timing {
 public:
  std::uint32_t TickMs() override { return now_; }
  void IdleFor(SerialPort* port, std::uint32_t maxMs) override;
  void SleepMs(std::uint32_t ms) override;
  bool StopRequested() const override { return stop_; }

  void Attach(MemoryLine* line, PeerStep peer) {
    line_ = line;
    peer_ = std::move(peer);
  }
  void Advance(std::uint32_t ms);
  void RequestStop() { stop_ = true; }
  int idleCalls() const { return idleCalls_; }
  std::uint32_t now() const { return now_; }

 private:
  std::uint32_t now_ = 0;
  int idleCalls_ = 0;
  bool stop_ = false;
  MemoryLine* line_ = nullptr;
  PeerStep peer_;
};

// Driver over a MemoryLine; queue sizes as on the real port.
class MemoryDriver final : public PortDriver {
 public:
  explicit MemoryDriver(MemoryLine& line) : line_(line) {}
  int ReadCharNow(SerialPort& port) override;
  int WriteChar(SerialPort& port, std::uint8_t byte) override;
  int Close(SerialPort& port) override;
  int SetLine(SerialPort& port, long baud, char parity, int dataBits, int stopBits) override;
  int SetDtr(SerialPort& port, bool on) override;
  int SetRts(SerialPort& port, bool on) override;
  int TxFree(SerialPort& port) override;
  int TxUsed(SerialPort& port) override;
  int RxFree(SerialPort& port) override;
  int RxUsed(SerialPort& port) override;
  int ClearTxBuffer(SerialPort& port) override;
  int WriteBufferNow(SerialPort& port, const std::uint8_t* data, int n) override;
  int ReadBufferNow(SerialPort& port, std::uint8_t* buffer, int n) override;
  int ModemStatus(SerialPort& port) override;

 private:
  MemoryLine& line_;
};

// Opens memory lines by port index; an index without a line is a missing device (-14).
class MemoryPortFactory final : public PortFactory {
 public:
  void AddLine(int portIndex, MemoryLine* line);
  int OpenDevice(SerialPort& port) override;

 private:
  std::vector<std::pair<int, MemoryLine*>> lines_;
};

}  // namespace zephor::serial

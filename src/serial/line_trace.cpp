#include "serial/line_trace.h"

#include <cstdio>
#include <utility>

namespace zephor::serial {
namespace {

constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kLastPrintable = 0x7e;
constexpr std::uint8_t kLineFeedByte = 0x0a;
constexpr std::uint8_t kCarriageReturnByte = 0x0d;
constexpr char kSentMark[] = "> ";
constexpr char kReceivedMark[] = "< ";

// Forwards every operation to the driver the device was opened with, noting the bytes moved.
class TracingDriver final : public PortDriver {
 public:
  TracingDriver(std::unique_ptr<PortDriver> inner, LineTrace& trace, std::string name)
      : inner_(std::move(inner)), trace_(trace), name_(std::move(name)) {}

  int ReadCharNow(SerialPort& port) override {
    const int c = inner_->ReadCharNow(port);
    NotedLoss();
    if (c >= 0) {
      const auto byte = static_cast<std::uint8_t>(c);
      trace_.Bytes(false, &byte, 1);
    }
    return c;
  }
  int WriteChar(SerialPort& port, std::uint8_t byte) override {
    const int rc = inner_->WriteChar(port, byte);
    if (rc == kOk) trace_.Bytes(true, &byte, 1);
    NotedLoss();
    return rc;
  }
  int Close(SerialPort& port) override {
    const int rc = inner_->Close(port);
    trace_.Note("close " + name_ + ": status " + std::to_string(rc));
    return rc;
  }
  int SetLine(SerialPort& port, long baud, char parity, int dataBits, int stopBits) override {
    const int rc = inner_->SetLine(port, baud, parity, dataBits, stopBits);
    char text[96];
    std::snprintf(text, sizeof text, "line %s: %ld %c%d%d, status %d", name_.c_str(), baud, parity,
                  dataBits, stopBits, rc);
    trace_.Note(text);
    return rc;
  }
  int SetXonXoff(SerialPort& port, bool on) override { return inner_->SetXonXoff(port, on); }
  int SetRtsCts(SerialPort& port, bool on) override { return inner_->SetRtsCts(port, on); }
  int SetDtrDsr(SerialPort& port, bool on) override { return inner_->SetDtrDsr(port, on); }
  int SetDtr(SerialPort& port, bool on) override { return inner_->SetDtr(port, on); }
  int SetRts(SerialPort& port, bool on) override { return inner_->SetRts(port, on); }
  int TxFree(SerialPort& port) override { return inner_->TxFree(port); }
  int TxUsed(SerialPort& port) override { return inner_->TxUsed(port); }
  int RxFree(SerialPort& port) override { return inner_->RxFree(port); }
  int RxUsed(SerialPort& port) override {
    const int used = inner_->RxUsed(port);
    NotedLoss();
    return used;
  }
  int ClearTxBuffer(SerialPort& port) override { return inner_->ClearTxBuffer(port); }
  int WriteBufferNow(SerialPort& port, const std::uint8_t* data, int n) override {
    const int rc = inner_->WriteBufferNow(port, data, n);
    if (port.count > 0) trace_.Bytes(true, data, port.count);
    NotedLoss();
    return rc;
  }
  int ReadBufferNow(SerialPort& port, std::uint8_t* buffer, int n) override {
    const int rc = inner_->ReadBufferNow(port, buffer, n);
    if (port.count > 0) trace_.Bytes(false, buffer, port.count);
    NotedLoss();
    return rc;
  }
  int DumpPort(SerialPort& port, const LinePrinter& printer) override {
    return inner_->DumpPort(port, printer);
  }
  int SendBreak(SerialPort& port, int ms) override {
    trace_.Note("break " + name_ + ": " + std::to_string(ms) + " ms");
    return inner_->SendBreak(port, ms);
  }
  int ModemStatus(SerialPort& port) override { return inner_->ModemStatus(port); }
  int LineStatus(SerialPort& port) override { return inner_->LineStatus(port); }
  int ClearLineStatus(SerialPort& port) override { return inner_->ClearLineStatus(port); }
  void ClearError(SerialPort& port) override { inner_->ClearError(port); }
  bool WaitForInput(int maxMs, int bytes) override { return inner_->WaitForInput(maxMs, bytes); }
  bool Lost() const override { return NotedLoss(); }

 private:
  // Whether the device went away; the trace says so the first time it is seen.
  bool NotedLoss() const {
    const bool lost = inner_->Lost();
    if (lost && !lostNoted_) {
      lostNoted_ = true;
      trace_.Note("lost " + name_ + ": the device went away");
    }
    return lost;
  }

  std::unique_ptr<PortDriver> inner_;
  LineTrace& trace_;
  std::string name_;
  mutable bool lostNoted_ = false;  // the trace says it once
};

}  // namespace

LineTrace::LineTrace(std::ostream& out, std::function<std::uint32_t()> clock)
    : out_(out), clock_(std::move(clock)), start_(clock_()) {}

LineTrace::~LineTrace() { FlushBytes(); }

std::string LineTrace::Stamp(std::uint32_t tick) const {
  char text[32];
  std::snprintf(text, sizeof text, "%10lu ms ", static_cast<unsigned long>(tick - start_));
  return text;
}

void LineTrace::Note(const std::string& text) {
  FlushBytes();
  out_ << Stamp(clock_()) << "- " << text << "\n";
  out_.flush();
}

void LineTrace::Bytes(bool sent, const std::uint8_t* data, int n) {
  for (int i = 0; i < n; ++i) {
    if (!pending_.empty() && pendingSent_ != sent) FlushBytes();
    if (pending_.empty()) {
      pendingSent_ = sent;
      pendingTick_ = clock_();
    }
    pending_.push_back(data[i]);
    if (data[i] == kLineFeedByte || pending_.size() >= kTraceBytesPerLine) FlushBytes();
  }
}

void LineTrace::FlushBytes() {
  if (pending_.empty()) return;
  std::string hex;
  std::string text;
  for (const std::uint8_t byte : pending_) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X ", byte);
    hex += digits;
    if (byte == kLineFeedByte) {
      text += "\\n";
    } else if (byte == kCarriageReturnByte) {
      text += "\\r";
    } else if (byte >= kFirstPrintable && byte <= kLastPrintable) {
      text += static_cast<char>(byte);
    } else {
      text += '.';
    }
  }
  hex.resize(kTraceBytesPerLine * 3, ' ');
  out_ << Stamp(pendingTick_) << (pendingSent_ ? kSentMark : kReceivedMark) << hex << "|" << text
       << "|\n";
  out_.flush();
  pending_.clear();
}

TracingPortFactory::TracingPortFactory(PortFactory& inner, LineTrace& trace,
                                       std::function<std::string(int)> portName)
    : inner_(inner), trace_(trace), portName_(std::move(portName)) {}

int TracingPortFactory::OpenDevice(SerialPort& port) {
  const std::string name =
      portName_ ? portName_(port.portIndex) : "port " + std::to_string(port.portIndex);
  const int rc = inner_.OpenDevice(port);
  trace_.Note("open " + name + ": status " + std::to_string(rc));
  if (rc == kOk && port.driver) {
    port.driver = std::make_unique<TracingDriver>(std::move(port.driver), trace_, name);
  }
  return rc;
}

}  // namespace zephor::serial

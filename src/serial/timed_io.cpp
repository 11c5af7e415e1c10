// Timed functions: loops on the tick counter that run the idle hook on every pass; on a real
// clock each pass sleeps on the line until a byte comes, the limit runs out or the window is due.
#include "serial/timed_io.h"

#include <cstring>

namespace zephor::serial {
namespace {

constexpr int kCarriageReturn = 13;
constexpr int kLineFeed = 10;
constexpr int kLowestTerminator = -2;  // -2: CR LF ends a line, -1: only CR LF
constexpr int kHighestTerminator = 255;
constexpr int kFlushChunk = 64;

// Deadline of one timed call: the tick at the call plus the limit. A line that went away has
// nothing left to wait for.
class Deadline {
 public:
  Deadline(SerialPort& port, int limitMs)
      : port_(port),
        timing_(port.timing),
        start_(timing_ ? timing_->TickMs() : 0),
        limit_(limitMs) {}
  bool Expired() const {
    if (timing_ == nullptr) return true;
    if (timing_->StopRequested() || port_.ops().Lost()) return true;
    if (limit_ < 0) return false;
    return timing_->TickMs() - start_ >= static_cast<std::uint32_t>(limit_);
  }
  // Milliseconds before the limit runs out; the longest a pass may wait when there is none.
  std::uint32_t LeftMs() const {
    if (timing_ == nullptr || limit_ < 0) return kServeEveryMs;
    const std::uint32_t elapsed = timing_->TickMs() - start_;
    const auto limit = static_cast<std::uint32_t>(limit_);
    return elapsed >= limit ? 0 : limit - elapsed;
  }

 private:
  SerialPort& port_;
  Timing* timing_;
  std::uint32_t start_;
  int limit_;
};

// One pass of a wait for input: the idle hook, sleeping on the line until the deadline at most
// or until bytes are waiting.
void RunIdle(SerialPort& port, const Deadline& deadline, int bytes = 1) {
  if (port.timing == nullptr) return;
  port.awaitedBytes = bytes;
  port.timing->IdleFor(&port, deadline.LeftMs());
  port.awaitedBytes = 1;
}

}  // namespace

// The reads take what is there first and wait only when nothing was: a byte that waits costs
// one look at the line, not a count of the queue and then a read.
int ReadChar(SerialPort& port, int limitMs) {
  const Deadline deadline(port, limitMs);
  for (;;) {
    const int c = port.ReadCharNow();
    if (c != kTimeout) return c;
    RunIdle(port, deadline);
    if (deadline.Expired()) return kTimeout;
  }
}

int ReadBuffer(SerialPort& port, std::uint8_t* buffer, int n, int limitMs) {
  const Deadline deadline(port, limitMs);
  int total = 0;
  port.count = 0;
  while (total < n) {
    const int rc = port.ReadBufferNow(buffer + total, n - total);
    if (rc == kTimeout) {
      port.count = total;
      if (deadline.Expired()) return kTimeout;
      // The look at the line after the pass comes before the deadline's: bytes that came during
      // the last pass are taken however many the pass waited for.
      RunIdle(port, deadline, n - total);
      continue;
    }
    if (port.count > 0) total += port.count;
    port.count = total;
    if (total < n && port.status < 0) return port.status;
    if (total < n && rc < 0) return rc;
  }
  port.count = total;
  return kOk;
}

int ReadBufferEach(SerialPort& port, std::uint8_t* buffer, int n, int limitMs) {
  int total = 0;
  port.count = 0;
  while (total < n) {
    const Deadline deadline(port, limitMs);
    int rc = kTimeout;
    while ((rc = port.ReadBufferNow(buffer + total, n - total)) == kTimeout) {
      // As in ReadChar the deadline is looked at after the pass, not after a look at the line:
      // while it is a pass away, the pass wakes for a single byte.
      const bool lastPass = deadline.LeftMs() <= kServeEveryMs;
      RunIdle(port, deadline, lastPass ? 1 : n - total);
      if (deadline.Expired()) {
        port.count = total;
        return kTimeout;
      }
    }
    if (rc < 0) {
      port.count = total;
      return rc;
    }
    total += port.count;
    port.count = total;
  }
  return kOk;
}

int ReadString(SerialPort& port, char* buffer, int size, int terminator, int limitMs) {
  if (size < 2 || terminator < kLowestTerminator || terminator > kHighestTerminator) {
    port.status = kBadArgument;
    return kBadArgument;
  }
  const Deadline deadline(port, limitMs);
  int stored = 0;
  bool heldCr = false;
  buffer[0] = '\0';
  // Stores one byte; false when the buffer is full (status -31).
  auto store = [&](int byte) {
    if (stored >= size - 1) {
      port.status = kBufferFull;
      return false;
    }
    buffer[stored++] = static_cast<char>(byte);
    buffer[stored] = '\0';
    port.count = stored;
    return true;
  };
  port.count = 0;
  for (;;) {
    const int c = port.ReadCharNow();
    if (c == kTimeout) {
      if (deadline.Expired()) {
        if (heldCr && terminator >= 0 && !store(kCarriageReturn)) return kBufferFull;
        return kTimeout;
      }
      RunIdle(port, deadline);
      continue;
    }
    if (c < 0) {
      port.status = c;
      return c;
    }
    if (heldCr) {
      heldCr = false;
      if (c == kLineFeed && terminator < 0) return port.status;
      if (!store(kCarriageReturn)) return kBufferFull;
    }
    if (c == terminator) return port.status;
    if (c == kCarriageReturn) {
      heldCr = true;
      continue;
    }
    if (!store(c)) return kBufferFull;
  }
}

int WriteString(SerialPort& port, std::string_view text, int terminator) {
  port.count = 0;
  if (terminator < kLowestTerminator || terminator > kHighestTerminator) {
    port.status = kBadArgument;
    return kBadArgument;
  }
  port.WriteBufferNow(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<int>(text.size()));
  if (port.status < 0) return port.status;
  if (terminator >= 0) {
    port.WriteChar(static_cast<std::uint8_t>(terminator));
  } else if (terminator == kLowestTerminator) {
    port.WriteChar(kCarriageReturn);
    port.WriteChar(kLineFeed);
  }
  return port.status;
}

int WriteBuffer(SerialPort& port, const std::uint8_t* data, int n, int limitMs) {
  const Deadline deadline(port, limitMs);
  const int remembered = port.status;
  int total = 0;
  for (;;) {
    port.status = kOk;
    const int rc = port.WriteBufferNow(data + total, n - total);
    if (port.count > 0) total += port.count;
    port.status = rc < 0 ? rc : remembered;
    port.count = total;
    if (rc == kOk || total >= n) {
      port.status = remembered;
      return kOk;
    }
    if (rc != kTxFull && rc != kWriteRetry) return rc;
    if (deadline.Expired()) return rc;
    // Room in the transmit queue comes with no input to wake on: short passes.
    if (port.timing != nullptr) port.timing->Idle(&port);
  }
}

int FlushRxBuffer(SerialPort& port) {
  std::uint8_t scratch[kFlushChunk];
  for (;;) {
    const int rc = port.ReadBufferNow(scratch, kFlushChunk);
    if (rc < 0 && rc != kTimeout) return rc;
    if (rc == kTimeout || port.count == 0) return kOk;
  }
}

int Delay(SerialPort& port, int ms) {
  const Deadline deadline(port, ms);
  // A pause waits for no input: bytes already on the line must not cut its sleep short.
  while (!deadline.Expired()) {
    if (port.timing != nullptr) port.timing->IdleFor(nullptr, deadline.LeftMs());
  }
  return kOk;
}

}  // namespace zephor::serial

// Set-up, clean-up, abort check and the guarded writers shared by the sender and the receiver.
#include "transfer/xfer.h"

#include <new>

#include "files/folder_file.h"
#include "serial/timed_io.h"

namespace zephor::transfer {
namespace {

constexpr int kCharLimitMs = 30000;
constexpr int kCharFirstMark = 25;
constexpr int kBufferLimitMs = 60000;
constexpr int kBufferFirstMark = 55;
constexpr int kMarkStep = 5;
constexpr int kMsPerSecond = 1000;
constexpr int kCancelCount = 10;
constexpr int kSettleMs = 1000;

std::uint32_t Now(const serial::SerialPort& port) {
  return port.timing != nullptr ? port.timing->TickMs() : 0;
}

void RunIdle(serial::SerialPort& port) {
  if (port.timing != nullptr) port.timing->Idle(&port);
}

bool Retryable(int rc) { return rc == serial::kTxFull || rc == serial::kWriteRetry; }

// How a guarded writer differs between one byte and a buffer.
struct WriterRules {
  int limitMs;
  int firstMark;
  int failureCode;
  const char* countdown;
};

// Tries write() until it returns 0, the limit runs out, the port fails or the transfer stops.
template <typename Write>
int GuardedWrite(XFER& x, const WriterRules& rules, Write write) {
  serial::SerialPort& port = x.port;
  const int remembered = port.status;
  const std::uint32_t start = Now(port);
  int mark = rules.firstMark;
  int rc = write();
  while (rc != 0) {
    const long elapsed = static_cast<long>(Now(port) - start);
    const long left = elapsed >= rules.limitMs ? 0 : rules.limitMs - elapsed;
    if (Retryable(rc)) {
      if (left == 0) {
        XferMessage(x, "Timeout error sending buffer");
        x.result = rules.failureCode;
        return rules.failureCode;
      }
      port.status = remembered;
    } else {
      XferMessage(x, "Error %d sending buffer", rc);
      x.result = rules.failureCode;
      return rc;
    }
    if (x.result != kXferStopped && AbortCheck(x)) return x.result;
    RunIdle(port);
    const int secondsLeft = static_cast<int>(left / kMsPerSecond);
    if (secondsLeft <= mark) {
      XferMessage(x, rules.countdown, secondsLeft);
      mark -= kMarkStep;
    }
    rc = write();
  }
  return 0;
}

}  // namespace

int ApplyOptions(XFER& x, const XferOptions& options) {
  if (options.disk != nullptr) x.disk = options.disk;
  const auto& tags = options.tags;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const int tag = tags[i];
    if (tag == 0) break;  // an explicit end of the list
    const bool hasValue = i + 1 < tags.size();
    switch (tag) {
      case kTagNone:
        break;
      case kTagCarrierWatch:
        x.carrierWatch = true;
        break;
      case kTagChecksum:
        x.crcMode = false;
        break;
      case kTagIgnored7:
      case kTagIgnored27:
        if (!hasValue) return serial::kBadArgument;
        ++i;
        break;
      case kTagHandshakeWait:
        if (!x.sending || !hasValue) return serial::kBadArgument;
        x.handshakeWaitMs = tags[++i];
        break;
      default:
        return serial::kBadArgument;
    }
  }
  return 0;
}

bool XferSetUp(XFER& x) {
  x.result = 0;
  x.consecutiveErrors = 0;
  x.file.reset();
  x.blockNumberByte = -1;
  x.blockLength = -1;
  x.blockNumber = 1;
  x.buffer.reset(new (std::nothrow) std::uint8_t[kLongBlock]);
  if (!x.buffer) {
    XferMessage(x, "Failed to allocate XFER buffer(s)");
    x.result = kXferNoBuffer;
    XferCleanUp(x);
    return false;
  }
  x.lastControlByte = -1;
  x.port.status = serial::kOk;
  if (AbortCheck(x)) {
    XferCleanUp(x);
    return false;
  }
  return true;
}

bool XferOpenFile(XFER& x, const std::string& openName) {
  x.offset = 0;
  XferMessage(x, "Opening file %s", x.fileName.c_str());
  const std::string& name = openName.empty() ? x.fileName : openName;
  // A received file is made new: never over a link someone left under its name. A file to send
  // is read only when it is a plain file, not through a link.
  x.file = x.sending ? x.disk->OpenToRead(name, x.fileFailure.why)
                     : files::OpenNewFile(*x.disk, name, x.fileFailure.why);
  if (!x.file) {
    XferMessage(x, "Failed to open file");
    x.result = kXferOpenFailed;
    XferCleanUp(x);
    return false;
  }
  x.filesDone = 1;
  if (AbortCheck(x)) {
    XferCleanUp(x);
    return false;
  }
  return true;
}

bool XferCloseFile(XFER& x) {
  if (!x.file) return true;
  const std::unique_ptr<files::DiskFile> file = std::move(x.file);
  std::string why;
  if (x.sending) return file->Close(why);
  const bool synced = file->Sync(why);
  const long long stored = file->Size();
  if (synced && file->Close(why)) return true;
  x.fileFailure.why = why;
  x.fileFailure.bytesWritten = stored >= 0 ? static_cast<long>(stored) : x.offset;
  return false;
}

bool AbortCheck(XFER& x) {
  if (x.poll) x.poll(x);
  // A closed window ends the transfer like a poll routine asking it to stop.
  if (x.port.timing != nullptr && x.port.timing->StopRequested()) x.result = kXferStopped;
  if (x.result == kXferStopped) return true;
  if (x.result < 0) return false;
  if (x.carrierWatch) {
    const int modem = x.port.ModemStatus();
    if (modem >= 0 && (modem & serial::kModemCarrier) == 0) {
      x.result = kXferCarrierLost;
      XferMessage(x, "Transfer aborted...");
      XferCleanUp(x);
      return true;
    }
  }
  return false;
}

void XferCleanUp(XFER& x) {
  XferCloseFile(x);
  if (x.result != 0) {
    std::uint8_t cancel[2 * kCancelCount];
    for (int i = 0; i < kCancelCount; ++i) {
      cancel[i] = kCan;
      cancel[kCancelCount + i] = kBs;
    }
    // The failure that brought us here is what the caller learns, not a failed cancel.
    const int failure = x.result;
    XferWriteBuffer(x, cancel, static_cast<int>(sizeof cancel));
    x.result = failure;
    serial::Delay(x.port, kSettleMs);
    while (x.port.RxUsed() > 0) x.port.ReadCharNow();
  }
  x.buffer.reset();
  x.fileSource.reset();
}

int XferOutcome(const XFER& x) { return x.result != 0 ? x.result : x.filesDone; }

int XferWriteChar(XFER& x, std::uint8_t byte) {
  static const WriterRules rules{kCharLimitMs, kCharFirstMark, kXferWriteCharFailed,
                                 "%d sec left to WriteChar"};
  return GuardedWrite(x, rules, [&] { return x.port.WriteChar(byte); });
}

int XferWriteBuffer(XFER& x, const std::uint8_t* data, int n) {
  static const WriterRules rules{kBufferLimitMs, kBufferFirstMark, kXferSendBlockFailed,
                                 "%d sec to complete WriteBuffer"};
  int total = 0;
  x.port.count = 0;
  return GuardedWrite(x, rules, [&] {
    if (total >= n) return 0;
    const int rc = x.port.WriteBufferNow(data + total, n - total);
    if (x.port.count > 0) total += x.port.count;
    x.port.count = total;
    return total >= n ? 0 : (rc < 0 ? rc : serial::kTxFull);
  });
}

int ReadControlByte(XFER& x, int budgetMs) {
  int budget = budgetMs;
  for (;;) {
    const int c = serial::ReadChar(x.port, kByteReadMs);
    if (c >= 0) return c;
    if (AbortCheck(x)) return kStopRead;
    budget -= kByteReadMs;
    if (budget <= 0) return kNoByte;
  }
}

bool DrainLine(XFER& x) {
  while (serial::ReadChar(x.port, kByteReadMs) >= 0) {
    if (AbortCheck(x)) return false;
  }
  return true;
}

}  // namespace zephor::transfer

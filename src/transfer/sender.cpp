// XMODEM sender: looks up the file, waits for the receiver, sends blocks until EOT is acknowledged.
#include "transfer/sender.h"

#include <cstring>

#include "serial/timed_io.h"
#include "transfer/crc16.h"
#include "transfer/xmodem.h"

namespace zephor::transfer {
namespace {

constexpr std::uint8_t kPadByte = 0x00;
constexpr int kByteMask = 0xFF;

bool SendCheckCode(XFER& x) {
  const int n = x.blockLength;
  if (x.crcMode) {
    x.checkValue = Crc16(static_cast<std::size_t>(n), 0, x.buffer.get());
    const int high = XferWriteChar(x, static_cast<std::uint8_t>(x.checkValue >> 8));
    const int low = XferWriteChar(x, static_cast<std::uint8_t>(x.checkValue & kByteMask));
    return high == 0 && low == 0;
  }
  x.checkValue = ByteChecksum(static_cast<std::size_t>(n), x.buffer.get());
  return XferWriteChar(x, static_cast<std::uint8_t>(x.checkValue)) == 0;
}

}  // namespace

bool WaitForStartSignal(XFER& x) {
  if (AbortCheck(x)) return false;
  for (;;) {
    const int c = ReadControlByte(x, x.handshakeWaitMs);
    if (c == kStopRead) return false;
    if (c >= 0) {
      const int previous = x.lastControlByte;
      x.lastControlByte = c;
      if (c == kNak) {
        if (x.crcMode) {
          XferMessage(x, "Falling back to checksum mode");
          x.crcMode = false;
        }
        return true;
      }
      if (c == kCrcRequest) {
        if (x.crcMode) return true;
      } else if (c == kCan) {
        if (previous == kCan) {
          XferMessage(x, "Remote end sent cancel code");
          x.result = kXferCancelled;
          return false;
        }
      } else if (!DrainLine(x)) {
        return false;
      }
    }
    if (++x.consecutiveErrors >= kMaxErrors) {
      x.result = kXferNoStart;
      return false;
    }
    if (AbortCheck(x)) return false;
  }
}

bool ReadNextBlock(XFER& x) {
  x.blockLength = kShortBlock;
  std::size_t got = 0;
  // A read may bring less than asked before the end of the file.
  while (got < static_cast<std::size_t>(kShortBlock)) {
    const long long part = x.file->Read(
        std::span<std::uint8_t>(x.buffer.get() + got, kShortBlock - got), x.fileFailure.why);
    if (part < 0) {
      // What is left of the file is unknown: sending the rest as its end would pass a cut
      // image for a whole one.
      XferMessage(x, "Failed to read file");
      x.result = kXferFileError;
      x.blockLength = 0;
      return false;
    }
    if (part == 0) break;
    got += static_cast<std::size_t>(part);
  }
  if (got == 0) {
    x.blockLength = 0;
    return false;
  }
  if (got < static_cast<std::size_t>(kShortBlock)) {
    std::memset(x.buffer.get() + got, kPadByte, kShortBlock - got);
  }
  x.blockNumberByte = static_cast<int>(x.blockNumber & kByteMask);
  ++x.blockNumber;
  x.offset += static_cast<long>(got);
  return !AbortCheck(x);
}

bool SendBlock(XFER& x) {
  XferMessage(x, "Sending block %ld", x.blockNumber - 1);
  const std::uint8_t start = x.blockLength == kLongBlock ? kStx : kSoh;
  if (XferWriteChar(x, start) != 0) {
    XferMessage(x, "Error sending first character");
    x.result = kXferSendBlockFailed;
    return false;
  }
  const int number = XferWriteChar(x, static_cast<std::uint8_t>(x.blockNumberByte));
  const int complement = XferWriteChar(x, static_cast<std::uint8_t>(kByteMask - x.blockNumberByte));
  if (number != 0 || complement != 0) {
    XferMessage(x, "Error sending block number");
    x.result = kXferSendBlockFailed;
    return false;
  }
  if (XferWriteBuffer(x, x.buffer.get(), x.blockLength) != 0) return false;
  if (!SendCheckCode(x)) {
    XferMessage(x, "Error sending checksum");
    x.result = kXferSendBlockFailed;
    return false;
  }
  return true;
}

// How often the transmit queue is looked at before the sender sleeps while it drains.
constexpr int kDrainPolls = 200;

bool WaitForReply(XFER& x) {
  serial::SerialPort& port = x.port;
  if (port.status < 0) return false;
  // The reply wait starts once the block has left; the window is not serviced meanwhile.
  // A peer that takes the block at once is seen by polling; only a line still draining is worth
  // a millisecond's sleep (at 9600 baud a block takes 140 of them).
  for (int polls = 0; port.TxUsed() > 0; ++polls) {
    if (AbortCheck(x)) return false;
    if (port.timing != nullptr) port.timing->SleepMs(polls < kDrainPolls ? 0 : 1);
  }
  if (port.status == serial::kNotSupported) port.status = serial::kOk;
  const int c = ReadControlByte(x, x.handshakeWaitMs);
  if (c < 0) return false;
  const int previous = x.lastControlByte;
  x.lastControlByte = c;
  if (c == kAck) return true;
  if (c == kCan) {
    if (previous == kCan) x.result = kXferCancelled;
  } else if (c != kNak) {
    DrainLine(x);
  }
  return false;
}

// Bytes already waiting when a block goes out cannot answer it: a doubled ACK would otherwise pass
// for the answer to a block that never got through. A waiting CAN still counts towards the two
// that cancel. False when two CAN were waiting.
bool DiscardStaleAnswers(XFER& x) {
  for (int c; (c = x.port.ReadCharNow()) >= 0;) {
    if (c != kCan) continue;
    if (x.lastControlByte == kCan) {
      x.result = kXferCancelled;
      return false;
    }
    x.lastControlByte = kCan;
  }
  return true;
}

int SendFile(serial::SerialPort& port, const std::string& fileSpec, const XferOptions& options,
             MessageSink sink, PollRoutine poll) {
  XFER x(port);
  x.sending = true;
  if (ApplyOptions(x, options) != 0) return serial::kBadArgument;
  x.sink = std::move(sink);
  x.poll = std::move(poll);
  if (!XferSetUp(x)) return XferOutcome(x);

  x.blockNumber = 1;
  x.fileSource = std::make_unique<FileSource>();
  x.fileSource->remaining = fileSpec;
  if (!LookUpFile(*x.disk, *x.fileSource)) {
    x.result = kXferNoFile;
    XferCleanUp(x);
    return XferOutcome(x);
  }
  x.fileName = x.fileSource->foundPath;
  if (!XferOpenFile(x)) return XferOutcome(x);
  if (!WaitForStartSignal(x)) {
    XferCleanUp(x);
    return XferOutcome(x);
  }
  if (!ReadNextBlock(x)) {
    if (x.result != kXferStopped) x.result = kXferFileError;
    XferCleanUp(x);
    return XferOutcome(x);
  }
  for (;;) {
    const bool atEnd = x.blockLength == 0;
    if (!DiscardStaleAnswers(x)) break;
    if (!atEnd) {
      if (!SendBlock(x)) break;
    } else {
      XferMessage(x, "File transmission complete");
      if (XferWriteChar(x, kEot) != 0) {
        x.result = kXferSendEotFailed;
        break;
      }
    }
    if (WaitForReply(x)) {
      x.consecutiveErrors = 0;
      if (atEnd) break;  // EOT acknowledged: the file is across
      if (!ReadNextBlock(x) && x.result != 0) break;
      continue;
    }
    if (x.result != 0) break;
    if (++x.consecutiveErrors >= kMaxErrors) {
      XferMessage(x, "Exceeded maximum error count");
      x.result = kXferTooManyErrors;
      break;
    }
    if (!atEnd) ++x.blocksResent;
  }
  XferCleanUp(x);
  return XferOutcome(x);
}

}  // namespace zephor::transfer

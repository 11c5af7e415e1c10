// XMODEM receiver: asks for the file, checks every block, writes good ones under a temporary name.
#include "transfer/receiver.h"

#include "files/folder_file.h"
#include "serial/timed_io.h"
#include "transfer/crc16.h"
#include "transfer/xmodem.h"

namespace zephor::transfer {
namespace {

constexpr int kFirstBlockBudgetMs = 5000;
constexpr int kLaterBlockBudgetMs = 10000;
// After this many errors while block 1 is still due, the sender is taken to want checksums.
constexpr int kCrcGiveUpErrors = 2;
constexpr int kBlockNumberMask = 0xFF;
constexpr int kQuietByte = 0x00;
// How long the line must stay silent after EOT before the end is believed.
constexpr int kEotQuietMs = kByteReadMs;
// Data of a received file stays under this suffix until its EOT was acknowledged.
constexpr const char* kPartSuffix = ".part";

// Waits for SOH, STX or EOT; false on failure (an error is counted unless told to stop).
bool WaitForBlockStart(XFER& x) {
  const int budget = x.blockNumber == 1 ? kFirstBlockBudgetMs : kLaterBlockBudgetMs;
  const int c = ReadControlByte(x, budget);
  if (c == kStopRead) return false;
  if (c >= 0) {
    const int previous = x.lastControlByte;
    x.lastControlByte = c;
    if (c == kSoh || c == kStx || c == kEot) return true;
    if (c == kCan) {
      if (previous == kCan) {
        x.result = kXferCancelled;
        return false;
      }
    } else if (!DrainLine(x)) {
      return false;
    }
  }
  ++x.consecutiveErrors;
  if (x.consecutiveErrors > kCrcGiveUpErrors && x.blockNumber == 1) x.crcMode = false;
  SendNak(x);
  if (x.consecutiveErrors >= kMaxErrors) x.result = kXferNoStart;
  return false;
}

// A block that broke off or came garbled: ask again once the line is quiet.
// False when the transfer must end.
bool RefuseBlock(XFER& x) {
  if (SendNak(x) && PurgeLine(x)) ++x.consecutiveErrors;
  return x.result == 0;
}

// Reads count bytes with a one-second limit each; false when one did not come.
bool ReadBytes(XFER& x, std::uint8_t* into, int count) {
  return serial::ReadBufferEach(x.port, into, count, kByteReadMs) == serial::kOk;
}

bool BlockVerifies(const XFER& x) {
  const auto n = static_cast<std::size_t>(x.blockLength);
  if (x.crcMode) return Crc16(n, 0, x.buffer.get()) == (x.checkValue & 0xFFFF);
  return ByteChecksum(n, x.buffer.get()) == x.checkValue;
}

// Moves the finished file over the name the caller asked for, durably.
bool CommitFile(XFER& x, const std::string& partName, const std::string& fileName) {
  if (files::RenameDurably(*x.disk, partName, fileName, x.fileFailure.why)) return true;
  x.fileFailure.bytesWritten = x.offset;
  return false;
}

void Remove(XFER& x, const std::string& name) {
  std::string ignored;
  x.disk->Remove(name, ignored);
}

}  // namespace

bool SendNak(XFER& x) {
  const std::uint8_t request = (x.blockNumber == 1 && x.crcMode) ? kCrcRequest : kNak;
  if (XferWriteChar(x, request) == 0) return true;
  x.result = kXferNakFailed;
  return false;
}

bool SendAck(XFER& x) {
  if (XferWriteChar(x, kAck) == 0) return true;
  x.result = kXferAckFailed;
  return false;
}

bool PurgeLine(XFER& x) {
  if (AbortCheck(x)) return false;
  for (;;) {
    while (x.port.ReadCharNow() >= 0) {
    }
    const int c = serial::ReadChar(x.port, kByteReadMs);
    if (c < 0 || c == kQuietByte) return true;
    if (AbortCheck(x)) return false;
  }
}

// True when nothing arrives for one byte time limit after an end of transmission.
bool LineStaysQuiet(XFER& x) { return serial::ReadChar(x.port, kEotQuietMs) < 0; }

// What one try at a block came to.
enum class Try { kAgain, kFailed, kEnd, kData };

// The byte that opened the block: its length, or the end of the file.
Try TakeBlockStart(XFER& x) {
  switch (x.lastControlByte) {
    case kSoh:
      x.blockLength = kShortBlock;
      return Try::kData;
    case kStx:
      x.blockLength = kLongBlock;
      return Try::kData;
    case kEot:
      // A lone 0x04 may be a byte of a block whose start was lost; taking it for the end would
      // report a cut file as received. The sender's EOT is followed by silence while it waits
      // for the answer.
      if (LineStaysQuiet(x)) return Try::kEnd;
      XferMessage(x, "Bytes after end of transmission");
      return RefuseBlock(x) ? Try::kAgain : Try::kFailed;
    default:
      x.result = kXferBadHeader;
      return Try::kFailed;
  }
}

// The block's number, data and check code as they come off the line.
Try ReadBlockBytes(XFER& x, int& number) {
  number = serial::ReadChar(x.port, kByteReadMs);
  const int complement = serial::ReadChar(x.port, kByteReadMs);
  if (number < 0 || complement < 0 || number != kBlockNumberMask - complement) {
    if (SendNak(x) && PurgeLine(x)) {
      ++x.consecutiveErrors;
      XferMessage(x, "Bad block numbers %02x %02x", static_cast<unsigned>(number),
                  static_cast<unsigned>(complement));
    }
    return x.result != 0 ? Try::kFailed : Try::kAgain;
  }
  x.blockNumberByte = number;
  std::uint8_t check[2];
  if (!ReadBytes(x, x.buffer.get(), x.blockLength) || !ReadBytes(x, check, x.crcMode ? 2 : 1)) {
    return RefuseBlock(x) ? Try::kAgain : Try::kFailed;
  }
  x.checkValue = x.crcMode ? check[0] * 256 + check[1] : check[0];
  return Try::kData;
}

// A block read whole, judged by its number and its check code.
Try JudgeBlock(XFER& x, int number) {
  if (number == ((x.blockNumber - 1) & kBlockNumberMask)) {
    // The sender missed our ACK of the last good block: acknowledge it again, keep it once.
    if (!SendAck(x)) return Try::kFailed;
    ++x.consecutiveErrors;
    XferMessage(x, "Duplicate block %ld", x.blockNumber);
    return Try::kAgain;
  }
  if (number != (x.blockNumber & kBlockNumberMask)) {
    if (!SendNak(x)) return Try::kFailed;
    ++x.consecutiveErrors;
    XferMessage(x, "Bad block number waiting for number %ld", x.blockNumber);
    return Try::kAgain;
  }
  if (!BlockVerifies(x)) {
    if (!SendNak(x)) return Try::kFailed;
    ++x.consecutiveErrors;
    XferMessage(x, x.crcMode ? "Bad CRC on block number %ld" : "Bad checksum on block number %ld",
                x.blockNumber);
    return Try::kAgain;
  }
  XferMessage(x, "Read %d byte block %ld", x.blockLength, x.blockNumber);
  ++x.blockNumber;
  return Try::kData;
}

BlockOutcome ReadBlock(XFER& x) {
  while (x.consecutiveErrors < kMaxErrors) {
    if (AbortCheck(x)) return BlockOutcome::kFailed;
    if (!WaitForBlockStart(x)) {
      if (x.result != 0) return BlockOutcome::kFailed;
      continue;
    }
    int number = 0;
    Try step = TakeBlockStart(x);
    if (step == Try::kData) step = ReadBlockBytes(x, number);
    if (step == Try::kData) step = JudgeBlock(x, number);
    switch (step) {
      case Try::kAgain:
        continue;
      case Try::kFailed:
        return BlockOutcome::kFailed;
      case Try::kEnd:
        return BlockOutcome::kEndOfFile;
      case Try::kData:
        return BlockOutcome::kData;
    }
  }
  x.result = kXferTooManyErrors;
  return BlockOutcome::kFailed;
}

int ReceiveFile(serial::SerialPort& port, const std::string& fileName, const XferOptions& options,
                MessageSink sink, PollRoutine poll, FileFailure* failure) {
  XFER x(port);
  x.sending = false;
  if (ApplyOptions(x, options) != 0) return serial::kBadArgument;
  x.sink = std::move(sink);
  x.poll = std::move(poll);
  if (!XferSetUp(x)) return XferOutcome(x);

  x.blockNumber = 1;
  x.fileName = fileName;
  const std::string partName = fileName + kPartSuffix;
  if (!XferOpenFile(x, partName)) {
    if (failure != nullptr) *failure = x.fileFailure;
    return XferOutcome(x);
  }
  if (!SendNak(x)) {
    XferCleanUp(x);
    return XferOutcome(x);
  }
  for (;;) {
    const BlockOutcome got = ReadBlock(x);
    if (got == BlockOutcome::kFailed) break;
    if (got == BlockOutcome::kEndOfFile) {
      if (!SendAck(x)) break;
      XferMessage(x, "End of file, cleaning up");
      if (!XferCloseFile(x) || !CommitFile(x, partName, fileName)) x.result = kXferFileError;
      break;
    }
    const auto n = static_cast<std::size_t>(x.blockLength);
    if (!x.file->Write(std::span<const std::uint8_t>(x.buffer.get(), n), x.fileFailure.why)) {
      const long long stored = x.file->Size();
      x.fileFailure.bytesWritten = stored >= 0 ? static_cast<long>(stored) : x.offset;
      x.result = kXferFileError;
      break;
    }
    x.offset += x.blockLength;
    if (!SendAck(x)) break;
    x.consecutiveErrors = 0;
  }
  XferCleanUp(x);
  // A stopped receive is given up for good: no half file is left beside the earlier copy; nor
  // is one the disk could not take.
  if (x.result == kXferStopped || x.result == kXferFileError) Remove(x, partName);
  if (failure != nullptr) *failure = x.fileFailure;
  return XferOutcome(x);
}

}  // namespace zephor::transfer

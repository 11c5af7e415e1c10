// The XFER context of one XMODEM transfer: options, set-up, clean-up, abort check, guarded writers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/disk.h"
#include "serial/serial_port.h"
#include "transfer/file_lookup.h"

namespace zephor::transfer {

struct XFER;

// Receives each status message, one line of at most 83 characters.
using MessageSink = std::function<void(const std::string&)>;
// Called with the transfer on every abort check; sets result to kXferStopped to stop it.
using PollRoutine = std::function<void(XFER&)>;

// The option tags of both entry points, without the closing 0, and the disk the local file is
// on (the system's when none is given).
struct XferOptions {
  std::vector<int> tags;
  files::Disk* disk = nullptr;
};

// Transfer result codes.
inline constexpr int kXferNoBuffer = -601;
inline constexpr int kXferOpenFailed = -602;
inline constexpr int kXferNakFailed = -603;
inline constexpr int kXferAckFailed = -604;
inline constexpr int kXferStopped = -605;
inline constexpr int kXferCancelled = -606;
inline constexpr int kXferFileError = -607;
inline constexpr int kXferNoStart = -608;
inline constexpr int kXferTooManyErrors = -610;
inline constexpr int kXferBadHeader = -611;
inline constexpr int kXferSendBlockFailed = -612;
inline constexpr int kXferSendEotFailed = -613;
inline constexpr int kXferWriteCharFailed = -615;
inline constexpr int kXferCarrierLost = -618;
inline constexpr int kXferNoFile = -619;

// Option tags.
inline constexpr int kTagNone = 1001;
inline constexpr int kTagCarrierWatch = 1006;
inline constexpr int kTagIgnored7 = 1007;
inline constexpr int kTagChecksum = 1008;
inline constexpr int kTagHandshakeWait = 1016;
inline constexpr int kTagIgnored27 = 1027;

// Control bytes of the protocol.
inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kBs = 0x08;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kCan = 0x18;
inline constexpr std::uint8_t kCrcRequest = 0x43;  // the letter C

inline constexpr int kShortBlock = 128;
inline constexpr int kLongBlock = 1024;
inline constexpr int kMaxErrors = 10;
inline constexpr int kDefaultHandshakeMs = 10000;
inline constexpr int kByteReadMs = 1000;
// Longest message handed to the sink.
inline constexpr int kMessageLimit = 83;

// Why the local file failed, when it did: the system's words and the bytes written before it.
struct FileFailure {
  std::string why;
  long bytesWritten = 0;
};

struct XFER {
  explicit XFER(serial::SerialPort& p) : port(p) {}

  std::unique_ptr<FileSource> fileSource;  // sending only: the file lookup
  std::string fileName;
  long blockNumber = 1;  // receiving: next expected; sending: one more than the block held
  long offset = 0;       // bytes of the file moved so far
  MessageSink sink;
  PollRoutine poll;
  std::unique_ptr<std::uint8_t[]> buffer;  // kLongBlock bytes while the transfer runs
  std::unique_ptr<files::DiskFile> file;
  files::Disk* disk = &files::SystemDisk();  // where the local file is read or written
  serial::SerialPort& port;
  int filesDone = 0;
  int result = 0;
  int blockLength = -1;
  int checkValue = 0;
  int blockNumberByte = -1;
  bool carrierWatch = false;
  int consecutiveErrors = 0;
  long blocksResent = 0;  // sending: blocks that went out again after a failed answer
  bool sending = false;
  int handshakeWaitMs = kDefaultHandshakeMs;
  int lastControlByte = -1;
  bool crcMode = true;
  FileFailure fileFailure;  // receiving: set when the local file could not be written
};

// Reads the option tags into the context; returns 0 or -7 for a tag this side does not take.
int ApplyOptions(XFER& x, const XferOptions& options);

// Sends one formatted status message to the sink, cut at 83 characters; nothing without a sink.
template <typename... Args>
void XferMessage(XFER& x, const char* format, Args... args) {
  if (!x.sink) return;
  char text[kMessageLimit + 1];
  if constexpr (sizeof...(Args) == 0) {
    std::snprintf(text, sizeof text, "%s", format);
  } else {
    std::snprintf(text, sizeof text, format, args...);
  }
  x.sink(text);
}

// First step of both entry points; false when the transfer must end (clean-up already run).
bool XferSetUp(XFER& x);
// Opens x.fileName (or openName when given) for reading or writing; false after clean-up.
bool XferOpenFile(XFER& x, const std::string& openName = {});
// Closes the local file; a received one is flushed and synced to the disk first. False, with
// x.fileFailure set, when what was received did not reach the disk.
bool XferCloseFile(XFER& x);
// True when the transfer must stop.
bool AbortCheck(XFER& x);
// Closes the file, sends the cancel sequence after a failure and empties the line.
void XferCleanUp(XFER& x);
// The value an entry point returns.
int XferOutcome(const XFER& x);

// One byte within 30 s; returns 0 or a negative code (result then -615 or the stop code).
int XferWriteChar(XFER& x, std::uint8_t byte);
// n bytes within 60 s; returns 0 or a negative code (result then -612 or the stop code).
int XferWriteBuffer(XFER& x, const std::uint8_t* data, int n);

// What ReadControlByte gives besides a byte.
inline constexpr int kNoByte = -1;
inline constexpr int kStopRead = -2;
// Reads one byte with 1000 ms reads within budgetMs, running AbortCheck after each empty read.
int ReadControlByte(XFER& x, int budgetMs);
// Discards bytes with 1000 ms reads until one brings nothing; false when told to stop.
bool DrainLine(XFER& x);

}  // namespace zephor::transfer

// The faults a simulated instrument is given, any number of them at once.
#pragma once

#include <string>

#include "sim/line_faults.h"

namespace zephor::sim {

// The single faults by name; kept for callers that need only one.
enum class Fault {
  kNone,
  kSilent,      // answers nothing at all
  kOkWithCrLf,  // answers UNLOCK with "OK\r\n"
  kLongReply,   // answers UNLOCK with a line too long for the reply buffer
  kNeverReady,  // never sends READY after a restart
};

struct FaultSet {
  bool silent = false;
  bool okWithCrLf = false;
  bool longReply = false;
  bool neverReady = false;
  int nakFirstBlocks = 0;   // the instrument's receiver refuses its first N blocks
  int cancelAtBlock = 0;    // either side of a transfer sends two CAN at block k
  int refuseHeader = 0;     // the loader refuses the Nth image header it reads (NAK)
  int cancelDownloads = 0;  // the first N DOWNLOAD transfers are cancelled at their first block
  int cancelUploads = 0;    // the first N UPLOAD transfers are cancelled at their first block
  int unplugAtDownloadBlock = 0;  // the line goes dead before block k of the first DOWNLOAD
  int misreadErases = 0;          // the first N erase commands arrive garbled: answered "?"
  LineFaultRates line;            // noise on what the instrument sends

  FaultSet() = default;
  FaultSet(Fault fault) { Add(fault); }  // NOLINT: a single fault is a set of one
  void Add(Fault fault);
};

// Parses a fault name ("none", "silent", "ok-crlf", "long-reply", "never-ready"); false when
// unknown.
bool ParseFault(const std::string& name, Fault& fault);

}  // namespace zephor::sim

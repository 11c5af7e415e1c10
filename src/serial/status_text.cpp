// Words for the status codes: each says what the operator can look at.
#include "serial/status_text.h"

#include "serial/status_codes.h"

namespace zephor::serial {
namespace {

struct StatusWords {
  int status;
  const char* words;
};

constexpr StatusWords kWords[] = {
    {kOk, "no error"},
    {kSystemFailure, "the system refused it"},
    {kInvalidPort, "no such port"},
    {kPortInUse, "in use by another program, or access denied"},
    {kOutOfMemory, "out of memory"},
    {kBadArgument, "bad argument"},
    {kTimeout, "timed out"},
    {kTxFull, "transmit queue full"},
    {kNoHardware, "no such device"},
    {kNotSupported, "not supported by this port"},
    {kBadBaudRate, "baud rate refused"},
    {kBadParity, "parity refused"},
    {kBadDataBits, "data bits refused"},
    {kBadStopBits, "stop bits refused"},
    {kBufferFull, "buffer full"},
    {kWriteRetry, "write failed after retries"},
};

// Device files of serial ports belong to the group dialout on Debian; a user joins it once and the
// system reads the groups again at the next login.
constexpr char kNoPermissionWords[] =
    "permission denied; add your user to the dialout group (sudo usermod -aG dialout $USER) and "
    "log in again";
constexpr char kInUseWords[] = "in use by another program";

}  // namespace

const char* StatusText(int status) {
  for (const StatusWords& w : kWords) {
    if (w.status == status) return w.words;
  }
  return "error";
}

const char* OpenStatusText(int status, OpenRefusal refusal) {
  if (status != kPortInUse) return StatusText(status);
  switch (refusal) {
    case OpenRefusal::kNoPermission:
      return kNoPermissionWords;
    case OpenRefusal::kInUse:
      return kInUseWords;
    case OpenRefusal::kNotTold:
      break;
  }
  return StatusText(status);
}

}  // namespace zephor::serial

// Names of the faults as the command line gives them.
#include "sim/fault_set.h"

namespace zephor::sim {

void FaultSet::Add(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      break;
    case Fault::kSilent:
      silent = true;
      break;
    case Fault::kOkWithCrLf:
      okWithCrLf = true;
      break;
    case Fault::kLongReply:
      longReply = true;
      break;
    case Fault::kNeverReady:
      neverReady = true;
      break;
  }
}

bool ParseFault(const std::string& name, Fault& fault) {
  if (name == "none")
    fault = Fault::kNone;
  else if (name == "silent")
    fault = Fault::kSilent;
  else if (name == "ok-crlf")
    fault = Fault::kOkWithCrLf;
  else if (name == "long-reply")
    fault = Fault::kLongReply;
  else if (name == "never-ready")
    fault = Fault::kNeverReady;
  else
    return false;
  return true;
}

}  // namespace zephor::sim

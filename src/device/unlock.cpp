// Unlock: a port that failed to open, silence or a wrong answer all end the conversation here.
#include "device/unlock.h"

#include <string>

#include "device/command_link.h"

namespace zephor::device {

bool Unlocked(serial::SerialPort& port) {
  const std::string reply = SendCommand(port, kUnlockCommand, kLineFeed);
  return port.status >= 0 && reply == kUnlockedReply;
}

void ReportNotConnected(Station& station) {
  station.panel->ShowMessage(kNotConnectedMessage, MessageButtons::kOk);
  station.statusText = kStatusNotConnected;
}

bool Unlock(Station& station, serial::SerialPort& port) {
  if (Unlocked(port)) return true;
  ReportNotConnected(station);
  return false;
}

}  // namespace zephor::device

// Unlock: a port that failed to open, silence or a wrong answer all end the conversation here.
#include "device/unlock.h"

#include <string>

#include "device/command_link.h"

namespace zephor::device {

bool Unlock(Station& station, serial::SerialPort& port) {
  const std::string reply = SendCommand(port, kUnlockCommand, kLineFeed);
  if (port.status >= 0 && reply == kUnlockedReply) return true;
  station.panel->ShowMessage(kNotConnectedMessage, MessageButtons::kOk);
  station.statusText = kStatusNotConnected;
  return false;
}

}  // namespace zephor::device

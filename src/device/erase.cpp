// The erase conversation: unlock, erase with the confirmation code, lock.
#include "device/erase.h"

#include <string>

#include "device/command_link.h"
#include "device/unlock.h"
#include "serial/timed_io.h"

namespace zephor::device {

namespace {

constexpr char kEraseMessage[] = "Erase data ZEPHOR.";
// The instrument ends its answers with carriage return and line feed.
constexpr int kCrLfTerminator = -2;

// Reads one short answer line; its text and result are never looked at.
void SkipAnswer(serial::SerialPort& port) {
  char answer[kEraseReplyBufferSize] = {};
  serial::ReadString(port, answer, kEraseReplySize, kCrLfTerminator, kEraseReplyLimitMs);
}

}  // namespace

bool EraseLogger(Station& station, bool announce, bool finishedLine) {
  OperatorPanel& panel = *station.panel;
  if (announce) {
    LogSection(panel, kEraseMessage);
  } else {
    panel.AppendLog(std::string("\t") + kEraseMessage + "\r\n");
  }

  serial::PortHandle port(OpenCommandPort(station.ports, station.portIndex));
  if (!Unlock(station, *port)) {
    port.Close();
    return false;
  }

  serial::WriteString(*port, "erase " + std::to_string(kEraseCode), kLineFeed);
  SkipAnswer(*port);
  ShortPause();
  SendCommand(*port, kLockCommand, kLineFeed);
  SkipAnswer(*port);
  if (announce && finishedLine) panel.AppendLog(kEraseFinishedLine);
  ShortPause();

  port.Close();
  return true;
}

}  // namespace zephor::device

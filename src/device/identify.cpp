// Identification of the instrument behind the chosen port.
#include "device/identify.h"

#include <algorithm>
#include <cstdint>

#include "device/command_link.h"
#include "device/line_clearing.h"
#include "device/system_info_parser.h"
#include "device/unlock.h"
#include "serial/timed_io.h"

namespace zephor::device {

namespace {

constexpr char kSystemCommand[] = "system";

enum class Answer { kIdentified, kNone, kNoneYet };

Answer IdentifyOnce(Station& station, DeviceInfo& info, bool lastTry);

// A loader waiting for a missing program announces it with one letter.
const char* LoaderStatus(int letter) {
  switch (letter) {
    case 'B':
      return kStatusNoBoot;
    case 'U':
      return kStatusNoUpdate;
    case 'S':
      return kStatusNoMain;
    default:
      return nullptr;
  }
}

}  // namespace

bool Identify(Station& station, DeviceInfo& info) {
  station.panel->ClearLog();
  for (bool lastTry = false;; lastTry = true) {
    switch (IdentifyOnce(station, info, lastTry)) {
      case Answer::kIdentified:
        return true;
      case Answer::kNone:
        return false;
      case Answer::kNoneYet:
        break;  // the line was cleared: once more
    }
  }
}

namespace {

Answer IdentifyOnce(Station& station, DeviceInfo& info, bool lastTry) {
  std::uint8_t reply[kSystemReportBufferSize] = {};
  serial::PortHandle port(OpenCommandPort(station.ports, station.portIndex));

  if (const char* loader = LoaderStatus(serial::ReadChar(*port, kLoaderLetterLimitMs))) {
    station.statusText = loader;
    port.Close();
    return Answer::kIdentified;
  }
  if (!Unlocked(*port)) {
    // An instrument still inside a transfer a stopped run left open hears no command: the
    // transfer is given up, and it is asked once more.
    if (!lastTry && port->status >= 0 && !StopRequested(station)) {
      ClearStoppedTransfer(*port);
      port.Close();
      return Answer::kNoneYet;
    }
    ReportNotConnected(station);
    port.Close();
    return Answer::kNone;
  }

  serial::WriteString(*port, kSystemCommand, kLineFeed);
  serial::ReadBuffer(*port, reply, kSystemReportSize, kSystemReportLimitMs);
  // A short or late report is no error: the parser works on what arrived.
  const int received = std::clamp(port->count, 0, kSystemReportSize);
  ParseSystemInfo(reinterpret_cast<const char*>(reply), received, info);

  std::uint8_t tail[kSystemTailSize] = {};
  serial::ReadBuffer(*port, tail, kSystemTailSize, kSystemTailLimitMs);
  port->ClearTxBuffer();
  serial::FlushRxBuffer(*port);

  ShortPause();
  SendCommand(*port, kLockCommand, kLineFeed);  // the answer to LOCK is never looked at
  ShortPause();

  station.statusText = kStatusOk;
  port.Close();
  return Answer::kIdentified;
}

}  // namespace
}  // namespace zephor::device

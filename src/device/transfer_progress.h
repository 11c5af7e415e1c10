// XMODEM transfers that tell the station's panel how they go: a start, a step whenever more of
// the file moved or the line stayed quiet, and an end with the result.
#pragma once

#include <string>

#include "device/operator_panel.h"
#include "serial/serial_port.h"
#include "transfer/xfer.h"

namespace zephor::device {

// transfer::SendFile of path, reported; extraPoll runs on every abort check as before.
int SendReported(Station& station, serial::SerialPort& port, const std::string& path,
                 const transfer::PollRoutine& extraPoll = {});
// transfer::ReceiveFile into fileName, reported; *failure tells why the local file failed.
int ReceiveReported(Station& station, serial::SerialPort& port, const std::string& fileName,
                    transfer::FileFailure* failure = nullptr);

}  // namespace zephor::device

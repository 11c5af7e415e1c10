// XMODEM transfers that tell the station's panel how they go: a start, a step whenever more of
// the file moved or the line stayed quiet, and an end with the result; and the transfers a run
// plans, told before it begins.
#pragma once

#include <string>

#include "device/operator_panel.h"
#include "serial/serial_port.h"
#include "transfer/xfer.h"

namespace zephor::device {

// transfer::SendFile of path, reported; extraPoll runs on every abort check as before.
int SendReported(Station& station, serial::SerialPort& port, const std::string& path,
                 const transfer::PollRoutine& extraPoll = {});
// transfer::ReceiveFile into fileName, reported; expectedBytes is the length the instrument
// announced, 0 when it is not known; *failure tells why the local file failed.
int ReceiveReported(Station& station, serial::SerialPort& port, const std::string& fileName,
                    long expectedBytes = 0, transfer::FileFailure* failure = nullptr);
// Tells the panel, before a run starts moving files, of one it will move: the file's name and
// its length, 0 when it is known only once the transfer begins.
void AnnounceTransfer(Station& station, const std::string& fileName, long totalBytes);

}  // namespace zephor::device

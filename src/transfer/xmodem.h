// XMODEM file transfer over an open SerialPort: send one file, receive one file.
#pragma once

#include <string>

#include "serial/serial_port.h"
#include "transfer/xfer.h"

namespace zephor::transfer {

// Sends the first file the file list names; 1 after EOT was acknowledged, else a result code.
int SendFile(serial::SerialPort& port, const std::string& fileSpec, const XferOptions& options = {},
             MessageSink sink = {}, PollRoutine poll = {});

// Receives one file into fileName (written as fileName.part, a new file, until EOT is
// acknowledged, then synced and renamed); 1 on success, else a result code. When the local file
// fails (-602, -607), *failure says why and after how many bytes.
int ReceiveFile(serial::SerialPort& port, const std::string& fileName,
                const XferOptions& options = {}, MessageSink sink = {}, PollRoutine poll = {},
                FileFailure* failure = nullptr);

}  // namespace zephor::transfer

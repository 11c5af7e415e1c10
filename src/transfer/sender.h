// The sending side of XMODEM: start wait, 128-byte blocks with their check codes, EOT.
#pragma once

#include "transfer/xfer.h"

namespace zephor::transfer {

// Waits for C (CRC mode) or NAK (checksum mode); false when the transfer must end.
bool WaitForStartSignal(XFER& x);
// Reads the next block from the file into the buffer; false when none was read.
bool ReadNextBlock(XFER& x);
// Sends the block in the buffer; false (result set) when it could not be sent.
bool SendBlock(XFER& x);
// True when the receiver acknowledged what was sent last.
bool WaitForReply(XFER& x);

}  // namespace zephor::transfer

// The receiving side of XMODEM: requests, block reading and judging, acknowledgements.
#pragma once

#include "transfer/xfer.h"

namespace zephor::transfer {

// What one ReadBlock brought.
enum class BlockOutcome { kData, kEndOfFile, kFailed };

// Sends C for the first block in CRC mode, otherwise NAK; false (result -603) when it failed.
bool SendNak(XFER& x);
// Sends ACK; false (result -604) when it failed.
bool SendAck(XFER& x);
// Discards what arrives until the line is quiet for a second; false when told to stop.
bool PurgeLine(XFER& x);
// Reads blocks until a good one, EOT, or a failure that ends the transfer.
BlockOutcome ReadBlock(XFER& x);

}  // namespace zephor::transfer

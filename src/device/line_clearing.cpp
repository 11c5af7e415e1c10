// The same cancel sequence a transfer ends with, sent on its own before a second identification.
#include "device/line_clearing.h"

#include <array>
#include <cstdint>

#include "serial/timed_io.h"
#include "transfer/xfer.h"

namespace zephor::device {
namespace {

constexpr int kCancelBytes = 10;
constexpr int kWriteLimitMs = 1000;

}  // namespace

void ClearStoppedTransfer(serial::SerialPort& port) {
  std::array<std::uint8_t, 2 * kCancelBytes> cancel{};
  for (int i = 0; i < kCancelBytes; ++i) {
    cancel[static_cast<std::size_t>(i)] = transfer::kCan;
    cancel[static_cast<std::size_t>(kCancelBytes + i)] = transfer::kBs;
  }
  serial::WriteBuffer(port, cancel.data(), static_cast<int>(cancel.size()), kWriteLimitMs);
  const std::uint32_t start = port.timing != nullptr ? port.timing->TickMs() : 0;
  while (port.status >= 0 && serial::ReadChar(port, kClearQuietMs) >= 0) {
    if (port.timing == nullptr || port.timing->TickMs() - start >= kClearLimitMs) break;
  }
}

}  // namespace zephor::device

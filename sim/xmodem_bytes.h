// The XMODEM control bytes and block sizes as the instrument's firmware knows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zephor::sim {

inline constexpr std::uint8_t kXmodemSoh = 0x01;
inline constexpr std::uint8_t kXmodemStx = 0x02;
inline constexpr std::uint8_t kXmodemEot = 0x04;
inline constexpr std::uint8_t kXmodemAck = 0x06;
inline constexpr std::uint8_t kXmodemNak = 0x15;
inline constexpr std::uint8_t kXmodemCan = 0x18;
inline constexpr std::uint8_t kXmodemCrcRequest = 'C';
inline constexpr std::uint8_t kXmodemPad = 0x1A;
inline constexpr std::size_t kXmodemShortBlock = 128;
inline constexpr std::size_t kXmodemLongBlock = 1024;
// A transfer gives up after this many failures in a row.
inline constexpr int kXmodemMaxErrors = 10;

// Bytes the instrument puts on the line during one step of a transfer.
using Outbox = std::vector<std::uint8_t>;
using TransferLog = std::function<void(const std::string&)>;

enum class TransferOutcome { kRunning, kDone, kCancelled, kGaveUp };

const char* OutcomeName(TransferOutcome outcome);

}  // namespace zephor::sim

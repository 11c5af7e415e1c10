// The download conversation: unlock, ask for the memory, take its size answer, receive the file.
#include "database/database_download.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "database/database_file.h"
#include "device/command_link.h"
#include "device/transfer_progress.h"
#include "device/unlock.h"
#include "serial/timed_io.h"
#include "transfer/xmodem.h"

namespace zephor::database {

namespace {

constexpr const char* kSectionTitle = "Read Data ZEPHOR";
constexpr const char* kDownloadErrorFormat = "Error in file transfer %i";
constexpr int kAutoBase = 0;  // decimal, 0x hexadecimal or leading-0 octal
constexpr int kHexBase = 16;
constexpr std::ptrdiff_t kDigitsPerGroup = 3;

void Sleep(device::Station& station, std::uint32_t ms) {
  if (station.ports.timing != nullptr) station.ports.timing->SleepMs(ms);
}

// Reads "<number> <hex> <hex>" from the answer. Scanning stops at the first field that is not a
// number; it and the fields after it keep what the earlier download left. Numbers wider than
// 32 bits keep their low 32 bits.
void ParseDownloadReply(const std::string& text, int (&reply)[3]) {
  const char* position = text.c_str();
  const int bases[3] = {kAutoBase, kHexBase, kHexBase};
  for (int field = 0; field < 3; ++field) {
    char* end = nullptr;
    const unsigned long long value =
        bases[field] == kAutoBase
            ? static_cast<unsigned long long>(std::strtoll(position, &end, bases[field]))
            : std::strtoull(position, &end, bases[field]);
    if (end == position) return;
    reply[field] = static_cast<int>(static_cast<std::uint32_t>(value));
    position = end;
  }
}

std::string TransferError(int code) {
  char text[kDownloadReplyBufferSize];
  std::snprintf(text, sizeof text, kDownloadErrorFormat, code);
  return text;
}

}  // namespace

std::string GroupedNumber(long long value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - kDigitsPerGroup; at > 0;
       at -= kDigitsPerGroup) {
    digits.insert(static_cast<std::size_t>(at), 1, ' ');
  }
  return value < 0 ? "-" + digits : digits;
}

std::string SaveFailureLine(const transfer::FileFailure& failure, int announcedBytes,
                            const char* fileName) {
  std::string line = std::string("\t") + fileName + ": " + failure.why + " after " +
                     GroupedNumber(failure.bytesWritten);
  if (announcedBytes > 0) line += " of " + GroupedNumber(announcedBytes);
  return line + " bytes; nothing was erased.\r\n";
}

bool DownloadDatabase(device::Station& station, int portIndex,
                      const std::filesystem::path& directory, const char* fileName) {
  device::OperatorPanel& panel = *station.panel;
  device::LogSection(panel, kSectionTitle);

  serial::PortHandle port(device::OpenCommandPort(station.ports, portIndex));
  if (device::SendCommand(*port, device::kUnlockCommand, device::kLineFeed) !=
      device::kUnlockedReply) {
    panel.ShowMessage(kNoResponseMessage, device::MessageButtons::kOk);
    return false;
  }

  serial::WriteString(*port, kDownloadCommand, device::kLineFeed);
  std::uint8_t answer[kDownloadReplyBufferSize] = {};
  serial::ReadBuffer(*port, answer, kDownloadReplySize, kDownloadReplyLimitMs);
  // Whatever arrived is the answer, also when the read gave up early.
  const int received = port->count > 0 && port->count <= kDownloadReplySize ? port->count : 0;
  ParseDownloadReply(
      std::string(reinterpret_cast<const char*>(answer), static_cast<std::size_t>(received)),
      station.downloadReply);

  if (station.downloadReply[1] == 0) {
    panel.AppendLog(kDatabaseEmptyLine);
    device::SendCommand(*port, device::kLockCommand, device::kLineFeed);
    panel.SetProgress(0);
    Sleep(station, kLockPauseMs);
    return false;
  }

  const std::string path = (directory / fileName).string();
  transfer::FileFailure failure;
  // The answer's second number is the length of what the instrument is about to send.
  const int result =
      device::ReceiveReported(station, *port, path, station.downloadReply[1], &failure);
  if (result < 0) {
    // The code alone does not tell a technician that the disk is full.
    if (!failure.why.empty()) {
      panel.AppendLog(SaveFailureLine(failure, station.downloadReply[1], fileName));
    }
    panel.ShowMessage(TransferError(result), device::MessageButtons::kOk);
    return false;
  }

  // An empty line lets the instrument leave its transfer state before it is locked.
  device::SendCommand(*port, "", device::kLineFeed);
  Sleep(station, kSettlePauseMs);
  port->ClearTxBuffer();
  serial::FlushRxBuffer(*port);
  device::SendCommand(*port, device::kLockCommand, device::kLineFeed);
  Sleep(station, kLockPauseMs);
  return true;
}

}  // namespace zephor::database

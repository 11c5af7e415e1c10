// The upload conversation: the instrument learns length and check code first, then gets the file.
#include "database/database_upload.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "database/database_file.h"
#include "device/command_link.h"
#include "device/formatted_text.h"
#include "device/transfer_progress.h"
#include "device/unlock.h"
#include "files/folder_file.h"
#include "serial/timed_io.h"
#include "transfer/crc16.h"
#include "transfer/xmodem.h"

namespace zephor::database {

using device::Formatted;

namespace {

constexpr const char* kWriteLine = "\tWrite Data to ZEPHOR.\r\n";
constexpr const char* kFinishedLine = "\tFinished.\r\n";
constexpr const char* kUploadFormat = "UPLOAD %d 0x%zx 0x%4x";
constexpr const char* kUploadErrorFormat = "Error in file transfer %i";
constexpr int kLineBufferSize = 100;
constexpr int kReplyBufferSize = 500;

}  // namespace

std::string UploadCommandText(std::size_t length, std::uint16_t check) {
  char text[kLineBufferSize];
  std::snprintf(text, sizeof text, kUploadFormat, kUploadArea, length, unsigned{check});
  return text;
}

bool UploadDatabase(device::Station& station, int portIndex, SavedDatabaseOutcome outcome,
                    const std::filesystem::path& directory) {
  device::OperatorPanel& panel = *station.panel;
  panel.AppendLog(kWriteLine);
  // Only a file this run's conversion finished is the instrument's whole database; an old or
  // half-written one would replace its memory with something else.
  if (outcome != SavedDatabaseOutcome::kConverted) {
    panel.AppendLog(kNotConvertedLine);
    return false;
  }

  std::vector<std::uint8_t> image;
  std::string why;
  bool read = false;
  try {
    read = files::ReadRegularFile(device::DiskOf(station), directory / kConversionFileName,
                                  kSavedDatabaseLimit, image, why);
  } catch (const std::bad_alloc&) {
    panel.ShowMessage(kNoMemoryMessage, device::MessageButtons::kOk);
    return false;
  }
  if (!read) {
    panel.AppendLog(std::string("\t") + kConversionFileName + ": " + why + ".\r\n");
    panel.ShowMessage(std::string("Can't open file ") + kConversionFileName,
                      device::MessageButtons::kOk);
    panel.ExitProgram(1);
    return false;
  }

  const std::uint16_t check = transfer::Crc16(image.size(), 0, image.data());
  const bool sent = SendDatabaseFile(station, portIndex, image.size(), check, directory);
  panel.AppendLog(kFinishedLine);
  return sent;
}

bool SendDatabaseFile(device::Station& station, int portIndex, std::size_t length,
                      std::uint16_t check, const std::filesystem::path& directory) {
  device::OperatorPanel& panel = *station.panel;
  serial::PortHandle port(device::OpenCommandPort(station.ports, portIndex));
  // The answer to the unlock is not looked at: the instrument has just been restarted and the
  // upload goes on whatever it says.
  device::SendCommand(*port, device::kUnlockCommand, device::kLineFeed);
  serial::WriteString(*port, UploadCommandText(length, check), device::kLineFeed);
  std::uint8_t reply[kReplyBufferSize] = {};
  serial::ReadBuffer(*port, reply, kUploadReplySize, kUploadReplyLimitMs);

  const int result =
      device::SendReported(station, *port, (directory / kConversionFileName).string());
  if (result < 0) {
    panel.ShowMessage(Formatted(kUploadErrorFormat, result), device::MessageButtons::kOk);
  }
  panel.SetProgress(0);
  device::SendCommand(*port, device::kLockCommand, device::kLineFeed);
  return result >= 0;
}

}  // namespace zephor::database

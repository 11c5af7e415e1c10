// One upload recipe per image, run by a single procedure: the images differ only in their details.
#include "update/image_upload.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/announced_wait.h"
#include "device/command_link.h"
#include "device/formatted_text.h"
#include "device/transfer_progress.h"
#include "files/folder_file.h"
#include "serial/serial_port.h"
#include "serial/timed_io.h"
#include "transfer/crc16.h"
#include "transfer/xmodem.h"
#include "update/image_files.h"
#include "update/image_header.h"
#include "update/image_versions.h"

namespace zephor::update {
using device::Formatted;

namespace {

inline constexpr int kBootLetter = 'B';
inline constexpr int kUpdateLetter = 'U';
inline constexpr int kMainLetter = 'S';
inline constexpr int kAck = 0x06;
inline constexpr int kLoaderLimitMs = 200000;
inline constexpr int kSpecialLetterLimitMs = 1000;
inline constexpr int kMainLetterLimitMs = 10000;
inline constexpr int kHeaderAckLimitMs = 1000;
inline constexpr int kWriteLimitMs = 500;
inline constexpr int kConversionLimitMs = 60000;
inline constexpr int kConversionLineSize = 21;
inline constexpr int kCrLfTerminator = -2;
inline constexpr long kProgressBlock = 128;

enum class Prelude { kNone, kBanner, kClearThenBanner };

struct UploadRecipe {
  const char* fileName;
  bool longHeader;         // long header with the file's CRC-16, else short with its byte sum
  std::uint8_t imageCode;  // long header only
  Prelude prelude;
  int letter;
  int letterLimitMs;
  const char* noLetterText;
  const char* noAckFormat;  // may hold %c for the character received
  bool setProgressRange;
  bool awaitConversion;
};

// Every load moves the bar block by block, boot.bin and update.bin too: a still bar for minutes
// at 9600 baud reads as a hung program.
constexpr UploadRecipe kBootRecipe{
    kBootImage,  true,           kBootImageCode,        Prelude::kNone,
    kBootLetter, kLoaderLimitMs, kNoResponseLetterText, kNoResponseCharFormat,
    true,        false};
constexpr UploadRecipe kUpdateRecipe{
    kUpdateImage,  true,           kUpdateImageCode,      Prelude::kNone,
    kUpdateLetter, kLoaderLimitMs, kNoResponseLetterText, kNoResponseText,
    true,          false};
constexpr UploadRecipe kNewBootRecipe{kNewBootImage,
                                      false,
                                      0,
                                      Prelude::kBanner,
                                      kMainLetter,
                                      kSpecialLetterLimitMs,
                                      kNoResponseText,
                                      kNoResponseText,
                                      true,
                                      false};
constexpr UploadRecipe kSpecialMainRecipe{kSpecialMainImage,
                                          false,
                                          0,
                                          Prelude::kBanner,
                                          kMainLetter,
                                          kSpecialLetterLimitMs,
                                          kNoResponseText,
                                          kNoResponseText,
                                          true,
                                          true};
constexpr UploadRecipe kMainRecipe{kMainImage,
                                   false,
                                   0,
                                   Prelude::kClearThenBanner,
                                   kMainLetter,
                                   kMainLetterLimitMs,
                                   kNoResponseText,
                                   kNoResponseText,
                                   true,
                                   false};

// A load stopped by the operator is told in the log, not in a box in the closing window.
void Show(device::Station& station, const std::string& text) {
  if (device::StopRequested(station)) return;
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
}

// What the header needs of the image file.
struct ImageFacts {
  long length = 0;
  std::uint16_t check = 0;
};

enum class ImageOutcome { kReady, kFailed, kProgramEnded };

// Reads the image whole for its length and check code; the file is closed before the port opens.
ImageOutcome ReadImage(device::Station& station, const UploadRecipe& recipe,
                       const std::filesystem::path& path, ImageFacts& facts) {
  files::Disk& disk = device::DiskOf(station);
  files::NameStatus status;
  std::string why;
  if (!disk.Status(path, status, why) || status.kind != files::EntryKind::kFile) {
    Show(station, Formatted(kCantOpenFileFormat, recipe.fileName));
    station.panel->ExitProgram(1);
    return ImageOutcome::kProgramEnded;
  }
  // An image whose length does not fit the header's eight digits would be announced wrongly.
  if (!CheckImageLength(*station.panel, recipe.fileName, status.size)) return ImageOutcome::kFailed;
  files::Bytes contents;
  if (!files::ReadRegularFile(disk, path, kImageLengthLimit, contents, why)) {
    Show(station, Formatted(kCantOpenFileFormat, recipe.fileName));
    station.panel->ExitProgram(1);
    return ImageOutcome::kProgramEnded;
  }
  facts.length = static_cast<long>(contents.size());
  facts.check = recipe.longHeader ? transfer::Crc16(contents.size(), 0, contents.data())
                                  : ImageByteSum(contents.data(), contents.size());
  return ImageOutcome::kReady;
}

void WriteBanner(serial::SerialPort& port) {
  serial::WriteBuffer(port, reinterpret_cast<const std::uint8_t*>(kUpdateBanner),
                      static_cast<int>(std::strlen(kUpdateBanner)), kWriteLimitMs);
}

void WriteHeader(serial::SerialPort& port, const UploadRecipe& recipe, const ImageFacts& facts) {
  if (recipe.longHeader) {
    const auto header = BuildLongImageHeader(facts.length, facts.check, recipe.imageCode);
    serial::WriteBuffer(port, header.data(), static_cast<int>(header.size()), kWriteLimitMs);
  } else {
    const auto header = BuildShortImageHeader(facts.length, facts.check);
    serial::WriteBuffer(port, header.data(), static_cast<int>(header.size()), kWriteLimitMs);
  }
}

// What a countdown names while the loader's letter is awaited.
std::string LetterSubject(int letter) {
  return std::string("the loader's letter ") + static_cast<char>(letter);
}

// The special main ends with a line from the instrument once the database has been converted.
bool ConversionReported(device::Station& station, serial::SerialPort& port) {
  serial::FlushRxBuffer(port);
  char line[kConversionLineSize] = {};
  {
    const device::AnnouncedWait wait(station, "the conversion of the memory", kConversionLimitMs);
    serial::ReadString(port, line, kConversionLineSize, kCrLfTerminator, kConversionLimitMs);
  }
  if (std::strcmp(line, kConversionDoneText) == 0) return true;
  Show(station, line);
  Show(station, kConversionDoneText);
  return false;
}

// Moves the bar to the number of the last block the instrument acknowledged. A block is read
// only after the one before it was acknowledged, and the read that finds the end adds none.
transfer::PollRoutine BlockProgress(device::OperatorPanel& panel) {
  auto shown = std::make_shared<long>(-1);
  return [&panel, shown](transfer::XFER& x) {
    const long held = x.blockNumber - 1;
    const long acknowledged = x.blockLength == 0 ? held : held - 1;
    if (acknowledged <= *shown) return;
    *shown = acknowledged;
    panel.SetProgress(static_cast<int>(acknowledged));
  };
}

bool RunUpload(device::Station& station, int portIndex, const UploadRecipe& recipe,
               const std::filesystem::path& directory) {
  const std::filesystem::path path =
      FindImageFile(device::DiskOf(station), recipe.fileName, directory);
  ImageFacts facts;
  if (ReadImage(station, recipe, path, facts) != ImageOutcome::kReady) return false;

  serial::PortHandle port(serial::OpenPort(station.ports, portIndex, device::kBaudRate,
                                           device::kParity, device::kDataBits, device::kStopBits));
  if (recipe.prelude == Prelude::kClearThenBanner) {
    // Only the main program's load discards what the line holds before the wait.
    port->ClearTxBuffer();
    serial::FlushRxBuffer(*port);
    device::ShortPause();
  }
  if (recipe.prelude != Prelude::kNone) WriteBanner(*port);

  int letter = 0;
  {
    const device::AnnouncedWait wait(station, LetterSubject(recipe.letter), recipe.letterLimitMs);
    letter = serial::ReadChar(*port, recipe.letterLimitMs);
  }
  if (letter != recipe.letter) {
    Show(station, recipe.noLetterText);
    return false;
  }
  // The loader repeats its letter every half second: copies that piled up on the line while the
  // port was closed (a question on the screen) are no answer to the header that goes now.
  while (port->RxUsed() > 0) port->ReadCharNow();
  WriteHeader(*port, recipe, facts);
  const int answer = serial::ReadChar(*port, kHeaderAckLimitMs);
  if (answer != kAck) {
    Show(station, Formatted(recipe.noAckFormat, answer));
    return false;
  }

  transfer::PollRoutine poll;
  if (recipe.setProgressRange) {
    station.panel->SetProgressRange(1, static_cast<int>(facts.length / kProgressBlock));
    poll = BlockProgress(*station.panel);
  }
  const int sent = device::SendReported(station, *port, path.string(), poll);
  if (sent < 0) {
    // A failed transfer leaves the instrument without the image: the sequence must stop here.
    Show(station, Formatted(kTransferErrorFormat, sent));
    return false;
  }
  if (recipe.awaitConversion && !ConversionReported(station, *port)) return false;
  station.panel->SetProgress(0);
  return true;
}

}  // namespace

bool UploadBoot(device::Station& station, int portIndex, const std::filesystem::path& directory) {
  return RunUpload(station, portIndex, kBootRecipe, directory);
}

bool UploadUpdate(device::Station& station, int portIndex, const std::filesystem::path& directory) {
  return RunUpload(station, portIndex, kUpdateRecipe, directory);
}

bool UploadNewBoot(device::Station& station, int portIndex,
                   const std::filesystem::path& directory) {
  return RunUpload(station, portIndex, kNewBootRecipe, directory);
}

bool UploadSpecialMain(device::Station& station, int portIndex,
                       const std::filesystem::path& directory) {
  return RunUpload(station, portIndex, kSpecialMainRecipe, directory);
}

bool UploadMain(device::Station& station, int portIndex, const std::filesystem::path& directory) {
  return RunUpload(station, portIndex, kMainRecipe, directory);
}

}  // namespace zephor::update

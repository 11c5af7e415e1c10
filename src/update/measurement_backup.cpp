// The dated copy is made from the downloaded bytes and read back before anything may erase them.
#include "update/measurement_backup.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "database/conversion.h"
#include "database/database_download.h"
#include "database/database_file.h"
#include "database/record_walk.h"
#include "database/saved_database.h"
#include "database/survey_report.h"
#include "files/folder_file.h"
#include "update/folder_check.h"
#include "update/folder_names.h"
#include "update/memory_probe.h"

namespace zephor::update {
namespace {

constexpr int kMaxSameSecondCopies = 100;
// A saved database is whole transfer blocks; what may follow its end-of-data byte is the rest of
// the last block (of up to 1024 bytes), memory that reads erased, or the transfer's own padding.
constexpr std::size_t kBlockUnit = 128;
constexpr std::size_t kLastBlockPadding = 1024;
constexpr std::uint8_t kErasedByte = 0xFF;
constexpr std::uint8_t kTransferPad = 0x1A;
constexpr const char* kNotReadBackFormat =
    "\tThe backup %s could not be written or read back (%s): the memory is not erased.\r\n";

template <typename... Values>
void Log(device::Station& station, const char* format, Values... values) {
  char line[512] = {};
  std::snprintf(line, sizeof line, format, values...);
  station.panel->AppendLog(line);
}

// A name no file holds yet; two saves in one second get their own copies too.
std::filesystem::path FreeDatedName(files::Disk& disk, const std::filesystem::path& directory,
                                    std::int32_t equipmentNumber) {
  const std::filesystem::path first = DatedBackupName(equipmentNumber, disk.WallClockSeconds());
  std::filesystem::path name = first;
  // A name whose state cannot be learned counts as taken: the copy goes under the next one.
  const auto taken = [&disk, &directory](const std::filesystem::path& candidate) {
    files::NameStatus status;
    std::string why;
    return !disk.Status(directory / candidate, status, why) ||
           status.kind != files::EntryKind::kAbsent;
  };
  for (int n = 1; taken(name) && n < kMaxSameSecondCopies; ++n) {
    name = first;
    name.replace_extension("." + std::to_string(n) + ".bin");
  }
  return name;
}

// True when the copy a journal names holds exactly these bytes.
bool AlreadyKept(files::Disk& disk, const std::filesystem::path& directory, const FileFacts* reuse,
                 const files::Bytes& saved) {
  if (reuse == nullptr || reuse->name.empty()) return false;
  FileFacts facts;
  files::Bytes bytes;
  return ReadFileFacts(disk, directory, reuse->name, facts, &bytes) && bytes == saved;
}

// The dated backup of the instrument in directory that holds exactly bytes, if any: the same
// surveys found again are named, not copied once more.
std::string FindKeptCopy(files::Disk& disk, const std::filesystem::path& directory,
                         std::int32_t equipmentNumber, const files::Bytes& bytes) {
  for (const std::string& name : DatedBackupsIn(disk, directory, equipmentNumber)) {
    FileFacts facts;
    files::Bytes held;
    if (ReadFileFacts(disk, directory, name, facts, &held) && held == bytes) return name;
  }
  return {};
}

// The walk of the reader the station's grade gets: the report's or the conversion's.
database::WalkEnd WalkAsRead(const device::Station& station, std::span<const std::uint8_t> bytes,
                             const std::function<bool(const database::Record&)>& visit) {
  return station.grade == database::kReportGrade ? database::WalkReportRecords(bytes, visit)
                                                 : database::WalkConversionRecords(bytes, visit);
}

}  // namespace

bool KeepProvenCopy(device::Station& station, const std::filesystem::path& directory,
                    std::int32_t equipmentNumber, const files::Bytes& saved, FileFacts& kept) {
  files::Disk& disk = device::DiskOf(station);
  const std::string found = FindKeptCopy(disk, directory, equipmentNumber, saved);
  if (!found.empty()) {
    kept = FactsOf(found, saved);
    Log(station, kBackupKeptFormat, found.c_str());
    return true;
  }
  const std::string name = FreeDatedName(disk, directory, equipmentNumber).string();
  std::string why;
  files::Bytes back;
  if (!files::CreateNewFile(disk, directory / name, saved, why) ||
      !files::ReadRegularFile(disk, directory / name, database::kSavedDatabaseLimit, back, why) ||
      back != saved) {
    if (why.empty()) why = "it reads back different";
    Log(station, kNotReadBackFormat, name.c_str(), why.c_str());
    return false;
  }
  kept = FactsOf(name, saved);
  Log(station, kBackupKeptFormat, name.c_str());
  return true;
}

bool DatabaseIsWhole(const device::Station& station, std::span<const std::uint8_t> bytes) {
  return WalkAsRead(station, bytes, [](const database::Record&) { return true; }) ==
         database::WalkEnd::kEndOfData;
}

bool BackupIsWhole(const device::Station& station, std::span<const std::uint8_t> bytes) {
  std::size_t end = 0;  // where the walk stopped
  const auto walk = WalkAsRead(station, bytes, [&end](const database::Record& record) {
    end = record.offset + record.size;
    return true;
  });
  if (bytes.size() % kBlockUnit != 0 || walk != database::WalkEnd::kEndOfData ||
      end >= bytes.size()) {
    return false;
  }
  // The report reads no further than a survey that was still running: what follows it is the
  // instrument's, not padding.
  if (!database::IsEndOfData(bytes[end])) return true;
  const std::span<const std::uint8_t> after = bytes.subspan(end + 1);
  return after.size() < kLastBlockPadding ||
         std::all_of(after.begin(), after.end(),
                     [](std::uint8_t byte) { return byte == kErasedByte || byte == kTransferPad; });
}

SaveOutcome SaveProvenBackup(device::Station& station, int portIndex,
                             const std::filesystem::path& directory, std::int32_t equipmentNumber,
                             FileFacts& kept, const FileFacts* reuse) {
  files::Bytes saved;
  switch (ReadMemory(station, portIndex, directory, database::kDatabaseFileName, saved)) {
    case MemoryRead::kEmpty:
      return SaveOutcome::kEmpty;
    case MemoryRead::kFailed:
      return SaveOutcome::kFailed;
    case MemoryRead::kRead:
      break;
  }
  if (!DatabaseIsWhole(station, saved)) return SaveOutcome::kNotWhole;
  if (AlreadyKept(device::DiskOf(station), directory, reuse, saved)) {
    // The facts come from the bytes just read, not from the record that named the file.
    kept = FactsOf(reuse->name, saved);
    Log(station, kBackupKeptFormat, reuse->name.c_str());
    return SaveOutcome::kProven;
  }
  return KeepProvenCopy(station, directory, equipmentNumber, saved, kept) ? SaveOutcome::kProven
                                                                          : SaveOutcome::kFailed;
}

bool BackupBeforeErase(device::Station& station, int portIndex,
                       const std::filesystem::path& directory, std::int32_t equipmentNumber,
                       FileFacts* kept) {
  FileFacts facts;
  switch (SaveProvenBackup(station, portIndex, directory, equipmentNumber, facts)) {
    case SaveOutcome::kProven:
      if (kept != nullptr) *kept = facts;
      return true;
    case SaveOutcome::kEmpty:
      return true;  // nothing stored, nothing to lose
    case SaveOutcome::kNotWhole:
    case SaveOutcome::kFailed:
      break;
  }
  return !device::StopRequested(station) && EraseWithoutBackupAnswered(station);
}

bool EraseWithoutBackupAnswered(device::Station& station) {
  if (station.panel->ShowMessage(kEraseAnywayQuestion, device::MessageButtons::kOkCancel)) {
    return true;
  }
  station.panel->AppendLog(kNoBackupLine);
  return false;
}

}  // namespace zephor::update

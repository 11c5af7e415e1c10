// The dated copy is made from the downloaded bytes and read back before anything may erase them.
#include "update/measurement_backup.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "database/database_download.h"
#include "database/database_file.h"
#include "database/record_walk.h"
#include "database/saved_database.h"
#include "files/folder_file.h"
#include "update/folder_names.h"

namespace zephor::update {
namespace {

constexpr int kNoAnswerYet = -1;  // a download reply field no instrument has filled in
constexpr int kMaxSameSecondCopies = 100;
constexpr const char* kNotReadBackFormat =
    "\tThe backup %s could not be written or read back (%s): the memory is not erased.\r\n";
constexpr const char* kSavedUnreadableFormat =
    "\tZEPHORdata.bin cannot be read back (%s): the memory is not erased.\r\n";

std::int64_t NowSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

template <typename... Values>
void Log(device::Station& station, const char* format, Values... values) {
  char line[512] = {};
  std::snprintf(line, sizeof line, format, values...);
  station.panel->AppendLog(line);
}

// A name no file holds yet; two saves in one second get their own copies too.
std::filesystem::path FreeDatedName(const std::filesystem::path& directory,
                                    std::int32_t equipmentNumber) {
  const std::filesystem::path first = DatedBackupName(equipmentNumber, NowSeconds());
  std::filesystem::path name = first;
  std::error_code ec;
  for (int n = 1; std::filesystem::symlink_status(directory / name, ec).type() !=
                      std::filesystem::file_type::not_found &&
                  n < kMaxSameSecondCopies;
       ++n) {
    name = first;
    name.replace_extension("." + std::to_string(n) + ".bin");
  }
  return name;
}

// Writes the copy as a new file, synced, then reads it back: only bytes that came back from the
// disk as they went in count as kept.
bool KeepProvenCopy(device::Station& station, const std::filesystem::path& directory,
                    std::int32_t equipmentNumber, const files::Bytes& saved, FileFacts& kept) {
  const std::string name = FreeDatedName(directory, equipmentNumber).string();
  std::string why;
  files::Bytes back;
  if (!files::CreateNewFile(directory / name, saved, why) ||
      !files::ReadRegularFile(directory / name, database::kSavedDatabaseLimit, back, why) ||
      back != saved) {
    if (why.empty()) why = "it reads back different";
    Log(station, kNotReadBackFormat, name.c_str(), why.c_str());
    return false;
  }
  kept = FactsOf(name, saved);
  Log(station, kBackupKeptFormat, name.c_str());
  return true;
}

// True when the copy a journal names holds exactly these bytes.
bool AlreadyKept(const std::filesystem::path& directory, const FileFacts* reuse,
                 const files::Bytes& saved) {
  if (reuse == nullptr || reuse->name.empty()) return false;
  FileFacts facts;
  files::Bytes bytes;
  return ReadFileFacts(directory, reuse->name, facts, &bytes) && bytes == saved;
}

}  // namespace

bool DatabaseIsWhole(const device::Station& station, std::span<const std::uint8_t> bytes) {
  const auto step = station.grade == database::kReportGrade
                        ? database::EmptySurveyStep::kHeaderAndTrailer
                        : database::EmptySurveyStep::kHeaderOnly;
  return database::WalkRecords(bytes, step, [](const database::Record&) { return true; }) ==
         database::WalkEnd::kEndOfData;
}

SaveOutcome SaveProvenBackup(device::Station& station, int portIndex,
                             const std::filesystem::path& directory, std::int32_t equipmentNumber,
                             FileFacts& kept, const FileFacts* reuse) {
  // No answer at all must not read as an empty memory.
  station.downloadReply[1] = kNoAnswerYet;
  if (!database::DownloadDatabase(station, portIndex, directory)) {
    const bool empty = station.downloadReply[1] == 0 && !device::StopRequested(station);
    return empty ? SaveOutcome::kEmpty : SaveOutcome::kFailed;
  }
  files::Bytes saved;
  std::string why;
  if (!files::ReadRegularFile(directory / database::kDatabaseFileName,
                              database::kSavedDatabaseLimit, saved, why)) {
    Log(station, kSavedUnreadableFormat, why.c_str());
    return SaveOutcome::kFailed;
  }
  if (!DatabaseIsWhole(station, saved)) return SaveOutcome::kNotWhole;
  if (AlreadyKept(directory, reuse, saved)) {
    kept = *reuse;
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

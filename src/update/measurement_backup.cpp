// The dated copy is made from the saved file, so that the walked and the kept bytes are the same.
#include "update/measurement_backup.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "database/database_download.h"
#include "database/database_file.h"
#include "database/record_walk.h"
#include "database/saved_database.h"

namespace zephor::update {
namespace {

constexpr int kNoAnswerYet = -1;  // a download reply field no instrument has filled in
constexpr int kMaxSameSecondCopies = 100;

std::int64_t NowSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::filesystem::path DatedBackupName(std::int32_t equipmentNumber, std::int64_t utcSeconds) {
  using namespace std::chrono;
  const sys_seconds at{seconds{utcSeconds}};
  const auto day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{at - day};
  char name[96] = {};
  std::snprintf(name, sizeof name, "ZEPHORdata-%09ld-%04d%02u%02uT%02ld%02ld%02ldZ.bin",
                static_cast<long>(equipmentNumber), static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()));
  return name;
}

bool SavedDatabaseIsWhole(const device::Station& station, const std::filesystem::path& directory) {
  std::ifstream file(directory / database::kDatabaseFileName, std::ios::binary);
  if (!file) return false;
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
  if (file.bad()) return false;
  const auto step = station.grade == database::kReportGrade
                        ? database::EmptySurveyStep::kHeaderAndTrailer
                        : database::EmptySurveyStep::kHeaderOnly;
  return database::WalkRecords(bytes, step, [](const database::Record&) { return true; }) ==
         database::WalkEnd::kEndOfData;
}

std::optional<std::filesystem::path> KeepDatedBackup(device::Station& station,
                                                     const std::filesystem::path& directory,
                                                     std::int32_t equipmentNumber) {
  const std::filesystem::path saved = directory / database::kDatabaseFileName;
  std::filesystem::path dated = directory / DatedBackupName(equipmentNumber, NowSeconds());
  std::error_code ec;
  // Two saves in one second get their own copies too.
  for (int n = 1; std::filesystem::exists(dated, ec) && n < kMaxSameSecondCopies; ++n) {
    std::filesystem::path numbered = dated;
    numbered.replace_extension("." + std::to_string(n) + ".bin");
    if (!std::filesystem::exists(numbered, ec)) dated = numbered;
  }
  if (!std::filesystem::copy_file(saved, dated, std::filesystem::copy_options::none, ec)) {
    return std::nullopt;
  }
  char line[256] = {};
  std::snprintf(line, sizeof line, kBackupKeptFormat, dated.filename().string().c_str());
  station.panel->AppendLog(line);
  return dated;
}

bool BackupBeforeErase(device::Station& station, int portIndex,
                       const std::filesystem::path& directory, std::int32_t equipmentNumber,
                       std::filesystem::path* kept) {
  // No answer at all must not read as an empty memory.
  station.downloadReply[1] = kNoAnswerYet;
  if (database::DownloadDatabase(station, portIndex, directory)) {
    if (SavedDatabaseIsWhole(station, directory)) {
      const std::optional<std::filesystem::path> dated =
          KeepDatedBackup(station, directory, equipmentNumber);
      if (dated && kept != nullptr) *kept = *dated;
      if (dated) return true;
    }
  } else if (station.downloadReply[1] == 0) {
    return true;  // nothing stored, nothing to lose
  }
  if (device::StopRequested(station)) return false;
  if (station.panel->ShowMessage(kEraseAnywayQuestion, device::MessageButtons::kOkCancel)) {
    return true;
  }
  station.panel->AppendLog(kNoBackupLine);
  return false;
}

}  // namespace zephor::update

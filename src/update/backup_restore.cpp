// Writing a named backup back: the same checks and the same chain as the restore, from a file.
#include "update/backup_restore.h"

#include <cstdio>
#include <string>

#include "database/database_file.h"
#include "database/database_upload.h"
#include "database/saved_database.h"
#include "files/folder_file.h"
#include "update/folder_names.h"
#include "update/measurement_backup.h"
#include "update/update_planner.h"

namespace zephor::update {
namespace {

constexpr const char* kWriteBackGrade = "QH";
constexpr const char* kNotWholeText = "it does not walk to an end-of-data byte";

template <typename... Values>
bool Refuse(device::Station& station, const char* format, Values... values) {
  char text[1024] = {};
  std::snprintf(text, sizeof text, format, values...);
  station.panel->AppendLog(std::string("\t") + text + "\r\n");
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
  return false;
}

}  // namespace

bool RestoreFromBackup(device::Station& station, const device::DeviceInfo& info,
                       const std::filesystem::path& directory,
                       const std::filesystem::path& backup) {
  const std::string shown = backup.filename().string();
  const std::string number = EquipmentText(info.equipmentNumber);
  files::Bytes bytes;
  std::string why;
  if (!files::ReadRegularFile(backup, database::kSavedDatabaseLimit, bytes, why)) {
    return Refuse(station, kBackupNotUsableFormat, shown.c_str(), why.c_str());
  }
  device::StoreGrade(station, info.grade);
  if (!DatabaseIsWhole(station, bytes)) {
    return Refuse(station, kBackupNotUsableFormat, shown.c_str(), kNotWholeText);
  }
  // A conversion in the new layout means nothing to an old main.
  if (info.mainVersion <= kOldLayoutLimit) {
    return Refuse(station, kOldLayoutMainFormat, number.c_str(),
                  static_cast<double>(info.mainVersion));
  }
  // The memory is saved first, like before any erase: a memory that holds anything is left alone.
  FileFacts kept;
  switch (SaveProvenBackup(station, station.portIndex, directory, info.equipmentNumber, kept)) {
    case SaveOutcome::kEmpty:
      break;
    case SaveOutcome::kProven:
      return Refuse(station, kMemoryNotEmptyFormat, number.c_str(), kept.name.c_str());
    case SaveOutcome::kNotWhole:
    case SaveOutcome::kFailed:
      return Refuse(station, kMemoryUnknownFormat, number.c_str());
  }
  if (!files::ReplaceContents(directory / database::kDatabaseFileName, bytes, why)) {
    return Refuse(station, kBackupNotUsableFormat, shown.c_str(), why.c_str());
  }
  const database::SavedDatabaseOutcome outcome =
      database::ProcessSavedDatabase(station, info, directory);
  if (outcome == database::SavedDatabaseOutcome::kNotLoaded ||
      outcome == database::SavedDatabaseOutcome::kConversionFailed ||
      outcome == database::SavedDatabaseOutcome::kReportFailed) {
    return false;
  }
  if (station.grade == kWriteBackGrade &&
      (!database::UploadDatabase(station, station.portIndex, outcome, directory) ||
       device::StopRequested(station))) {
    return false;
  }
  char line[512] = {};
  std::snprintf(line, sizeof line, kBackupWrittenBackFormat, shown.c_str(), number.c_str());
  station.panel->AppendLog(line);
  return true;
}

}  // namespace zephor::update

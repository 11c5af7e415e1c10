// Writing a named backup back: the same checks and the same chain as the restore, from a file.
#include "update/backup_restore.h"

#include <cstdio>
#include <string>
#include <system_error>

#include "database/database_file.h"
#include "database/database_upload.h"
#include "database/saved_database.h"
#include "files/folder_file.h"
#include "update/folder_names.h"
#include "update/measurement_backup.h"
#include "update/memory_probe.h"
#include "update/run_journal.h"
#include "update/update_planner.h"

namespace zephor::update {
namespace {

constexpr const char* kBackupWriteBackGrade = "QH";

template <typename... Values>
bool Refuse(device::Station& station, const char* format, Values... values) {
  char text[1024] = {};
  std::snprintf(text, sizeof text, format, values...);
  station.panel->AppendLog(std::string("\t") + text + "\r\n");
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
  return false;
}

// A backup belongs to an instrument by its dated name, or by the journal of this folder that
// names it as the backup of its restore.
bool BelongsTo(files::Disk& disk, const std::filesystem::path& backup,
               const std::filesystem::path& directory, std::int32_t equipmentNumber) {
  const std::string name = backup.filename().string();
  if (IsDatedBackupName(name, equipmentNumber)) return true;
  RunJournal journal;
  std::error_code ec;
  const std::filesystem::path folder = directory.empty() ? std::filesystem::path(".") : directory;
  if (!ReadJournal(disk, JournalPath(directory, equipmentNumber), journal) ||
      journal.backup.name != name) {
    return false;
  }
  // The same folder by its name needs no look at the system; another name of it (a link, an
  // absolute path) is asked of the system.
  const std::filesystem::path where = files::FolderOf(backup);
  return where.lexically_normal() == folder.lexically_normal() ||
         std::filesystem::equivalent(where, folder, ec);
}

// The memory must be empty now; one that holds this backup's conversion was written back by an
// earlier try. True when the conversion may go in (sendNow) or is in already.
bool MemoryReady(device::Station& station, const device::DeviceInfo& info,
                 const std::filesystem::path& directory, const std::string& shown, bool& sendNow) {
  const std::string number = EquipmentText(info.equipmentNumber);
  FileFacts conversion;
  const bool writeBack =
      station.grade == kBackupWriteBackGrade &&
      ReadFileFacts(device::DiskOf(station), directory, database::kConversionFileName, conversion);
  const MemoryFound found = ProbeMemory(station, station.portIndex, directory, info.equipmentNumber,
                                        nullptr, writeBack ? &conversion : nullptr);
  // An empty conversion is what the empty memory holds already: a transfer of nothing would fail.
  sendNow = found.holds == MemoryHolds::kEmpty && writeBack && conversion.length > 0;
  switch (found.holds) {
    case MemoryHolds::kEmpty:
      return true;
    case MemoryHolds::kConversion: {
      char line[512] = {};
      std::snprintf(line, sizeof line, kBackupInMemoryFormat, number.c_str(), shown.c_str());
      station.panel->AppendLog(line);
      return true;
    }
    case MemoryHolds::kBackup:
    case MemoryHolds::kOther:
      if (!found.kept.name.empty()) {
        return Refuse(station, kMemoryNotEmptyFormat, number.c_str(), found.kept.name.c_str());
      }
      break;
    case MemoryHolds::kUnknown:
      break;
  }
  return Refuse(station, kMemoryUnknownFormat, number.c_str());
}

}  // namespace

bool RestoreFromBackup(device::Station& station, const device::DeviceInfo& info,
                       const std::filesystem::path& directory, const std::filesystem::path& backup,
                       bool otherInstrument) {
  const std::string shown = backup.filename().string();
  const std::string number = EquipmentText(info.equipmentNumber);
  files::Bytes bytes;
  std::string why;
  files::Disk& disk = device::DiskOf(station);
  if (!files::ReadRegularFile(disk, backup, database::kSavedDatabaseLimit, bytes, why)) {
    return Refuse(station, kBackupNotUsableFormat, shown.c_str(), why.c_str());
  }
  device::StoreGrade(station, info.grade);
  if (!BackupIsWhole(station, bytes)) {
    return Refuse(station, kBackupNotUsableFormat, shown.c_str(), kNotWholeText);
  }
  if (!otherInstrument && !BelongsTo(disk, backup, directory, info.equipmentNumber)) {
    return Refuse(station, kNotThisInstrumentFormat, shown.c_str(), number.c_str());
  }
  // A conversion in the new layout means nothing to an old main.
  if (info.mainVersion <= kOldLayoutLimit) {
    return Refuse(station, kOldLayoutMainFormat, number.c_str(),
                  static_cast<double>(info.mainVersion));
  }
  // The report or conversion is made from the named file itself: ZEPHORdata.bin, the last saved
  // database, stays as it is.
  const database::SavedDatabaseOutcome outcome =
      database::ProcessDatabaseBytes(station, info, bytes, directory);
  if (outcome == database::SavedDatabaseOutcome::kNotLoaded ||
      outcome == database::SavedDatabaseOutcome::kConversionFailed ||
      outcome == database::SavedDatabaseOutcome::kReportFailed) {
    return false;
  }
  bool sendNow = false;
  if (!MemoryReady(station, info, directory, shown, sendNow)) return false;
  if (sendNow && (!database::UploadDatabase(station, station.portIndex, outcome, directory) ||
                  device::StopRequested(station))) {
    return false;
  }
  char line[512] = {};
  std::snprintf(line, sizeof line, kBackupWrittenBackFormat, shown.c_str(), number.c_str());
  station.panel->AppendLog(line);
  return true;
}

}  // namespace zephor::update

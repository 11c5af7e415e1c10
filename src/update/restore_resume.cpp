// The resume reads the journal, asks once and hands the stage to the restore.
#include "update/restore_resume.h"

#include <cstdio>
#include <string>
#include <vector>

#include "files/folder_file.h"
#include "update/database_restore.h"
#include "update/folder_check.h"
#include "update/folder_names.h"
#include "update/image_files.h"
#include "update/open_run_wait.h"
#include "update/run_journal.h"
#include "update/update_planner.h"

namespace zephor::update {
namespace {

// "ZEPHORdata-...bin and ZEPHORdata-...bin": the instrument's dated backups in the folder.
std::string BackupsText(files::Disk& disk, const std::filesystem::path& directory,
                        std::int32_t equipmentNumber) {
  const std::vector<std::string> names = DatedBackupsIn(disk, directory, equipmentNumber);
  if (names.empty()) return "no dated backup of this folder";
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return text;
}

}  // namespace

ResumeOutcome FinishOpenRestore(device::Station& station, const device::DeviceInfo& identified,
                                const std::filesystem::path& directory) {
  files::Disk& disk = device::DiskOf(station);
  const std::filesystem::path path = JournalPath(directory, identified.equipmentNumber);
  RunJournal journal;
  if (!ReadJournal(disk, path, journal) || !journal.restoreFollows) {
    return ResumeOutcome::kNone;
  }
  // A run stopped just after the instrument took its new main may not have noted the load: the
  // main the instrument runs now says it as well.
  if (!ImageLoaded(journal, kMainImage) && identified.mainVersion <= kOldLayoutLimit) {
    return ResumeOutcome::kNone;
  }
  char question[256] = {};
  std::snprintf(question, sizeof question, kResumeRestoreFormat,
                RestoreStageText(journal.restoreStage));
  if (!station.panel->ShowMessage(question, device::MessageButtons::kOkCancel)) {
    return ResumeOutcome::kDeclined;
  }
  // The chain works by the grade and identification the instrument had when the run began.
  device::StoreGrade(station, journal.info.grade);
  const device::DeviceInfo info = journal.info;
  JournalKeeper keeper(disk, path, std::move(journal));
  AnnounceRestoreTransfers(station, keeper.record().restoreStage);
  if (!RunDatabaseRestore(station, station.portIndex, info, directory, &keeper,
                          RestoreEntry::kInstrumentRunning)) {
    return ResumeOutcome::kIncomplete;
  }
  keeper.Remove();
  return ResumeOutcome::kFinished;
}

void TellOpenRestoreLeft(device::Station& station, const std::filesystem::path& directory,
                         const device::DeviceInfo& identified) {
  if (device::StopRequested(station)) return;
  RunJournal journal;
  ReadJournal(device::DiskOf(station), JournalPath(directory, identified.equipmentNumber), journal);
  char text[1024] = {};
  std::snprintf(text, sizeof text, kOpenRestoreLeftFormat,
                EquipmentText(identified.equipmentNumber).c_str(),
                StoppedRunWords(journal).c_str());
  station.panel->AppendLog(std::string("\t") + text + "\r\n");
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
}

bool CloseOpenRestore(device::Station& station, const std::filesystem::path& directory,
                      const device::DeviceInfo& identified) {
  files::Disk& disk = device::DiskOf(station);
  const std::filesystem::path path = JournalPath(directory, identified.equipmentNumber);
  RunJournal journal;
  if (!ReadJournal(disk, path, journal)) {
    station.panel->AppendLog(kNoOpenRestoreLine);
    return false;
  }
  const std::filesystem::path closed =
      directory / ClosedJournalName(identified.equipmentNumber, disk.WallClockSeconds());
  std::string why;
  if (!files::RenameDurably(disk, path, closed, why)) {
    station.panel->AppendLog("\t" + path.filename().string() + " cannot be renamed: " + why +
                             ". The restore stays open.\r\n");
    return false;
  }
  const std::string backups = BackupsText(disk, directory, identified.equipmentNumber);
  char line[1024] = {};
  std::snprintf(line, sizeof line, kRestoreClosedFormat,
                EquipmentText(identified.equipmentNumber).c_str(),
                closed.filename().string().c_str(), backups.c_str());
  station.panel->AppendLog(line);
  return true;
}

}  // namespace zephor::update

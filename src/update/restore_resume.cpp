// The resume reads the journal, asks once and hands the stage to the restore.
#include "update/restore_resume.h"

#include <cstdio>
#include <system_error>

#include "update/database_restore.h"
#include "update/image_files.h"
#include "update/run_journal.h"
#include "update/update_planner.h"

namespace zephor::update {
ResumeOutcome FinishOpenRestore(device::Station& station, const device::DeviceInfo& identified,
                                const std::filesystem::path& directory) {
  const std::filesystem::path path = JournalPath(directory, identified.equipmentNumber);
  std::error_code ec;
  RunJournal journal;
  if (!std::filesystem::exists(path, ec) || !ReadJournal(path, journal) ||
      !journal.restoreFollows) {
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
  JournalKeeper keeper(path, std::move(journal));
  AnnounceRestoreTransfers(station, keeper.record().restoreStage);
  if (!RunDatabaseRestore(station, station.portIndex, info, directory, &keeper,
                          RestoreEntry::kInstrumentRunning)) {
    return ResumeOutcome::kIncomplete;
  }
  keeper.Remove();
  return ResumeOutcome::kFinished;
}

}  // namespace zephor::update

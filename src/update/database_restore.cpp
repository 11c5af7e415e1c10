// The restore runs the database chain in a fixed order and moves the bar after each step.
#include "update/database_restore.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "database/database_download.h"
#include "database/database_file.h"
#include "database/database_upload.h"
#include "database/record_walk.h"
#include "database/saved_database.h"
#include "device/command_link.h"
#include "device/erase.h"
#include "update/measurement_backup.h"

namespace zephor::update {

namespace {

// The grade whose instruments are only erased, and the one that gets its database back.
constexpr const char* kEraseOnlyGrade = "Q";
constexpr const char* kWriteBackGrade = "QH";
constexpr const char* kWaitAbandonedLine = "\tWaiting for READY abandoned: memory not touched.\r\n";
constexpr const char* kBackupUnreadableLine =
    "\tZEPHORdata.bin does not decode: memory not erased, the file is kept.\r\n";

// Tries WaitReady until the instrument answers; every kReadyTriesPerQuestion failures the operator
// may give up. False when the wait was abandoned.
bool AwaitReady(device::Station& station, int portIndex) {
  int failures = 0;
  while (!device::WaitReady(station.ports, portIndex)) {
    if (device::StopRequested(station)) return false;
    if (++failures % kReadyTriesPerQuestion == 0 &&
        !station.panel->ShowMessage(kKeepWaitingQuestion, device::MessageButtons::kOkCancel)) {
      return false;
    }
  }
  return true;
}

// Names the step the restore did not get past, so the operator knows what is left.
bool Incomplete(device::OperatorPanel& panel, const char* step) {
  char line[160] = {};
  std::snprintf(line, sizeof line, kRestoreIncompleteFormat, step);
  panel.AppendLog(line);
  return false;
}

}  // namespace

bool RunDatabaseRestore(device::Station& station, int portIndex, const device::DeviceInfo& info,
                        const std::filesystem::path& directory) {
  device::OperatorPanel& panel = *station.panel;
  const device::LoadingScope loading(station);
  panel.SetProgress(kRestoreStarted);
  if (!AwaitReady(station, portIndex)) {
    panel.AppendLog(kWaitAbandonedLine);
    return Incomplete(panel, "waiting for READY");
  }
  panel.SetProgress(kRestoreReady);

  if (station.grade == kEraseOnlyGrade) {
    // The new main cannot read the old surveys, but they are saved before they are erased.
    if (!BackupBeforeErase(station, portIndex, directory, info.equipmentNumber)) {
      return Incomplete(panel, "saving the measurements before the erase");
    }
    device::EraseLogger(station, true);
    panel.SetProgress(kRestoreDone);
    return !device::StopRequested(station) || Incomplete(panel, "erasing");
  }

  if (!database::DownloadDatabase(station, portIndex, directory)) {
    // An instrument with nothing stored has nothing to restore.
    if (station.downloadReply[1] == 0 && !device::StopRequested(station)) return true;
    return Incomplete(panel, "saving the database");
  }
  if (!SavedDatabaseIsWhole(station, directory)) {
    panel.AppendLog(kBackupUnreadableLine);
    panel.ShowMessage(kBackupUnreadableMessage, device::MessageButtons::kOk);
    return Incomplete(panel, "checking the saved database");
  }
  if (!KeepDatedBackup(station, directory, info.equipmentNumber)) {
    return Incomplete(panel, "keeping a dated copy of the saved database");
  }
  panel.SetProgress(kRestoreSaved);
  device::EraseLogger(station, false);
  panel.SetProgress(kRestoreErased);
  const database::SavedDatabaseOutcome outcome =
      database::ProcessSavedDatabase(station, info, directory);
  panel.SetProgress(kRestoreProcessed);
  if (station.grade == kWriteBackGrade) {
    database::UploadDatabase(station, portIndex, outcome, directory);
  }
  panel.SetProgress(kRestoreDone);
  return !device::StopRequested(station) || Incomplete(panel, "writing the database back");
}

}  // namespace zephor::update

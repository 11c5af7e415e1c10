// The restore runs the database chain in a fixed order and moves the bar after each step.
#include "update/database_restore.h"

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

// The saved copy is the only one once the memory is erased: it must load and its records must
// reach their end byte inside the file, walked as the reader of this grade will walk them.
bool BackupIsWhole(const device::Station& station, const std::filesystem::path& directory) {
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

}  // namespace

bool RunDatabaseRestore(device::Station& station, int portIndex, const device::DeviceInfo& info,
                        const std::filesystem::path& directory) {
  device::OperatorPanel& panel = *station.panel;
  const device::LoadingScope loading(station);
  panel.SetProgress(kRestoreStarted);
  if (!AwaitReady(station, portIndex)) {
    panel.AppendLog(kWaitAbandonedLine);
    return false;
  }
  panel.SetProgress(kRestoreReady);

  if (station.grade == kEraseOnlyGrade) {
    device::EraseLogger(station, true);
    panel.SetProgress(kRestoreDone);
    return !device::StopRequested(station);
  }

  if (!database::DownloadDatabase(station, portIndex, directory)) {
    // An instrument with nothing stored has nothing to restore.
    return station.downloadReply[1] == 0 && !device::StopRequested(station);
  }
  if (!BackupIsWhole(station, directory)) {
    panel.AppendLog(kBackupUnreadableLine);
    panel.ShowMessage(kBackupUnreadableMessage, device::MessageButtons::kOk);
    return false;
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
  return !device::StopRequested(station);
}

}  // namespace zephor::update

// The restore runs the database chain in a fixed order and moves the bar after each step.
#include "update/database_restore.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "database/database_download.h"
#include "database/database_file.h"
#include "database/database_upload.h"
#include "database/record_walk.h"
#include "database/saved_database.h"
#include "device/announced_wait.h"
#include "device/command_link.h"
#include "device/erase.h"
#include "device/transfer_progress.h"
#include "update/measurement_backup.h"

namespace zephor::update {

namespace {

// The grade whose instruments are only erased, and the one that gets its database back.
constexpr const char* kEraseOnlyGrade = "Q";
constexpr const char* kWriteBackGrade = "QH";
constexpr const char* kWaitAbandonedLine = "\tWaiting for READY abandoned: memory not touched.\r\n";
constexpr const char* kBackupMismatchLine =
    "\tThe saved backup is missing or differs from its record: nothing more is done.\r\n";
constexpr const char* kBackupUnreadableLine =
    "\tZEPHORdata.bin does not decode: memory not erased, the file is kept.\r\n";

// A try that ended early (the port did not open: the adapter was pulled out) still takes its
// time, so the question comes once a minute and an adapter plugged in again is found.
void WaitOutTry(device::Station& station, std::uint32_t start) {
  serial::Timing* timing = station.ports.timing;
  if (timing == nullptr) return;
  while (timing->TickMs() - start < static_cast<std::uint32_t>(device::kReadyLimitMs) &&
         !timing->StopRequested()) {
    timing->Idle(nullptr);
  }
}

// Tries WaitReady until the instrument answers; every kReadyTriesPerQuestion failures the operator
// may give up. False when the wait was abandoned.
bool AwaitReady(device::Station& station, int portIndex) {
  int failures = 0;
  for (;;) {
    {
      const device::AnnouncedWait wait(station, "READY", device::kReadyLimitMs);
      const std::uint32_t start = device::StationTick(station);
      if (device::WaitReady(station.ports, portIndex)) break;
      WaitOutTry(station, start);
    }
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

// Notes a stage and the dated backup in the journal before the next step begins.
bool Record(JournalKeeper* journal, const std::filesystem::path& directory, RestoreStage stage,
            const std::filesystem::path& backup = {}) {
  if (journal == nullptr) return true;
  RunJournal& record = journal->record();
  if (!backup.empty() && !ReadFileFacts(directory, backup.filename().string(), record.backup)) {
    return false;
  }
  record.restoreStage = stage;
  return journal->Save();
}

// After the erase the saved copy is the only one: ZEPHORdata.bin must be the backup the journal
// names, byte for byte, or is made so from the dated copy.
bool PutBackupInPlace(const std::filesystem::path& directory, const FileFacts& backup) {
  FileFacts dated;
  if (backup.name.empty() || !ReadFileFacts(directory, backup.name, dated) ||
      dated.length != backup.length || dated.crc != backup.crc) {
    return false;
  }
  FileFacts saved;
  if (ReadFileFacts(directory, database::kDatabaseFileName, saved) &&
      saved.length == backup.length && saved.crc == backup.crc) {
    return true;
  }
  // Copied by hand: the Windows library's copy over an existing file is not to be relied on.
  std::ifstream from(directory / backup.name, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(from)),
                                std::istreambuf_iterator<char>());
  {
    std::ofstream to(directory / database::kDatabaseFileName, std::ios::binary | std::ios::trunc);
    to.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!to.flush()) return false;
  }
  return ReadFileFacts(directory, database::kDatabaseFileName, saved) &&
         saved.length == backup.length && saved.crc == backup.crc;
}

// Saves the memory (download, whole walk, dated copy); the journal then says "saved".
bool SaveMemory(device::Station& station, int portIndex, const device::DeviceInfo& info,
                const std::filesystem::path& directory, JournalKeeper* journal, bool& empty) {
  device::OperatorPanel& panel = *station.panel;
  empty = false;
  if (!database::DownloadDatabase(station, portIndex, directory)) {
    // An instrument with nothing stored has nothing to restore.
    empty = station.downloadReply[1] == 0 && !device::StopRequested(station);
    return empty || Incomplete(panel, "saving the database");
  }
  if (!SavedDatabaseIsWhole(station, directory)) {
    panel.AppendLog(kBackupUnreadableLine);
    panel.ShowMessage(kBackupUnreadableMessage, device::MessageButtons::kOk);
    return Incomplete(panel, "checking the saved database");
  }
  const std::optional<std::filesystem::path> dated =
      KeepDatedBackup(station, directory, info.equipmentNumber);
  if (!dated || !Record(journal, directory, RestoreStage::kSaved, *dated)) {
    return Incomplete(panel, "keeping a dated copy of the saved database");
  }
  return true;
}

}  // namespace

void AnnounceRestoreTransfers(device::Station& station, RestoreStage stage) {
  if (stage == RestoreStage::kPending) {
    device::AnnounceTransfer(station, database::kDatabaseFileName, 0);
  }
  if (station.grade == kWriteBackGrade) {
    device::AnnounceTransfer(station, database::kConversionFileName, 0);
  }
}

bool RunDatabaseRestore(device::Station& station, int portIndex, const device::DeviceInfo& info,
                        const std::filesystem::path& directory, JournalKeeper* journal,
                        RestoreEntry entry) {
  device::OperatorPanel& panel = *station.panel;
  const device::LoadingScope loading(station);
  RestoreStage stage = journal != nullptr ? journal->record().restoreStage : RestoreStage::kPending;
  panel.SetProgress(kRestoreStarted);
  // A restarted instrument says READY once; one already running is not waited for.
  if (entry == RestoreEntry::kAfterNewMain && !AwaitReady(station, portIndex)) {
    panel.AppendLog(kWaitAbandonedLine);
    return Incomplete(panel, "waiting for READY");
  }
  panel.SetProgress(kRestoreReady);

  if (station.grade == kEraseOnlyGrade) {
    // The new main cannot read the old surveys, but they are saved before they are erased.
    if (stage == RestoreStage::kPending) {
      std::filesystem::path kept;
      if (!BackupBeforeErase(station, portIndex, directory, info.equipmentNumber, &kept) ||
          !Record(journal, directory, RestoreStage::kSaved, kept)) {
        return Incomplete(panel, "saving the measurements before the erase");
      }
    }
    device::EraseLogger(station, true);
    panel.SetProgress(kRestoreDone);
    return !device::StopRequested(station) || Incomplete(panel, "erasing");
  }

  if (stage == RestoreStage::kPending) {
    bool empty = false;
    if (!SaveMemory(station, portIndex, info, directory, journal, empty)) return false;
    if (empty) return true;
    stage = RestoreStage::kSaved;
  }
  panel.SetProgress(kRestoreSaved);
  if (stage == RestoreStage::kSaved) {
    device::EraseLogger(station, false);
    if (device::StopRequested(station)) return Incomplete(panel, "erasing");
    if (!Record(journal, directory, RestoreStage::kErased)) {
      return Incomplete(panel, "recording the erase");
    }
  }
  // After the erase the surveys exist only in the backup: what is processed is the copy the
  // journal names, also when another instrument's restore wrote ZEPHORdata.bin since.
  if (journal != nullptr && !PutBackupInPlace(directory, journal->record().backup)) {
    panel.AppendLog(kBackupMismatchLine);
    return Incomplete(panel, "finding the saved backup");
  }
  panel.SetProgress(kRestoreErased);
  const database::SavedDatabaseOutcome outcome =
      database::ProcessSavedDatabase(station, info, directory);
  if (journal != nullptr) {
    const char* written = station.grade == database::kReportGrade ? database::kReportFileName
                                                                  : database::kConversionFileName;
    ReadFileFacts(directory, written, journal->record().conversion);
    Record(journal, directory, RestoreStage::kProcessed);
  }
  panel.SetProgress(kRestoreProcessed);
  if (station.grade == kWriteBackGrade &&
      (!database::UploadDatabase(station, portIndex, outcome, directory) ||
       device::StopRequested(station))) {
    return Incomplete(panel, "writing the database back");
  }
  panel.SetProgress(kRestoreDone);
  return !device::StopRequested(station) || Incomplete(panel, "the database restore");
}

}  // namespace zephor::update

// The restore runs the database chain in a fixed order and moves the bar after each step.
#include "update/database_restore.h"

#include <cstdio>
#include <string>
#include <vector>

#include "database/database_file.h"
#include "database/database_upload.h"
#include "database/saved_database.h"
#include "device/announced_wait.h"
#include "device/command_link.h"
#include "device/erase.h"
#include "device/transfer_progress.h"
#include "files/folder_file.h"
#include "update/measurement_backup.h"

namespace zephor::update {

namespace {

// The grade whose instruments are only erased, and the one that gets its database back.
constexpr const char* kEraseOnlyGrade = "Q";
constexpr const char* kWriteBackGrade = "QH";
constexpr const char* kWaitAbandonedLine = "\tWaiting for READY abandoned: memory not touched.\r\n";
constexpr const char* kBackupMismatchFormat =
    "\tThe saved backup %s is missing or differs from its record: nothing more is done.\r\n";
constexpr const char* kBackupUnreadableLine =
    "\tZEPHORdata.bin does not decode: memory not erased, the file is kept.\r\n";
constexpr const char* kEmptyConversionLine =
    "\tThe conversion is empty: the erased memory holds it already, nothing is sent.\r\n";
constexpr const char* kFoundErasedFormat =
    "\tThe memory is erased already: the restore goes on from %s.\r\n";

// A try that ended early (the port did not open: the adapter was pulled out) still takes its
// time, so the question comes once a minute and an adapter plugged in again is found.
void WaitOutTry(device::Station& station, std::uint32_t start) {
  serial::Timing* timing = station.ports.timing;
  if (timing == nullptr) return;
  const auto tryMs = static_cast<std::uint32_t>(device::kReadyLimitMs);
  for (std::uint32_t waited;
       (waited = timing->TickMs() - start) < tryMs && !timing->StopRequested();) {
    timing->IdleFor(nullptr, tryMs - waited);
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

template <typename... Values>
std::string Formatted(const char* format, Values... values) {
  char line[512] = {};
  std::snprintf(line, sizeof line, format, values...);
  return line;
}

// Names the step the restore did not get past, so the operator knows what is left.
bool Incomplete(device::OperatorPanel& panel, const char* step) {
  panel.AppendLog(Formatted(kRestoreIncompleteFormat, step));
  return false;
}

// Notes a stage (and the backup it rests on) in the journal before the next step begins.
bool Record(JournalKeeper* journal, RestoreStage stage, const FileFacts* backup = nullptr) {
  if (journal == nullptr) return true;
  if (backup != nullptr) journal->record().backup = *backup;
  journal->record().restoreStage = stage;
  return journal->Save();
}

// After the erase the backup is the only copy: it must read back as its record says and be whole,
// and ZEPHORdata.bin is made that copy, byte for byte, also when another run wrote it since.
bool PutBackupInPlace(const device::Station& station, const std::filesystem::path& directory,
                      const FileFacts& backup) {
  FileFacts dated;
  files::Bytes bytes;
  if (backup.name.empty() || !ReadFileFacts(directory, backup.name, dated, &bytes) ||
      dated.length != backup.length || dated.crc != backup.crc ||
      !DatabaseIsWhole(station, bytes)) {
    return false;
  }
  FileFacts saved;
  files::Bytes current;
  if (ReadFileFacts(directory, database::kDatabaseFileName, saved, &current) && current == bytes) {
    return true;
  }
  std::string why;
  return files::ReplaceContents(directory / database::kDatabaseFileName, bytes, why);
}

// What the save before the erase allows.
enum class BeforeErase { kErase, kNothingStored, kGoOnFromBackup, kStop };

// The memory is still the instrument's (or was erased by a run stopped before it noted the
// erase): it is saved, and the saved copy proven, before anything may erase it.
BeforeErase SaveBeforeErase(device::Station& station, int portIndex, const device::DeviceInfo& info,
                            const std::filesystem::path& directory, JournalKeeper* journal,
                            RestoreStage stage, FileFacts& backup) {
  device::OperatorPanel& panel = *station.panel;
  const bool eraseOnly = station.grade == kEraseOnlyGrade;
  FileFacts kept;
  const FileFacts* reuse = stage == RestoreStage::kSaved ? &backup : nullptr;
  switch (SaveProvenBackup(station, portIndex, directory, info.equipmentNumber, kept, reuse)) {
    case SaveOutcome::kProven:
      backup = kept;
      if (!Record(journal, RestoreStage::kSaved, &backup)) {
        Incomplete(panel, "recording the saved backup");
        return BeforeErase::kStop;
      }
      return BeforeErase::kErase;
    case SaveOutcome::kEmpty:
      if (stage == RestoreStage::kSaved) {
        // Saved, then erased by a run that stopped before it could note it: the surveys are in
        // the backup the journal names.
        panel.AppendLog(Formatted(kFoundErasedFormat, backup.name.c_str()));
        return BeforeErase::kGoOnFromBackup;
      }
      return eraseOnly ? BeforeErase::kErase : BeforeErase::kNothingStored;
    case SaveOutcome::kNotWhole:
      if (!eraseOnly) {
        panel.AppendLog(kBackupUnreadableLine);
        panel.ShowMessage(kBackupUnreadableMessage, device::MessageButtons::kOk);
        Incomplete(panel, "checking the saved database");
        return BeforeErase::kStop;
      }
      break;
    case SaveOutcome::kFailed:
      break;
  }
  // The new main of an erase-only grade cannot read the old surveys: the operator may erase them
  // unsaved; every other grade keeps its memory until a copy is proven.
  if (eraseOnly && !device::StopRequested(station) && EraseWithoutBackupAnswered(station)) {
    return BeforeErase::kErase;
  }
  Incomplete(panel, eraseOnly ? "saving the measurements before the erase" : "saving the database");
  return BeforeErase::kStop;
}

}  // namespace

void AnnounceRestoreTransfers(device::Station& station, RestoreStage stage) {
  // A memory that may still hold the surveys is saved again before the erase.
  if (stage == RestoreStage::kPending || stage == RestoreStage::kSaved) {
    device::AnnounceTransfer(station, database::kDatabaseFileName, 0);
  }
  if (station.grade == kWriteBackGrade) {
    device::AnnounceTransfer(station, database::kConversionFileName, 0);
  }
}

bool RunDatabaseRestore(device::Station& station, int portIndex, const device::DeviceInfo& info,
                        const std::filesystem::path& directory, JournalKeeper* journal,
                        RestoreEntry entry, const std::function<bool()>& confirmInstrument) {
  device::OperatorPanel& panel = *station.panel;
  const device::LoadingScope loading(station);
  RestoreStage stage = journal != nullptr ? journal->record().restoreStage : RestoreStage::kPending;
  FileFacts backup = journal != nullptr ? journal->record().backup : FileFacts{};
  const bool eraseOnly = station.grade == kEraseOnlyGrade;
  panel.SetProgress(kRestoreStarted);
  // A restarted instrument says READY once; one already running is not waited for.
  if (entry == RestoreEntry::kAfterNewMain && !AwaitReady(station, portIndex)) {
    panel.AppendLog(kWaitAbandonedLine);
    return Incomplete(panel, "waiting for READY");
  }
  panel.SetProgress(kRestoreReady);
  if (confirmInstrument && !confirmInstrument()) return false;

  bool eraseNow = false;
  const bool memoryMayHoldSurveys =
      stage == RestoreStage::kPending || stage == RestoreStage::kSaved;
  if (memoryMayHoldSurveys) {
    switch (SaveBeforeErase(station, portIndex, info, directory, journal, stage, backup)) {
      case BeforeErase::kStop:
        return false;
      case BeforeErase::kNothingStored:
        return true;  // an instrument with nothing stored has nothing to restore
      case BeforeErase::kGoOnFromBackup:
        break;
      case BeforeErase::kErase:
        eraseNow = true;
        break;
    }
  }
  if (!eraseOnly) panel.SetProgress(kRestoreSaved);
  // False only when the instrument did not unlock: then the command never went out.
  if (eraseNow && !device::EraseLogger(station, eraseOnly)) return Incomplete(panel, "erasing");
  // The command went out (or a stopped run's did): the memory is erased, whatever stops the run
  // from here.
  if (memoryMayHoldSurveys && !Record(journal, RestoreStage::kErased)) {
    return Incomplete(panel, "recording the erase");
  }
  if (eraseOnly) {
    panel.SetProgress(kRestoreDone);
    return true;
  }
  if (device::StopRequested(station)) return Incomplete(panel, "writing the report or conversion");

  // After the erase the surveys exist only in the backup: what is processed is that copy.
  if (!PutBackupInPlace(station, directory, backup)) {
    panel.AppendLog(Formatted(kBackupMismatchFormat,
                              backup.name.empty() ? "(none named)" : backup.name.c_str()));
    return Incomplete(panel, "finding the saved backup");
  }
  panel.SetProgress(kRestoreErased);
  const database::SavedDatabaseOutcome outcome =
      database::ProcessSavedDatabase(station, info, directory);
  if (journal != nullptr) {
    const char* written = station.grade == database::kReportGrade ? database::kReportFileName
                                                                  : database::kConversionFileName;
    ReadFileFacts(directory, written, journal->record().conversion);
    Record(journal, RestoreStage::kProcessed);
  }
  panel.SetProgress(kRestoreProcessed);
  if (station.grade == kWriteBackGrade) {
    FileFacts converted;
    // The erased memory already equals an empty conversion: a transfer of nothing would fail.
    if (outcome == database::SavedDatabaseOutcome::kConverted &&
        ReadFileFacts(directory, database::kConversionFileName, converted) &&
        converted.length == 0) {
      panel.AppendLog(kEmptyConversionLine);
    } else if (!database::UploadDatabase(station, portIndex, outcome, directory) ||
               device::StopRequested(station)) {
      return Incomplete(panel, "writing the database back");
    }
  }
  panel.SetProgress(kRestoreDone);
  return !device::StopRequested(station) || Incomplete(panel, "the database restore");
}

}  // namespace zephor::update

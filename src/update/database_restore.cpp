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
#include "device/formatted_text.h"
#include "device/transfer_progress.h"
#include "files/folder_file.h"
#include "update/folder_names.h"
#include "update/measurement_backup.h"
#include "update/memory_erase.h"
#include "update/memory_probe.h"

namespace zephor::update {

using device::Formatted;

namespace {

// The grade whose instruments are only erased, and the one that gets its database back.
constexpr const char* kEraseOnlyGrade = "Q";
constexpr const char* kWriteBackGrade = "QH";
constexpr const char* kWaitAbandonedLine =
    "\tThe wait for READY was given up: the memory was not touched.\r\n";
constexpr const char* kBackupMismatchFormat =
    "\tThe saved backup %s is missing or differs from its record: nothing more is done.\r\n";
constexpr const char* kBackupUnreadableLine =
    "\tZEPHORdata.bin does not read as a whole database: the memory is not erased, and the file is "
    "kept.\r\n";
constexpr const char* kEmptyConversionLine =
    "\tThe conversion is empty: the erased memory holds it already, nothing is sent.\r\n";
constexpr const char* kFoundErasedFormat =
    "\tThe memory is erased already: the restore goes on from %s.\r\n";
constexpr const char* kWrittenBackAlreadyLine =
    "\tThe memory holds the converted database already: it was written back before.\r\n";
constexpr const char* kOtherSurveysFormat =
    "The memory of ZEPHOR %s holds surveys this restore did not save: they are kept in %s and "
    "nothing was written over them. The surveys of the restore are in %s. Press Make Update again "
    "once the memory is empty, or end the restore with: zephor restore PORT --close";
constexpr const char* kUnsavedSurveysFormat =
    "The memory of ZEPHOR %s holds surveys this restore did not save, and no copy of them could "
    "be written here: nothing was written over them. The surveys of the restore are in %s. Free "
    "space in this folder and press Make Update again.";

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
  files::Disk& disk = device::DiskOf(station);
  FileFacts dated;
  files::Bytes bytes;
  if (backup.name.empty() || !ReadFileFacts(disk, directory, backup.name, dated, &bytes) ||
      dated.length != backup.length || dated.crc != backup.crc ||
      !DatabaseIsWhole(station, bytes)) {
    return false;
  }
  FileFacts saved;
  files::Bytes current;
  if (ReadFileFacts(disk, directory, database::kDatabaseFileName, saved, &current) &&
      current == bytes) {
    return true;
  }
  std::string why;
  return files::ReplaceContents(disk, directory / database::kDatabaseFileName, bytes, why);
}

// The restore decides each step from what the instrument's memory holds when it looks, and where
// it stands: before the erase (the memory may still hold the surveys) or before the write-back
// (the surveys are in the proven backup).
enum class LookPoint { kBeforeErase, kBeforeWriteBack };

enum class Step {
  kErase,        // the memory holds surveys proven saved in a dated backup: erase it
  kGoOn,         // before the erase: erased already, the backup holds the surveys
  kNothingToDo,  // before the erase: nothing stored; before the write-back: written back already
  kWriteBack,    // the memory is empty: the conversion goes in
  kKeepAndStop,  // surveys this restore did not save: kept in a dated backup, nothing written
  kStop,         // the memory could not be read or saved: nothing is decided from it
};

struct Decision {
  LookPoint point;
  bool backupNamed;  // the journal names a backup made before this look
  MemoryHolds memory;
  Step step;
};

// Every case the restore can meet; a case not in the table stops the restore.
constexpr Decision kDecisions[] = {
    {LookPoint::kBeforeErase, false, MemoryHolds::kEmpty, Step::kNothingToDo},
    {LookPoint::kBeforeErase, true, MemoryHolds::kEmpty, Step::kGoOn},
    {LookPoint::kBeforeErase, false, MemoryHolds::kBackup, Step::kErase},
    {LookPoint::kBeforeErase, true, MemoryHolds::kBackup, Step::kErase},
    {LookPoint::kBeforeErase, false, MemoryHolds::kOther, Step::kErase},
    {LookPoint::kBeforeErase, true, MemoryHolds::kOther, Step::kErase},
    {LookPoint::kBeforeWriteBack, true, MemoryHolds::kEmpty, Step::kWriteBack},
    {LookPoint::kBeforeWriteBack, true, MemoryHolds::kConversion, Step::kNothingToDo},
    {LookPoint::kBeforeWriteBack, true, MemoryHolds::kBackup, Step::kErase},
    {LookPoint::kBeforeWriteBack, true, MemoryHolds::kOther, Step::kKeepAndStop},
};

Step Decide(LookPoint point, bool backupNamed, MemoryHolds memory) {
  for (const Decision& row : kDecisions) {
    if (row.point == point && row.backupNamed == backupNamed && row.memory == memory) {
      return row.step;
    }
  }
  return Step::kStop;
}

// Before the erase the memory is downloaded as the save itself: into ZEPHORdata.bin, checked
// whole and kept as a dated backup read back from the disk. What it held, for the table.
MemoryHolds LookBeforeErase(device::Station& station, int portIndex, const device::DeviceInfo& info,
                            const std::filesystem::path& directory, RestoreStage stage,
                            FileFacts& backup) {
  device::OperatorPanel& panel = *station.panel;
  const bool eraseOnly = station.grade == kEraseOnlyGrade;
  FileFacts kept;
  const FileFacts* reuse = stage == RestoreStage::kSaved ? &backup : nullptr;
  switch (SaveProvenBackup(station, portIndex, directory, info.equipmentNumber, kept, reuse)) {
    case SaveOutcome::kProven: {
      const bool same = reuse != nullptr && kept.name == backup.name;
      backup = kept;
      return same ? MemoryHolds::kBackup : MemoryHolds::kOther;
    }
    case SaveOutcome::kEmpty:
      return MemoryHolds::kEmpty;
    case SaveOutcome::kNotWhole:
      if (!eraseOnly) {
        panel.AppendLog(kBackupUnreadableLine);
        panel.ShowMessage(kBackupUnreadableMessage, device::MessageButtons::kOk);
        Incomplete(panel, "checking the saved database");
        return MemoryHolds::kUnknown;
      }
      break;
    case SaveOutcome::kFailed:
      break;
  }
  // The new main of an erase-only grade cannot read the old surveys: the operator may erase them
  // unsaved; every other grade keeps its memory until a copy is proven.
  if (eraseOnly && !device::StopRequested(station) && EraseWithoutBackupAnswered(station)) {
    backup = FileFacts{};
    return MemoryHolds::kOther;
  }
  Incomplete(panel, eraseOnly ? "saving the measurements before the erase" : "saving the database");
  return MemoryHolds::kUnknown;
}

// The erase, proven: only a memory that reads empty afterwards counts as erased.
bool EraseProven(device::Station& station, int portIndex, const device::DeviceInfo& info,
                 const std::filesystem::path& directory, const FileFacts& backup, bool announce) {
  const FileFacts* saved = backup.name.empty() ? nullptr : &backup;
  return EraseAndProve(station, portIndex, directory, info.equipmentNumber, announce, saved) ==
         EraseOutcome::kErased;
}

// Up to the erase, by what the memory holds. False when the restore ends here; done tells whether
// it ended complete (nothing was stored).
bool SaveAndErase(device::Station& station, int portIndex, const device::DeviceInfo& info,
                  const std::filesystem::path& directory, JournalKeeper* journal,
                  RestoreStage stage, FileFacts& backup, bool& done) {
  device::OperatorPanel& panel = *station.panel;
  const bool eraseOnly = station.grade == kEraseOnlyGrade;
  const bool backupNamed = stage == RestoreStage::kSaved;
  const MemoryHolds memory = LookBeforeErase(station, portIndex, info, directory, stage, backup);
  switch (Decide(LookPoint::kBeforeErase, backupNamed, memory)) {
    case Step::kNothingToDo:
      done = true;  // an instrument with nothing stored has nothing to restore
      return false;
    case Step::kGoOn:
      // Saved, then erased by a run that stopped before it could note it: the surveys are in the
      // backup the journal names.
      panel.AppendLog(Formatted(kFoundErasedFormat, backup.name.c_str()));
      if (!eraseOnly) panel.SetProgress(kRestoreSaved);
      break;
    case Step::kErase:
      if (!backup.name.empty() && !Record(journal, RestoreStage::kSaved, &backup)) {
        return Incomplete(panel, "recording the saved backup");
      }
      if (!eraseOnly) panel.SetProgress(kRestoreSaved);
      if (!EraseProven(station, portIndex, info, directory, backup, eraseOnly)) {
        return Incomplete(panel, "erasing");
      }
      break;
    default:
      return false;  // told where it stopped
  }
  if (!Record(journal, RestoreStage::kErased)) return Incomplete(panel, "recording the erase");
  return true;
}

// The surveys the memory holds now were not saved by this restore: they are kept, and the
// technician decides what becomes of the restore.
bool KeepAndStop(device::Station& station, const device::DeviceInfo& info, const FileFacts& backup,
                 const FileFacts& kept) {
  const std::string number = EquipmentText(info.equipmentNumber);
  const std::string text =
      kept.name.empty()
          ? Formatted(kUnsavedSurveysFormat, number.c_str(), backup.name.c_str())
          : Formatted(kOtherSurveysFormat, number.c_str(), kept.name.c_str(), backup.name.c_str());
  station.panel->AppendLog("\t" + text + "\r\n");
  station.panel->ShowMessage(text, device::MessageButtons::kOk);
  return Incomplete(*station.panel, "writing the database back");
}

// Before the conversion goes in, the memory must be empty at that moment: a memory that already
// holds the conversion was written back by a run that stopped after it; one that holds other
// surveys is never written over.
bool WriteBack(device::Station& station, int portIndex, const device::DeviceInfo& info,
               const std::filesystem::path& directory, const FileFacts& backup,
               const FileFacts& conversion, database::SavedDatabaseOutcome outcome) {
  device::OperatorPanel& panel = *station.panel;
  // The erased memory already equals an empty conversion: a transfer of nothing would fail.
  if (outcome == database::SavedDatabaseOutcome::kConverted && conversion.length == 0) {
    panel.AppendLog(kEmptyConversionLine);
    return true;
  }
  const MemoryFound found =
      ProbeMemory(station, portIndex, directory, info.equipmentNumber, &backup, &conversion);
  switch (Decide(LookPoint::kBeforeWriteBack, true, found.holds)) {
    case Step::kNothingToDo:
      panel.AppendLog(kWrittenBackAlreadyLine);
      return true;
    case Step::kErase:
      // The memory still is the proven backup: the erase of an earlier run did not take.
      if (!EraseProven(station, portIndex, info, directory, backup, false)) {
        return Incomplete(panel, "erasing");
      }
      break;
    case Step::kWriteBack:
      break;
    case Step::kKeepAndStop:
      return KeepAndStop(station, info, backup, found.kept);
    default:
      return Incomplete(panel, "checking the memory before the write-back");
  }
  if (!database::UploadDatabase(station, portIndex, outcome, directory) ||
      device::StopRequested(station)) {
    return Incomplete(panel, "writing the database back");
  }
  return true;
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

  const bool memoryMayHoldSurveys =
      stage == RestoreStage::kPending || stage == RestoreStage::kSaved;
  if (memoryMayHoldSurveys) {
    bool done = false;
    if (!SaveAndErase(station, portIndex, info, directory, journal, stage, backup, done)) {
      return done;
    }
  } else if (!eraseOnly) {
    panel.SetProgress(kRestoreSaved);
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
  const bool report = station.grade == database::kReportGrade;
  FileFacts written;
  // A report or conversion that was not completed is no stage reached.
  if (outcome != (report ? database::SavedDatabaseOutcome::kReportWritten
                         : database::SavedDatabaseOutcome::kConverted) ||
      !ReadFileFacts(device::DiskOf(station), directory,
                     report ? database::kReportFileName : database::kConversionFileName, written)) {
    return Incomplete(panel, "writing the report or conversion");
  }
  if (journal != nullptr) journal->record().conversion = written;
  if (!Record(journal, RestoreStage::kProcessed)) {
    return Incomplete(panel, "recording the report or conversion");
  }
  panel.SetProgress(kRestoreProcessed);
  if (station.grade == kWriteBackGrade &&
      !WriteBack(station, portIndex, info, directory, backup, written, outcome)) {
    return false;
  }
  panel.SetProgress(kRestoreDone);
  return !device::StopRequested(station) || Incomplete(panel, "the database restore");
}

}  // namespace zephor::update

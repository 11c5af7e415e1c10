// The database chain after a main program of the new memory layout: wait, save, erase, convert.
#pragma once

#include <filesystem>
#include <functional>

#include "device/device_info.h"
#include "device/operator_panel.h"
#include "update/run_journal.h"

namespace zephor::update {

// Where the restore begins: right after a new main program, which says READY once it runs, or on
// an instrument that already runs it.
enum class RestoreEntry { kAfterNewMain, kInstrumentRunning };

// Progress positions the operator follows the chain by.
inline constexpr int kRestoreStarted = 10;
inline constexpr int kRestoreReady = 30;
inline constexpr int kRestoreSaved = 50;
inline constexpr int kRestoreErased = 80;
inline constexpr int kRestoreProcessed = 90;
inline constexpr int kRestoreDone = 100;

// After this many failed tries of WaitReady (a minute) the operator is asked whether to go on.
inline constexpr int kReadyTriesPerQuestion = 4;
inline constexpr const char* kKeepWaitingQuestion = "ZEPHOR not ready. Keep waiting?";
inline constexpr const char* kRestoreIncompleteFormat =
    "\tThe database restore is not complete: %s did not finish. Make Update will finish it.\r\n";
inline constexpr const char* kBackupUnreadableMessage =
    "The saved database ZEPHORdata.bin cannot be read back.\n"
    "The ZEPHOR memory has not been erased.";

// Tells the panel which files a restore at stage will move, before the run that holds it starts:
// the memory while it is not yet erased, and the conversion that a "QH" instrument gets back.
void AnnounceRestoreTransfers(device::Station& station, RestoreStage stage);

// Waits for the restarted instrument, then by station.grade erases only ("Q"), or saves the
// database, erases, writes the report or conversion and, for "QH", sends the conversion back.
// The memory is erased only once the saved copy has been read back whole. Files live in
// directory (the working directory when empty). Every saved database is also kept under a dated
// name. With a journal each stage is recorded as it is reached, and a journal that already holds
// a stage is finished from there: after the erase the work goes on from the dated backup it names.
// confirmInstrument, when given, runs once the instrument is ready and before its memory is
// touched; false ends the restore there. False when the restore did not complete; the log names
// the step.
bool RunDatabaseRestore(device::Station& station, int portIndex, const device::DeviceInfo& info,
                        const std::filesystem::path& directory = {},
                        JournalKeeper* journal = nullptr,
                        RestoreEntry entry = RestoreEntry::kAfterNewMain,
                        const std::function<bool()>& confirmInstrument = {});

}  // namespace zephor::update

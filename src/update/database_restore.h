// The database chain after a main program of the new memory layout: wait, save, erase, convert.
#pragma once

#include <filesystem>

#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::update {

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
    "\tDatabase restore not completed: %s did not finish.\r\n";
inline constexpr const char* kBackupUnreadableMessage =
    "The saved database ZEPHORdata.bin cannot be read back.\n"
    "The ZEPHOR memory has not been erased.";

// Waits for the restarted instrument, then by station.grade erases only ("Q"), or saves the
// database, erases, writes the report or conversion and, for "QH", sends the conversion back.
// The memory is erased only once the saved copy has been read back whole. Files live in
// directory (the working directory when empty). False when the restore did not complete: the
// wait was abandoned or stopped, or no whole copy of the database could be saved.
bool RunDatabaseRestore(device::Station& station, int portIndex, const device::DeviceInfo& info,
                        const std::filesystem::path& directory = {});

}  // namespace zephor::update

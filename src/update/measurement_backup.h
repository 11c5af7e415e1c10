// Backups of the measurement memory: every saved database is kept under a name no later run
// overwrites, and no erase goes ahead until that copy has been read back from the disk and found
// to hold what was just downloaded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "device/operator_panel.h"
#include "files/folder_file.h"
#include "update/run_journal.h"

namespace zephor::update {

inline constexpr const char* kEraseAnywayQuestion =
    "No backup of the measurements could be saved. Erase anyway?";
inline constexpr const char* kBackupKeptFormat = "\tBackup kept as %s\r\n";
inline constexpr const char* kNoBackupLine =
    "\tNo backup of the measurements could be saved: the memory is not erased.\r\n";

// What a save of the measurement memory came to.
enum class SaveOutcome {
  kProven,    // a dated copy on disk holds, byte for byte, what was just downloaded
  kEmpty,     // the instrument holds nothing: nothing to lose
  kNotWhole,  // what arrived does not walk to its end-of-data byte
  kFailed,    // nothing, or no copy that reads back, could be saved
};

// True when bytes walk to their end-of-data byte as the reader of the station's grade walks them:
// only then are they a copy the memory may be erased after.
bool DatabaseIsWhole(const device::Station& station, std::span<const std::uint8_t> bytes);

// Stricter, for a file a technician names: the walk reaches its end-of-data byte, and what
// follows it is no more than the last transfer block's padding (or erased memory). A cut file, or
// bytes that only happen to hold an end-of-data byte early, are no saved database.
bool BackupIsWhole(const device::Station& station, std::span<const std::uint8_t> bytes);

// Downloads the memory into ZEPHORdata.bin in directory, checks that it is whole, keeps it under
// its dated name (or finds it kept already as reuse names it) and reads that copy back. kept gets
// the dated copy's facts when the outcome is kProven.
SaveOutcome SaveProvenBackup(device::Station& station, int portIndex,
                             const std::filesystem::path& directory, std::int32_t equipmentNumber,
                             FileFacts& kept, const FileFacts* reuse = nullptr);

// Writes bytes as a new dated backup of the instrument in directory, synced, and reads it back:
// only bytes that came back from the disk as they went in count as kept. A dated backup that
// holds the same bytes already is named instead. kept gets the copy's facts; false, after a log
// line that says why, when no copy could be made.
bool KeepProvenCopy(device::Station& station, const std::filesystem::path& directory,
                    std::int32_t equipmentNumber, const files::Bytes& saved, FileFacts& kept);

// "No backup of the measurements could be saved. Erase anyway?": true on OK; on Cancel the log
// says the memory is not erased.
bool EraseWithoutBackupAnswered(device::Station& station);

// Before an erase that has no saved copy behind it: a proven backup as above. True when the erase
// may go on: a backup was proven (its facts go to *kept when given), the memory is empty, or the
// operator answered OK to erase without one.
bool BackupBeforeErase(device::Station& station, int portIndex,
                       const std::filesystem::path& directory, std::int32_t equipmentNumber,
                       FileFacts* kept = nullptr);

}  // namespace zephor::update

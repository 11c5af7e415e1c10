// Backups of the measurement memory: every saved database is kept under a name no later run
// overwrites, and no erase goes ahead without one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "device/operator_panel.h"

namespace zephor::update {

inline constexpr const char* kEraseAnywayQuestion =
    "No backup of the measurements could be saved. Erase anyway?";
inline constexpr const char* kBackupKeptFormat = "\tBackup kept as %s\r\n";
inline constexpr const char* kNoBackupLine =
    "\tNo backup of the measurements could be saved: the memory is not erased.\r\n";

// "ZEPHORdata-000012345-20261207T153000Z.bin": equipment number and UTC time of the save.
std::filesystem::path DatedBackupName(std::int32_t equipmentNumber, std::int64_t utcSeconds);

// True when the saved database in directory walks to its end-of-data byte as the reader of the
// station's grade walks it: only then is it a copy the memory may be erased after.
bool SavedDatabaseIsWhole(const device::Station& station, const std::filesystem::path& directory);

// Copies the saved database to its dated name in directory and logs the name; the path, or
// nothing when the copy could not be made.
std::optional<std::filesystem::path> KeepDatedBackup(device::Station& station,
                                                     const std::filesystem::path& directory,
                                                     std::int32_t equipmentNumber);

// Before an erase that has no saved copy behind it: saves the database as the download does,
// checks it and keeps it under its dated name. True when the erase may go on: a whole backup was
// kept (its path goes to *kept when given), the memory is empty, or the operator answered OK to
// erase without one.
bool BackupBeforeErase(device::Station& station, int portIndex,
                       const std::filesystem::path& directory, std::int32_t equipmentNumber,
                       std::filesystem::path* kept = nullptr);

}  // namespace zephor::update

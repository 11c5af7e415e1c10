// Before a run writes into its working folder: it takes the folder for itself, and the journals
// it finds there must each be readable and belong to the instrument at hand, or the run stops
// before anything is loaded or erased and says which file, why, and where the surveys are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "device/operator_panel.h"
#include "files/folder_lock.h"

namespace zephor::update {

inline constexpr const char* kFolderBusyFormat =
    "Another update is running in this folder (process %ld). Use another folder for the second "
    "instrument.";
inline constexpr const char* kFolderNotLockedFormat =
    "This folder cannot be taken for the update: %s: %s.";
inline constexpr const char* kJournalUnusableFormat =
    "%s cannot be used: %s. It is kept as it is; %s.";
inline constexpr const char* kForeignJournalFormat =
    "%s is the record of ZEPHOR %s, not of the connected ZEPHOR %s. It is kept as it is; %s. "
    "Connect ZEPHOR %s to finish its update, or use another folder for this instrument.";
inline constexpr const char* kNothingDoneText = "nothing was loaded or erased";
inline constexpr const char* kOnlyLoaderProgramsText =
    "only the programs the loader asked for were loaded, and nothing was erased";
inline constexpr const char* kBackupsHereFormat = "Dated backups of %s in this folder: %s.";
inline constexpr const char* kNoBackupsHereFormat = "No dated backup of %s is in this folder.";
inline constexpr const char* kWayOutText =
    "A journal that is damaged can be moved out of the folder. An instrument whose memory was "
    "erased gets a dated backup back with: zephor restore PORT --backup FILE";

// Takes the folder's lock; when another run holds it, or it cannot be made, the operator is told
// and nothing is returned.
std::optional<files::FolderLock> TakeFolder(device::Station& station,
                                            const std::filesystem::path& directory);

// The dated backups in directory, by name; only that instrument's when its number is known.
std::vector<std::string> DatedBackupsIn(files::Disk& disk, const std::filesystem::path& directory,
                                        std::optional<std::int32_t> equipmentNumber);

// True when every journal in directory is readable and, when the connected instrument is known
// by its number, its own. Otherwise the operator is told which journal, why, and which dated
// backups the folder holds, and the run must stop.
// loaderPrograms tells that the boot or update program a loader asked for went in already.
bool JournalsAllowRun(device::Station& station, const std::filesystem::path& directory,
                      std::optional<std::int32_t> connected, bool loaderPrograms = false);

}  // namespace zephor::update

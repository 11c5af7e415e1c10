// The names of the files a run keeps in its working folder, and the test a name read back from
// a journal must pass: a plain name of the expected pattern, never a path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace zephor::update {

inline constexpr const char* kJournalPrefix = "ZEPHORrestore-";
inline constexpr const char* kJournalSuffix = ".json";
inline constexpr const char* kDatedBackupPrefix = "ZEPHORdata-";
inline constexpr const char* kClosedJournalPrefix = "ZEPHORclosed-";

// "ZEPHORrestore-000012345.json" in directory (the working directory when empty).
std::filesystem::path JournalPath(const std::filesystem::path& directory,
                                  std::int32_t equipmentNumber);

// True for any name a journal is kept under ("ZEPHORrestore-" ... ".json").
bool IsJournalName(const std::string& name);

// The equipment number a journal's name carries; nothing when the name carries none.
std::optional<std::int32_t> JournalNameNumber(const std::string& name);

// "ZEPHORdata-000012345-20261207T153000Z.bin": equipment number and UTC time of the save.
std::filesystem::path DatedBackupName(std::int32_t equipmentNumber, std::int64_t utcSeconds);

// "20261207T153000Z": a moment in UTC as the folder's names carry it.
std::string UtcStamp(std::int64_t utcSeconds);

// "ZEPHORclosed-000012345-20261207T153000Z.json": the record of a restore the technician ended,
// kept under a name no run takes for an open journal.
std::filesystem::path ClosedJournalName(std::int32_t equipmentNumber, std::int64_t utcSeconds);

// True when name is a dated backup of that instrument as DatedBackupName makes them, with or
// without the ".N" a second copy in the same second gets: no folder, no link, nothing else.
bool IsDatedBackupName(const std::string& name, std::int32_t equipmentNumber);

// "000012345": the instrument's number as names and messages write it.
std::string EquipmentText(std::int32_t equipmentNumber);

}  // namespace zephor::update

// The record of one Make Update run, kept beside the saved database until the run completes, so
// that a stopped run can be finished on its instrument.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "device/device_info.h"

namespace zephor::update {

inline constexpr const char* kJournalPrefix = "ZEPHORrestore-";
inline constexpr const char* kJournalSuffix = ".json";

struct RunJournal {
  device::DeviceInfo info;          // the instrument as identified when the run began
  std::vector<std::string> images;  // the images of the sequence, in load order
  bool specialMain = false;         // main1p29.bin goes before main.bin
  bool restoreFollows = false;      // the database restore follows the main program
  std::vector<std::string> loaded;  // the images loaded so far, over every run that used it
  std::int64_t writtenAt = 0;       // seconds since 1970, UTC, of the last rewrite
};

// "ZEPHORrestore-000012345.json" in directory (the working directory when empty).
std::filesystem::path JournalPath(const std::filesystem::path& directory,
                                  std::int32_t equipmentNumber);

// Writes the journal whole to a temporary file, flushes it and renames it over path, so that a
// reader finds either the previous or the new record, never half of one. False when it could
// not be written.
bool WriteJournal(const std::filesystem::path& path, const RunJournal& journal);

// False when the file is missing or does not hold a journal.
bool ReadJournal(const std::filesystem::path& path, RunJournal& journal);

// The most recently written journal in directory, if any.
std::optional<std::filesystem::path> FindNewestJournal(const std::filesystem::path& directory);

// What the run reached, for the operator: "newboot.bin", or "its start" before the first image.
std::string StepReached(const RunJournal& journal);

// True when image was loaded in a run the journal records.
bool ImageLoaded(const RunJournal& journal, const std::string& image);

}  // namespace zephor::update

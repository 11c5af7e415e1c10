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

// How far the database restore got. Each stage is written before the step after it begins, so
// a stopped restore is finished from the last stage written.
enum class RestoreStage {
  kPending,    // nothing saved yet: the memory is as the run found it
  kSaved,      // a whole backup of the memory is on disk
  kErased,     // the memory is erased: the backup is the only copy of the surveys
  kProcessed,  // the report or the conversion was written from the backup
};

// A file the restore made, as the journal knows it.
struct FileFacts {
  std::string name;  // file name inside the journal's folder; empty when none was made
  std::uint64_t length = 0;
  std::uint16_t crc = 0;  // CRC-16 of the whole file
};

struct RunJournal {
  device::DeviceInfo info;          // the instrument as identified when the run began
  std::vector<std::string> images;  // the images of the sequence, in load order
  bool specialMain = false;         // main1p29.bin goes before main.bin
  bool restoreFollows = false;      // the database restore follows the main program
  std::vector<std::string> loaded;  // the images loaded so far, over every run that used it
  std::int64_t writtenAt = 0;       // seconds since 1970, UTC, of the last rewrite
  RestoreStage restoreStage = RestoreStage::kPending;
  FileFacts backup;      // the dated copy of the saved database
  FileFacts conversion;  // the report or the conversion written from it
};

// The journal of one run as the planner and the restore keep it; inactive when the instrument is
// not known by its number.
class JournalKeeper {
 public:
  JournalKeeper() = default;
  JournalKeeper(std::filesystem::path path, RunJournal journal)
      : path_(std::move(path)), journal_(std::move(journal)) {}

  bool active() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  RunJournal& record() { return journal_; }
  const RunJournal& record() const { return journal_; }
  // Rewrites the file; true when inactive.
  bool Save() const;
  void Remove() const;

 private:
  std::filesystem::path path_;
  RunJournal journal_;
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

// The stage as the operator reads it: "nothing saved yet", "saved", "erased", "converted".
const char* RestoreStageText(RestoreStage stage);

// Name, length and CRC-16 of a file in directory; false when it cannot be read.
bool ReadFileFacts(const std::filesystem::path& directory, const std::string& name,
                   FileFacts& facts);

// What the run reached, for the operator: "newboot.bin", or "its start" before the first image.
std::string StepReached(const RunJournal& journal);

// True when image was loaded in a run the journal records.
bool ImageLoaded(const RunJournal& journal, const std::string& image);

}  // namespace zephor::update

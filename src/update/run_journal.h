// The record of one Make Update run, kept beside the saved database until the run completes, so
// that a stopped run can be finished on its instrument.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "device/device_info.h"
#include "files/disk.h"
#include "update/folder_names.h"

namespace zephor::update {

// A journal is a few hundred bytes; anything near this is not one.
inline constexpr std::uint64_t kJournalSizeLimit = 1 << 20;

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
  JournalKeeper(files::Disk& disk, std::filesystem::path path, RunJournal journal)
      : disk_(&disk), path_(std::move(path)), journal_(std::move(journal)) {}

  bool active() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  RunJournal& record() { return journal_; }
  const RunJournal& record() const { return journal_; }
  // Rewrites the file; true when inactive.
  bool Save() const;
  // Removes the file and syncs its folder; true when inactive or gone.
  bool Remove() const;

 private:
  files::Disk* disk_ = nullptr;
  std::filesystem::path path_;
  RunJournal journal_;
};

// Writes the journal whole to a fresh temporary file, syncs it and renames it over path, so that
// a reader finds either the previous or the new record, never half of one, and the stage is on
// the disk before the step it names begins. writtenAt is the disk's wall clock. False when it
// could not be written.
bool WriteJournal(files::Disk& disk, const std::filesystem::path& path, const RunJournal& journal);

// Reads a journal: a plain file under kJournalSizeLimit, not a link, holding a whole record whose
// file names are plain names of this folder's kinds (a dated backup of its own instrument, the
// report or the conversion, the five images). False with why set, in words, otherwise.
bool ReadJournal(files::Disk& disk, const std::filesystem::path& path, RunJournal& journal,
                 std::string& why);
bool ReadJournal(files::Disk& disk, const std::filesystem::path& path, RunJournal& journal);

// A file in the folder named as a journal, and whether it can be used.
struct FoundJournal {
  std::filesystem::path path;
  bool usable = false;
  RunJournal journal;  // when usable
  std::string why;     // when not
};

// Every file in directory named as a journal, each read and checked; one whose name carries
// another number than the instrument it holds is not usable.
std::vector<FoundJournal> ExamineJournals(files::Disk& disk,
                                          const std::filesystem::path& directory);
// The same on the system's disk, for the fleet's plan, which looks before any run starts.
std::vector<FoundJournal> ExamineJournals(const std::filesystem::path& directory);

// The most recently written usable journal in directory, if any.
std::optional<std::filesystem::path> FindNewestJournal(files::Disk& disk,
                                                       const std::filesystem::path& directory);

// The stage as the operator reads it: "nothing saved yet", "saved", "erased", "converted".
const char* RestoreStageText(RestoreStage stage);

// Name, length and CRC-16 of a plain file in directory (not a link, at most the saved
// database's limit); false when it cannot be read. The bytes go to *bytes when given.
bool ReadFileFacts(files::Disk& disk, const std::filesystem::path& directory,
                   const std::string& name, FileFacts& facts,
                   std::vector<std::uint8_t>* bytes = nullptr);

// The length and CRC-16 of bytes under name.
FileFacts FactsOf(const std::string& name, const std::vector<std::uint8_t>& bytes);

// What the run reached, for the operator: "newboot.bin", or "its start" before the first image.
std::string StepReached(const RunJournal& journal);

// True when image was loaded in a run the journal records.
bool ImageLoaded(const RunJournal& journal, const std::string& image);

}  // namespace zephor::update

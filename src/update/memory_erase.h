// The erase of the measurement memory, never taken on trust: a proven backup before it, and the
// memory read back empty from the instrument after it, before anything is recorded or goes on.
#pragma once

#include <cstdint>
#include <filesystem>

#include "device/operator_panel.h"
#include "update/run_journal.h"

namespace zephor::update {

inline constexpr const char* kEraseQuestion = "Erase all measurements stored in the ZEPHOR?";
inline constexpr const char* kEraseNotTakenText =
    "The ZEPHOR did not erase its memory: its surveys are kept and nothing more is done.";
inline constexpr const char* kEraseNotProvenText =
    "The ZEPHOR did not tell whether its memory is erased: its surveys are kept and nothing more "
    "is done.";

enum class EraseOutcome {
  kErased,        // the memory reads empty now
  kNoInstrument,  // the instrument did not unlock: the command never went out
  kNotTaken,      // the memory still holds data: it is kept in a dated backup
  kNotProven,     // the memory could not be read after the command (no answer, or a stop)
};

// Sends the erase (announce frames it as a section of its own), then downloads the memory: only
// an instrument that announces an empty memory has erased it. backup names the proven copy of
// what the memory held, so that a memory that did not erase is recognised, not copied again.
EraseOutcome EraseAndProve(device::Station& station, int portIndex,
                           const std::filesystem::path& directory, std::int32_t equipmentNumber,
                           bool announce, const FileFacts* backup);

// How "zephor erase" ended.
enum class EraseRunOutcome {
  kErased,
  kCancelled,     // the question answered Cancel, or no backup could be saved
  kNoInstrument,  // nothing answered
  kNotTaken,      // the instrument did not erase (or did not tell): the surveys are kept
  kFolderBusy,    // another run holds the folder
};

// The whole erase of the command line: the question, the folder taken, the instrument identified
// (the backup is named by its number), a proven backup, the erase and its proof.
EraseRunOutcome EraseWithBackup(device::Station& station, const std::filesystem::path& directory);

}  // namespace zephor::update

// Finishing a database restore that an earlier run left open, on the instrument it belongs to.
#pragma once

#include <filesystem>

#include "device/device_info.h"
#include "device/operator_panel.h"

namespace zephor::update {

inline constexpr const char* kResumeRestoreFormat =
    "The database restore of this ZEPHOR did not finish (%s). Finish it now?";

enum class ResumeOutcome {
  kNone,        // no open restore for this instrument
  kFinished,    // finished now; its journal is gone
  kDeclined,    // the operator answered Cancel: the journal stays for later
  kIncomplete,  // tried, and it did not complete: the journal stays
};

inline constexpr const char* kOpenRestoreLeftFormat =
    "The database restore of ZEPHOR %s is still open: its update stopped %s. Nothing was loaded. "
    "Press Make Update again and answer OK to finish it, or end it with: zephor restore PORT "
    "--close";
inline constexpr const char* kRestoreClosedFormat =
    "\tThe open restore of ZEPHOR %s is ended on your word: nothing was sent to the instrument. "
    "Its record is kept as %s; the surveys it saved stay in %s.\r\n";
inline constexpr const char* kNoOpenRestoreLine =
    "\tNo unfinished database restore of this ZEPHOR here.\r\n";

// Looks in directory for the journal of the identified instrument. One whose main program was
// loaded but whose restore did not complete is offered; OK finishes it from its stage on the
// running instrument (no wait for READY), with the grade and identification of that run.
ResumeOutcome FinishOpenRestore(device::Station& station, const device::DeviceInfo& identified,
                                const std::filesystem::path& directory);

// Tells that the open restore of the identified instrument was left for later (the question
// answered Cancel): the run stops there, before anything is loaded. Nothing is told after a stop.
void TellOpenRestoreLeft(device::Station& station, const std::filesystem::path& directory,
                         const device::DeviceInfo& identified);

// Ends the open restore of the identified instrument on the technician's word: its journal is
// renamed to a closed name (synced), its backups stay. False when it has none, or the rename
// failed (said in the log).
bool CloseOpenRestore(device::Station& station, const std::filesystem::path& directory,
                      const device::DeviceInfo& identified);

}  // namespace zephor::update

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

// Looks in directory for the journal of the identified instrument. One whose main program was
// loaded but whose restore did not complete is offered; OK finishes it from its stage on the
// running instrument (no wait for READY), with the grade and identification of that run.
ResumeOutcome FinishOpenRestore(device::Station& station, const device::DeviceInfo& identified,
                                const std::filesystem::path& directory);

}  // namespace zephor::update

// The update planner behind Make Update: identify, compare versions, warn, load, restore, restart.
#pragma once

#include <cstdint>
#include <filesystem>

#include "device/device_info.h"
#include "device/operator_panel.h"
#include "update/image_versions.h"

namespace zephor::update {

// A main program up to this version keeps the measurements in a layout that the special main
// converts; up to the second one the 1.40 main needs the database restore.
inline constexpr float kSpecialMainLimit = 1.28f;
inline constexpr float kOldLayoutLimit = 1.31f;
// The single-precision 1.4 that a stamp reading 1.40 or 1.4 gives.
inline constexpr std::uint32_t kNewLayoutMainBits = 0x3FB33333;
// A version this high is no real version: the program is reloaded whatever the image holds.
inline constexpr double kBogusVersion = 25.0;

inline constexpr const char* kUpToDateText = "Your ZEPHOR is up to date";
inline constexpr const char* kUpdateStoppedText = "Update stopped !!";
inline constexpr const char* kRestartText = "Restart the ZEPHOR !!";
inline constexpr const char* kQhWarningText =
    "Warning: You are about to update a ZEPHOR \"QH\", make sure the data logger memory has "
    "being erased before proceeding. Are you sure to continue?";
inline constexpr const char* kQWarningText =
    "Warning: You are about to update a ZEPHOR \"Q\", from V1.31 to V1.40 all measuraments will "
    "be lost.\n Are you sure to continue?";
inline constexpr int kCancelledExitCode = 1;
inline constexpr const char* kResumeQuestionFormat =
    "The update of ZEPHOR %09ld stopped after %s. Finish it on this instrument?";
inline constexpr const char* kNoRecordUsedLine =
    "\tNo record of a stopped update was used: main1p29.bin and the database restore are left "
    "out.\r\n";
inline constexpr const char* kJournalUnwritableFormat =
    "Can't write %s: the update is not started.";
inline constexpr const char* kStoppedDuringLoadFormat =
    "\tStopped during the load of %s: Make Update will finish it.\r\n";
inline constexpr const char* kStoppedDuringRestoreFormat =
    "\tStopped during the database restore: %s is kept.\r\n";
inline constexpr const char* kNothingLoadedFormat =
    "\tOnly %s %s newer, and no update sequence loads %s alone: nothing is loaded.\r\n";
inline constexpr const char* kOtherInstrumentFormat =
    "The connected ZEPHOR is %s, not ZEPHOR %s whose record %s was used for the loads: its "
    "database restore is not run here, and the record is kept as it was.";

inline constexpr const char* kOwnMainLine =
    "\tThe ZEPHOR starts its own main program: it is asked what it holds before anything more is "
    "loaded.\r\n";
inline constexpr const char* kOwnMainSilentText =
    "The ZEPHOR took its programs, but its main program did not answer within 15 s: nothing more "
    "is loaded. Switch it off and on, then press Make Update.";
inline constexpr const char* kLoaderAsksAgainFormat =
    "The ZEPHOR asks for its %s program again after it was loaded: nothing more is loaded.";
// How long a main program may take to start after its loader took the boot or update program.
inline constexpr int kOwnMainWaitMs = 15000;

// How a Make Update run ended, for a caller that reports it (the command line's exit code).
enum class UpdateOutcome {
  kDone,               // loaded, up to date or nothing to load; the restart message was shown
  kNoInstrument,       // no instrument answered
  kCancelled,          // a warning's Cancel, or a missing image, ended the run or the program
  kStopped,            // a load failed, an image was refused, or the operator stopped the run
  kRestoreIncomplete,  // the surveys are safe, the instrument needs a decision or another run:
                       // the database restore did not complete (or was declined), an erase did
                       // not take, a write-back was refused, or a journal in the folder cannot be
                       // used (nothing was loaded or erased)
  kFolderBusy,         // another run holds the working folder, or it cannot be locked
};

// Which of the three programs to reload.
struct UpdatePlan {
  bool loadBoot = false;
  bool loadUpdate = false;
  bool loadMain = false;
};

// The version comparisons: newer image, a bogus instrument version, or the same main with a
// newer build.
UpdatePlan DecideLoads(const device::DeviceInfo& info, const ImageVersions& images);

// True when the image main is exactly the single-precision 1.4.
bool IsNewLayoutMain(float imageMainVersion);

// Run by the Make Update button. Image files are looked up in directory (the working directory
// when empty); the run journal and the database restore's files go there too. Returns when the
// run ends, also when it ended the program through the panel.
UpdateOutcome OnMakeUpdate(device::Station& station, const std::filesystem::path& directory = {});
// The same with the images read from imagesDirectory: several instruments share one set of
// images, each with a working folder of its own. identified: the instrument as this run
// identified it just before it knew its folder (its status in station.statusText), so that it is
// not asked twice; null: it is identified here.
UpdateOutcome OnMakeUpdate(device::Station& station, const std::filesystem::path& directory,
                           const std::filesystem::path& imagesDirectory,
                           const device::DeviceInfo* identified = nullptr);

}  // namespace zephor::update

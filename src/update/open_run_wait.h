// An instrument whose update stopped half-way may need a while to answer again (a loader
// restarting, a transfer timing out on its side). When the folder holds the record of such a run,
// the identification is tried again for a while before the run gives up, and then the operator is
// told what is open and what to do.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "device/device_info.h"
#include "device/operator_panel.h"
#include "update/run_journal.h"

namespace zephor::update {

inline constexpr int kOpenRunWaitMs = 90000;
inline constexpr const char* kOpenRunWaitSubject = "the ZEPHOR of the stopped update to answer";
inline constexpr const char* kNoAnswerFormat =
    "The update of ZEPHOR %s stopped %s. The instrument does not answer: switch it off and on, "
    "then press Make Update.";

// Passes the progress on (a countdown); a failed try's log lines, the emptying of the log and its
// boxes are held back: an identification tried again and again in the middle of a run.
class QuietTries final : public device::PanelRelay {
 public:
  explicit QuietTries(device::OperatorPanel& inner) : PanelRelay(inner) {}
  void AppendLog(std::string_view) override {}
  void ClearLog() override {}
  bool ShowMessage(std::string_view, device::MessageButtons) override { return false; }
};

// What the journal's run left the instrument in: "while writing the converted database back: its
// memory is erased and the surveys are in ZEPHORdata-....bin".
std::string StoppedRunWords(const RunJournal& journal);

// The identification of Make Update and the restore: as device::Identify, and when nothing answers
// while directory holds a journal, again and again for up to kOpenRunWaitMs (stoppable, counted
// down); then the operator is told which run is open and what to do. True as Identify is.
bool IdentifyForOpenRun(device::Station& station, const std::filesystem::path& directory,
                        device::DeviceInfo& info);

}  // namespace zephor::update

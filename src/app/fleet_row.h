// One instrument of a fleet: its live columns followed from its run's events, and what its
// report tells at the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/event_stream.h"
#include "app/progress_line.h"
#include "app/progress_tracker.h"

namespace zephor::app {

// The live table's columns, in order.
inline constexpr const char* kFleetColumns[] = {"PORT", "ZEPHOR", "STEP",  "DONE",
                                                "RATE", "LEFT",   "RESULT"};
inline constexpr std::size_t kFleetColumnCount = std::size(kFleetColumns);

class FleetRow {
 public:
  // equipment is the number as names write it, empty when the instrument cannot say it.
  FleetRow(std::string port, std::string equipment, std::filesystem::path folder);
  FleetRow(const FleetRow&) = delete;
  FleetRow& operator=(const FleetRow&) = delete;

  // "ZEPHOR 123456789 on COM5", or "ZEPHOR on COM5" for one that cannot say its number.
  std::string Name() const;

  // An event of the run at nowMs on the watcher's clock.
  void Apply(const RunEvent& event, std::uint32_t nowMs);
  // The summary lines of the transfers that ended since the last call.
  std::string TakeSummaries();
  // What the row is at between the run's events (the identification after it).
  void SetStep(std::string step) {
    step_ = std::move(step);
    tracker_.Reset();
  }
  // The run ended with its exit code.
  void Finish(int exitCode);
  bool finished() const { return finished_; }

  // The live columns at nowMs.
  std::vector<std::string> Cells(std::uint32_t nowMs) const;

  // What the report tells.
  std::string port;
  std::string equipment;
  std::filesystem::path folder;
  std::string before;  // the identification before the run, as zephor info --json printed it
  std::string after;   // and after it; empty when it was not made
  std::vector<std::string> imagesLoaded;
  std::vector<std::string> filesWritten;
  int exitCode = -1;
  std::uint32_t durationMs = 0;
  // The run's last log line, message or word on standard error, or why it was not run.
  std::string note;

 private:
  bool finished_ = false;
  std::string step_ = "starting";
  ProgressTracker tracker_;         // transfers on the run's clock, waits on the watcher's
  std::uint32_t lastStepTick_ = 0;  // the run's clock at its last transfer event
  std::ostringstream summaries_;
  ProgressLine summaryLine_{summaries_, false, [] { return std::uint32_t{0}; }};
};

// The exit code's meaning in a word or two, for the table and the report.
std::string FleetResultText(int exitCode);

}  // namespace zephor::app

// The end of a fleet: its exit code, the worst of its instruments', and its report as JSON.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/fleet_row.h"

namespace zephor::app {

// The worst of the codes: from the least to the most in need of the technician's hands, done,
// cancelled, bad usage, a folder refused or held (or its port), no instrument, an update stopped
// (a loader may wait for its programs), an instrument that needs a decision or another run (the
// surveys are safe in a backup, but a restore, an erase or a write-back is not done), and
// above all a run ended by a signal (stopped anywhere). 0 when there are none.
int WorstExitCode(const std::vector<int>& codes);

struct FleetTotals {
  std::filesystem::path images;
  std::filesystem::path out;
  int exitCode = 0;
  std::uint32_t durationMs = 0;
};

// Per instrument its port, folder, identification before and after, the images loaded, the
// files written, the exit code with its meaning, the duration and the last word; with the
// fleet's folders, exit code and duration.
std::string FleetReportJson(const std::deque<FleetRow>& rows, const FleetTotals& totals);

}  // namespace zephor::app

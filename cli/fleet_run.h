// One fleet run: every port identified at once, then one zephor update per instrument, each
// in its own folder and watched through its event lines, questions asked one at a time, a
// signal passed on to every run; at the end the summary, the report and the worst exit code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/event_stream.h"
#include "app/fleet_plan.h"
#include "app/fleet_row.h"
#include "app/fleet_screen.h"
#include "cli/child_process.h"

namespace zephor::cli {

inline constexpr int kDefaultReadyMinutes = 10;

struct FleetOptions {
  std::vector<std::string> ports;
  bool all = false;
  std::string images;
  std::string out;
  bool yes = false;
  bool no = false;
  bool eraseWithoutBackup = false;
  int readyMinutes = kDefaultReadyMinutes;
  std::string report;
  std::string trace;
};

// The files of a folder with their sizes and times, to tell afterwards what a run wrote.
using FolderState =
    std::map<std::string, std::pair<std::uintmax_t, std::filesystem::file_time_type>>;

class FleetRun {
 public:
  // program is this program, started again for each port and instrument.
  FleetRun(const FleetOptions& options, std::string program);
  ~FleetRun();
  FleetRun(const FleetRun&) = delete;
  FleetRun& operator=(const FleetRun&) = delete;

  // Runs the fleet on the ports; returns its exit code.
  int Run(const std::vector<std::string>& ports);

 private:
  // One instrument's programs: its update, then its identification after it.
  struct Instrument {
    std::size_t row = 0;
    std::string port;
    ChildProcess update;
    ChildProcess identify;
    std::string identified;  // what the identification printed
    bool updateEnded = false;
    int code = -1;
    std::uint32_t startedAt = 0;
    FolderState before;
    std::FILE* log = nullptr;
  };

  bool Identify(const std::vector<std::string>& ports, std::vector<app::FleetMember>& members);
  void Start(const app::FleetEntry& entry);
  std::vector<std::string> UpdateArguments(const app::FleetEntry& entry) const;
  void Pass();
  void Follow(Instrument& instrument);
  void Take(Instrument& instrument, const app::RunEvent& event);
  void Ended(Instrument& instrument);
  void Ask();
  void Answer(bool ok);
  void Stop(int signal);
  bool AllEnded() const;
  int Finish();

  const FleetOptions& options_;
  std::string program_;
  bool live_;
  std::deque<app::FleetRow> rows_;
  app::FleetScreen screen_;
  std::deque<Instrument> instruments_;
  // Questions nobody preset wait their turn: one at a time on the terminal.
  struct Question {
    Instrument* instrument;
    std::string text;
  };
  std::deque<Question> questions_;
  Instrument* asking_ = nullptr;
  LineReader input_;
  std::deque<std::string> typed_;
  // The terminal echoes what is typed; other input is shown with the answer it gave.
  bool inputEchoed_;
  int stoppedBy_ = 0;
  std::uint32_t startedAt_;
};

}  // namespace zephor::cli

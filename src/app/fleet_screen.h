// A fleet on the terminal: a live table, one row per instrument, redrawn in place, with what the
// technician must read above it; where the output is no terminal, one line per event, each
// named by its instrument. At the end a summary table either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "app/event_stream.h"
#include "app/fleet_row.h"

namespace zephor::app {

class FleetScreen {
 public:
  // width: the terminal's columns; a longer line would wrap and break the redraw.
  FleetScreen(std::ostream& out, bool live, std::size_t width, const std::deque<FleetRow>& rows)
      : out_(out), live_(live), width_(width), rows_(rows) {}

  // An event of row's run, after the row has applied it. Returns its lines, for the
  // instrument's log: the log lines, messages with their answers, words on standard error and
  // the summaries of the transfers; a terminal shows only the messages and words.
  std::vector<std::string> Show(FleetRow& row, const RunEvent& event);
  // A line about the fleet or one instrument: above the table on a terminal.
  void Say(const std::string& line);
  // Asks a question below the table; the table and the lines said meanwhile wait until it is
  // answered (the typed answer ended its line) or dropped (its line is ended here, after
  // what is said of it).
  void Ask(const std::string& question);
  void Answered();
  void Dropped(const std::string& said = {});
  // Redraws the table when due (at most every kRedrawEveryMs unless forced).
  void Draw(std::uint32_t nowMs, bool force);

 private:
  void Wipe();

  std::ostream& out_;
  bool live_;
  std::size_t width_;
  const std::deque<FleetRow>& rows_;
  std::size_t drawnLines_ = 0;
  std::string drawn_;
  std::uint32_t drawnAt_ = 0;
  bool asking_ = false;
  std::vector<std::string> held_;
};

// The rows as a table: a header and one line per row with its columns padded to line up.
std::string FleetTable(const std::deque<FleetRow>& rows, std::uint32_t nowMs,
                       std::size_t width = 0);

// The summary at the end: port, number, result, exit code, duration, folder and the last word.
std::string FleetSummary(const std::deque<FleetRow>& rows);

}  // namespace zephor::app

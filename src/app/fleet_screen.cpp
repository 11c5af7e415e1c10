// The table is redrawn from its first line: the cursor goes up over what was drawn and each line
// is wiped and written again.
#include "app/fleet_screen.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "app/exit_codes.h"

namespace zephor::app {
namespace {

constexpr char kWipeLine[] = "\r\033[K";
constexpr char kWipeBelow[] = "\r\033[J";
constexpr char kGap[] = "  ";
constexpr std::uint32_t kMsPerTenth = 100;

std::string CursorUp(std::size_t lines) { return "\033[" + std::to_string(lines) + "A"; }

// Lines of cells with each column as wide as its widest cell.
std::string Columns(const std::vector<std::vector<std::string>>& lines, std::size_t width) {
  std::vector<std::size_t> widths;
  for (const auto& cells : lines) {
    widths.resize(std::max(widths.size(), cells.size()));
    for (std::size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], cells[i].size());
  }
  std::string text;
  for (const auto& cells : lines) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      line += cells[i];
      if (i + 1 < cells.size()) line += std::string(widths[i] - cells[i].size(), ' ') + kGap;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    if (width > 1 && line.size() >= width) line.resize(width - 1);
    text += line + "\n";
  }
  return text;
}

std::string Seconds(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u s", ms / (kMsPerTenth * 10), (ms / kMsPerTenth) % 10);
  return text;
}

}  // namespace

void FleetScreen::Wipe() {
  if (drawnLines_ > 0) out_ << CursorUp(drawnLines_) << kWipeBelow;
  drawnLines_ = 0;
}

std::vector<std::string> FleetScreen::Show(FleetRow& row, const RunEvent& event) {
  std::string text;
  // The log and the transfers are the table's on a terminal; the instrument's log keeps them.
  bool shown = !live_;
  switch (event.kind) {
    case RunEvent::Kind::kLog:
      text = event.text;
      break;
    case RunEvent::Kind::kMessage:
      text = event.text;
      if (event.question && event.answer != ConsoleAnswer::kAsk) {
        text += event.answer == ConsoleAnswer::kOk ? " [OK]" : " [Cancel]";
      }
      shown = !event.question || event.answer != ConsoleAnswer::kAsk;  // else it is asked
      break;
    case RunEvent::Kind::kText:
      text = event.text;
      shown = true;
      break;
    case RunEvent::Kind::kProgress:
      text = row.TakeSummaries();
      break;
  }
  // One line per line of text, without the log's tabs and line ends; frames of dashes and
  // empty lines tell nothing here.
  std::vector<std::string> said;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find_first_not_of("\t ");
    const std::size_t last = line.find_last_not_of("\r ");
    if (first == std::string::npos || last < first) continue;
    line = line.substr(first, last - first + 1);
    if (line.find_first_not_of('-') == std::string::npos) continue;
    if (shown) Say(row.Name() + ": " + line);
    said.push_back(std::move(line));
  }
  return said;
}

void FleetScreen::Say(const std::string& line) {
  if (asking_) {
    held_.push_back(line);  // not in the middle of the answer being typed
    return;
  }
  Wipe();
  out_ << line << "\n";
  out_.flush();
}

void FleetScreen::Ask(const std::string& question) {
  Wipe();
  asking_ = true;
  out_ << question << "\nOK or Cancel? [o/c] ";
  out_.flush();
}

void FleetScreen::Answered() {
  asking_ = false;
  for (const std::string& line : held_) out_ << line << "\n";
  held_.clear();
  out_.flush();
}

void FleetScreen::Dropped(const std::string& said) {
  if (!asking_) return;
  out_ << said << "\n";
  Answered();
}

void FleetScreen::Draw(std::uint32_t nowMs, bool force) {
  if (!live_ || asking_) return;
  if (!force && drawnLines_ > 0 && nowMs - drawnAt_ < kRedrawEveryMs) return;
  const std::string table = FleetTable(rows_, nowMs, width_);
  if (drawnLines_ > 0 && table == drawn_) return;  // nothing new on the screen
  drawn_ = table;
  if (drawnLines_ > 0) out_ << CursorUp(drawnLines_);
  std::istringstream lines(table);
  drawnLines_ = 0;
  for (std::string line; std::getline(lines, line); ++drawnLines_) {
    out_ << kWipeLine << line << "\n";
  }
  out_.flush();
  drawnAt_ = nowMs;
}

std::string FleetTable(const std::deque<FleetRow>& rows, std::uint32_t nowMs, std::size_t width) {
  std::vector<std::vector<std::string>> lines;
  lines.emplace_back(std::begin(kFleetColumns), std::end(kFleetColumns));
  for (const FleetRow& row : rows) lines.push_back(row.Cells(nowMs));
  return Columns(lines, width);
}

std::string FleetSummary(const std::deque<FleetRow>& rows) {
  std::vector<std::vector<std::string>> lines{
      {"PORT", "ZEPHOR", "RESULT", "EXIT", "TIME", "FOLDER", "LAST WORD"}};
  for (const FleetRow& row : rows) {
    lines.push_back({row.port, row.equipment.empty() ? "?" : row.equipment,
                     FleetResultText(row.exitCode), std::to_string(row.exitCode),
                     Seconds(row.durationMs), row.folder.string(),
                     row.exitCode == kExitDone ? std::string() : row.note});
  }
  return Columns(lines, 0);
}

}  // namespace zephor::app

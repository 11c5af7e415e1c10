// The loop of a fleet: each pass waits at most kPassMs for a line from any run, a typed answer
// or a signal, then follows every instrument, asks the next question and redraws the table.
#include "cli/fleet_run.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <span>
#include <string>
#include <system_error>

#include "app/exit_codes.h"
#include "app/fleet_report.h"
#include "app/preset_answers.h"
#include "app/signal_stop.h"
#include "cli/terminal_system.h"
#include "files/folder_file.h"
#include "update/folder_names.h"

namespace zephor::cli {
namespace {

namespace fs = std::filesystem;

// How long the loop waits for a child's line before it redraws and looks for a signal.
constexpr int kPassMs = 100;
// The instrument's activity log, written by the fleet in its folder.
constexpr char kFleetLogName[] = "ZEPHOR.log";
constexpr char kLockName[] = "ZEPHOR.lock";

std::uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

FolderState StateOf(const fs::path& folder) {
  FolderState state;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (!it->is_regular_file(ignored)) continue;
    state[it->path().filename().string()] = {it->file_size(ignored), it->last_write_time(ignored)};
  }
  return state;
}

std::vector<std::string> FilesWritten(const FolderState& before, const fs::path& folder) {
  std::vector<std::string> written;
  for (const auto& [name, facts] : StateOf(folder)) {
    if (name == kLockName || name == kFleetLogName) continue;
    const auto was = before.find(name);
    if (was == before.end() || was->second != facts) written.push_back(name);
  }
  return written;
}

}  // namespace

FleetRun::FleetRun(const FleetOptions& options, std::string program)
    : options_(options),
      program_(std::move(program)),
      live_(StandardErrorIsTerminal()),
      screen_(std::cerr, live_, live_ ? TerminalColumns() : 0, rows_),
      input_(STDIN_FILENO),
      inputEchoed_(isatty(STDIN_FILENO) != 0),
      startedAt_(NowMs()) {}

FleetRun::~FleetRun() {
  for (Instrument& instrument : instruments_) {
    if (instrument.log != nullptr) std::fclose(instrument.log);
  }
}

// zephor info --json on every port at once; false when a signal came meanwhile.
bool FleetRun::Identify(const std::vector<std::string>& ports,
                        std::vector<app::FleetMember>& members) {
  std::deque<ChildProcess> children;
  for (const std::string& port : ports) {
    members.push_back({port, {}, {}});
    std::string why;
    if (!children.emplace_back().Start(program_, {"info", port, "--json"}, why)) {
      members.back().said = "cannot start " + program_ + ": " + why;
    }
  }
  std::vector<bool> ended(ports.size(), false);
  bool signalled = false;
  for (;;) {
    std::vector<int> fds;
    bool running = false;
    for (std::size_t i = 0; i < children.size(); ++i) {
      std::vector<std::string> out, err;
      children[i].Read(out, err);
      for (const std::string& line : out) members[i].identity += line + "\n";
      // Why no instrument answered: the open's failure when there was one, else the last word
      // that was no log line.
      for (const std::string& line : err) {
        if (line.empty() || line[0] == '\t') continue;
        if (line.find("(status ") != std::string::npos ||
            members[i].said.find("(status ") == std::string::npos) {
          members[i].said = line;
        }
      }
      int code = 0;
      if (!ended[i] && children[i].started() && !children[i].Ended(code)) {
        running = true;
        fds.push_back(children[i].outFd());
        fds.push_back(children[i].errFd());
      } else {
        ended[i] = true;
      }
    }
    if (app::SignalStop::Caught() != 0 && !signalled) {
      for (ChildProcess& child : children) child.Signal(app::SignalStop::Caught());
      signalled = true;
    }
    if (!running) break;
    WaitForInput(fds, kPassMs);
  }
  return app::SignalStop::Caught() == 0;
}

std::vector<std::string> FleetRun::UpdateArguments(const app::FleetEntry& entry) const {
  std::vector<std::string> args{"update",     entry.member.port, "--events",     "--folder",
                                entry.folder, "--images",        options_.images};
  if (options_.yes) args.emplace_back("--yes");
  if (options_.no) args.emplace_back("--no");
  if (options_.eraseWithoutBackup) args.emplace_back("--erase-without-backup");
  args.insert(args.end(), {"--ready-minutes", std::to_string(options_.readyMinutes)});
  if (!options_.trace.empty()) {
    args.insert(args.end(), {"--trace", (entry.folder / options_.trace).string()});
  }
  return args;
}

void FleetRun::Start(const app::FleetEntry& entry) {
  const std::string equipment =
      entry.identity.equipmentNumber ? update::EquipmentText(*entry.identity.equipmentNumber) : "";
  app::FleetRow& row = rows_.emplace_back(entry.member.port, equipment, entry.folder);
  row.before = entry.member.identity;
  if (entry.action == app::FleetAction::kRefuse) {
    row.note = entry.why;
    row.Finish(entry.exitCode);
    screen_.Say(row.Name() + ": not updated: " + entry.why);
    return;
  }
  Instrument& instrument = instruments_.emplace_back();
  instrument.row = rows_.size() - 1;
  instrument.port = entry.member.port;
  instrument.before = StateOf(entry.folder);
  instrument.startedAt = NowMs();
  std::string why;
  instrument.log = files::OpenNewFile(entry.folder / kFleetLogName, why);
  screen_.Say(row.Name() + ": updating in " + entry.folder.string());
  if (!instrument.update.Start(program_, UpdateArguments(entry), why)) {
    row.note = "cannot start " + program_ + ": " + why;
    row.Finish(app::kExitUpdateStopped);
    instrument.updateEnded = true;
    instrument.code = app::kExitUpdateStopped;
  }
}

void FleetRun::Take(Instrument& instrument, const app::RunEvent& event) {
  app::FleetRow& row = rows_[instrument.row];
  row.Apply(event, NowMs());
  for (const std::string& line : screen_.Show(row, event)) {
    if (instrument.log != nullptr) std::fprintf(instrument.log, "%s\n", line.c_str());
  }
  if (instrument.log != nullptr) std::fflush(instrument.log);
  if (event.kind == app::RunEvent::Kind::kMessage && event.question &&
      event.answer == app::ConsoleAnswer::kAsk) {
    questions_.push_back({&instrument, event.text});
  }
}

// The update's lines, then its end; then the identification after it.
void FleetRun::Follow(Instrument& instrument) {
  app::FleetRow& row = rows_[instrument.row];
  if (row.finished()) return;
  std::vector<std::string> out, err;
  int code = 0;
  if (!instrument.updateEnded) {
    instrument.update.Read(out, err);
    for (const std::string& line : out) Take(instrument, app::DecodeRunEvent(line));
    for (const std::string& line : err) {
      app::RunEvent said;
      said.text = line;
      Take(instrument, said);
    }
    if (instrument.update.Ended(code)) {
      instrument.updateEnded = true;
      instrument.code = code;
      Ended(instrument);
    }
    return;
  }
  instrument.identify.Read(out, err);
  for (const std::string& line : out) instrument.identified += line + "\n";
  if (instrument.identify.started() && !instrument.identify.Ended(code)) return;
  row.after = instrument.identified;
  // An instrument that could not say its number before its run may say it now.
  const app::FleetIdentity after = app::ReadIdentity(row.after);
  if (row.equipment.empty() && after.equipmentNumber) {
    row.equipment = update::EquipmentText(*after.equipmentNumber);
  }
  row.Finish(instrument.code);
  screen_.Say(row.Name() + ": " + app::FleetResultText(row.exitCode) + " (exit code " +
              std::to_string(row.exitCode) + ")");
  if (instrument.log != nullptr) std::fclose(instrument.log);
  instrument.log = nullptr;
}

// The run ended: its question, if one was waiting, is no more; the instrument is identified
// again unless the fleet is stopping.
void FleetRun::Ended(Instrument& instrument) {
  app::FleetRow& row = rows_[instrument.row];
  row.durationMs = NowMs() - instrument.startedAt;
  row.filesWritten = FilesWritten(instrument.before, row.folder);
  std::erase_if(questions_,
                [&instrument](const Question& q) { return q.instrument == &instrument; });
  if (asking_ == &instrument) {
    asking_ = nullptr;
    screen_.Dropped();
    screen_.Say(rows_[instrument.row].Name() + ": the question is no longer asked: its run ended");
  }
  std::string why;
  if (stoppedBy_ == 0) {
    row.SetStep("identifying it again");
    instrument.identify.Start(program_, {"info", instrument.port, "--json"}, why);
  }
}

void FleetRun::Ask() {
  if (asking_ != nullptr || questions_.empty() || stoppedBy_ != 0) return;
  const Question next = questions_.front();
  questions_.pop_front();
  asking_ = next.instrument;
  screen_.Ask(rows_[next.instrument->row].Name() + ": " + next.text);
}

void FleetRun::Answer(bool ok) {
  Instrument& instrument = *asking_;
  asking_ = nullptr;
  instrument.update.WriteLine(ok ? app::kOkReply : app::kCancelReply);
  if (inputEchoed_) {
    screen_.Answered();
  } else {
    screen_.Dropped(ok ? "[OK]" : "[Cancel]");
  }
  if (instrument.log != nullptr) {
    std::fprintf(instrument.log, "%s\n", ok ? "[OK]" : "[Cancel]");
    std::fflush(instrument.log);
  }
}

// Every instrument gets the signal and stops through its clean-up; nothing more is asked.
void FleetRun::Stop(int signal) {
  stoppedBy_ = signal;
  screen_.Say("Stopping every instrument (signal " + std::to_string(signal) + ")");
  for (Instrument& instrument : instruments_) {
    instrument.update.Signal(signal);
    instrument.identify.Signal(signal);
    instrument.update.CloseInput();
  }
  questions_.clear();
  if (asking_ != nullptr) {
    asking_ = nullptr;
    screen_.Dropped();
  }
}

void FleetRun::Pass() {
  std::vector<int> fds;
  for (const Instrument& instrument : instruments_) {
    const ChildProcess& child = instrument.updateEnded ? instrument.identify : instrument.update;
    fds.push_back(child.outFd());
    fds.push_back(child.errFd());
  }
  if (asking_ != nullptr && !input_.atEnd()) fds.push_back(STDIN_FILENO);
  WaitForInput(fds, kPassMs);
  if (app::SignalStop::Caught() != 0 && stoppedBy_ == 0) Stop(app::SignalStop::Caught());
  for (Instrument& instrument : instruments_) Follow(instrument);
  if (asking_ != nullptr) {
    std::vector<std::string> lines;
    input_.Read(lines);
    typed_.insert(typed_.end(), lines.begin(), lines.end());
    if (!typed_.empty()) {
      const bool ok = app::IsOkReply(typed_.front());
      typed_.pop_front();
      Answer(ok);
    } else if (input_.atEnd()) {
      Answer(false);  // nobody is there to answer: Cancel
    }
  }
  Ask();
  screen_.Draw(NowMs(), false);
}

bool FleetRun::AllEnded() const {
  for (const app::FleetRow& row : rows_) {
    if (!row.finished()) return false;
  }
  return true;
}

int FleetRun::Finish() {
  screen_.Draw(NowMs(), true);
  std::cout << app::FleetSummary(rows_);
  std::cout.flush();
  std::vector<int> codes;
  for (const app::FleetRow& row : rows_) codes.push_back(row.exitCode);
  int code = stoppedBy_ != 0 ? app::kExitSignalBase + stoppedBy_ : app::WorstExitCode(codes);
  if (!options_.report.empty()) {
    const app::FleetTotals totals{options_.images, options_.out, code, NowMs() - startedAt_};
    const std::string text = app::FleetReportJson(rows_, totals);
    // Through a fresh temporary: a link at the report's name is replaced, never written through,
    // and a reader finds the old report or the whole new one.
    std::string why;
    if (!files::ReplaceContents(
            options_.report,
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), why)) {
      std::cerr << "cannot write the report " << options_.report << ": " << why << "\n";
      // The report was asked for: a fleet that finished without it has not done all it was told.
      if (code == app::kExitDone) code = app::kExitBadUsage;
    }
  }
  if (stoppedBy_ != 0) std::cerr << "stopped by signal " << stoppedBy_ << "\n";
  return code;
}

int FleetRun::Run(const std::vector<std::string>& ports) {
  std::string names;
  for (const std::string& port : ports) names += (names.empty() ? "" : ", ") + port;
  screen_.Say("Identifying the instruments on " + names);
  std::vector<app::FleetMember> members;
  if (!Identify(ports, members)) {
    std::cerr << "stopped by signal " << app::SignalStop::Caught() << "\n";
    return app::SignalStop::ExitCode();
  }
  for (const app::FleetEntry& entry : app::PlanFleet(members, options_.out, options_.all)) {
    if (entry.action == app::FleetAction::kSkip) {
      screen_.Say(entry.member.port + ": skipped: " + entry.why);
      continue;
    }
    Start(entry);
  }
  if (rows_.empty()) {
    std::cerr << "no ZEPHOR answers on any port\n";
    return app::kExitNoInstrument;
  }
  while (!AllEnded()) Pass();
  return Finish();
}

}  // namespace zephor::cli

// fleet: Make Update on every instrument on the PC's ports at once, one zephor update per
// instrument, each in its own folder, watched through its event lines.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/event_stream.h"
#include "app/exit_codes.h"
#include "app/fleet_plan.h"
#include "app/fleet_report.h"
#include "app/fleet_row.h"
#include "app/fleet_screen.h"
#include "app/port_choice.h"
#include "app/preset_answers.h"
#include "app/signal_stop.h"
#include "cli/child_process.h"
#include "cli/commands.h"
#include "cli/terminal_run.h"
#include "cli/terminal_system.h"
#include "files/folder_file.h"
#include "serial/port_discovery.h"
#include "update/folder_names.h"

namespace zephor::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultReadyMinutes = 10;
// How long the loop waits for a child's line before it redraws and looks for a signal.
constexpr int kPassMs = 100;
// The instrument's activity log, written by the fleet in its folder.
constexpr char kFleetLogName[] = "ZEPHOR.log";
constexpr char kLockName[] = "ZEPHOR.lock";
constexpr char kExitCodeHelp[] =
    "Exit codes: the worst of the instruments' (those of zephor update), ranked from the least "
    "to the most in need of attention: 0 done, 1 cancelled, 2 bad usage, 6 folder refused or "
    "held, 3 no instrument, 4 update stopped, 5 restore not completed; a run ended by a signal "
    "above all. 2 for bad usage of fleet itself, 3 when --all finds no ZEPHOR, 130/143/129 when "
    "the fleet is stopped by a signal (every instrument is stopped through its clean-up).";

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

std::uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// What a port opens, so that two names of one device are one port.
std::string DeviceOf(const std::string& name, const std::vector<serial::FoundPort>& found) {
  int index = 0;
  std::string device = name;
  if (app::PortIndexFromName(name, index)) device = serial::PortDeviceName(index);
  for (const serial::FoundPort& port : found) {
    const std::string byIdName = port.byId.substr(port.byId.find_last_of('/') + 1);
    if (name == port.byId || (!byIdName.empty() && name == byIdName)) device = port.device;
  }
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(device, error);
  return error ? device : canonical.string();
}

// The ports named, then with --all every port found, each device once.
std::vector<std::string> FleetPorts(const FleetOptions& options) {
  const std::vector<serial::FoundPort> found = serial::FindPorts();
  std::vector<std::string> ports;
  std::set<std::string> devices;
  for (const std::string& name : options.ports) {
    if (devices.insert(DeviceOf(name, found)).second) ports.push_back(name);
  }
  if (!options.all) return ports;
  for (const serial::FoundPort& port : found) {
    const int index = app::PortIndexOfDevice(port.device);
    const std::string name = index < 0 ? port.device : "COM" + std::to_string(index + 1);
    if (devices.insert(DeviceOf(name, found)).second) ports.push_back(name);
  }
  return ports;
}

// The files of a folder with their sizes and times, to tell afterwards what a run wrote.
using FolderState = std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>>;

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

class Fleet {
 public:
  Fleet(const FleetOptions& options, std::string program)
      : options_(options),
        program_(std::move(program)),
        live_(StandardErrorIsTerminal()),
        screen_(std::cerr, live_, live_ ? TerminalColumns() : 0, rows_) {}
  ~Fleet() {
    for (Instrument& instrument : instruments_) {
      if (instrument.log != nullptr) std::fclose(instrument.log);
    }
  }
  int Run();

 private:
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
  LineReader input_{STDIN_FILENO};
  std::deque<std::string> typed_;
  // The terminal echoes what is typed; other input is shown with the answer it gave.
  bool inputEchoed_ = isatty(STDIN_FILENO) != 0;
  int stoppedBy_ = 0;
  std::uint32_t startedAt_ = NowMs();
};

// zephor info --json on every port at once; false when a signal came meanwhile.
bool Fleet::Identify(const std::vector<std::string>& ports,
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
    if (app::SignalStop::Caught() != 0) {
      for (ChildProcess& child : children) child.Signal(app::SignalStop::Caught());
    }
    if (!running) break;
    WaitForInput(fds, kPassMs);
  }
  return app::SignalStop::Caught() == 0;
}

std::vector<std::string> Fleet::UpdateArguments(const app::FleetEntry& entry) const {
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

void Fleet::Start(const app::FleetEntry& entry) {
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

void Fleet::Take(Instrument& instrument, const app::RunEvent& event) {
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
void Fleet::Follow(Instrument& instrument) {
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
void Fleet::Ended(Instrument& instrument) {
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

void Fleet::Ask() {
  if (asking_ != nullptr || questions_.empty() || stoppedBy_ != 0) return;
  const Question next = questions_.front();
  questions_.pop_front();
  asking_ = next.instrument;
  screen_.Ask(rows_[next.instrument->row].Name() + ": " + next.text);
}

void Fleet::Answer(bool ok) {
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
void Fleet::Stop(int signal) {
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

void Fleet::Pass() {
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

bool Fleet::AllEnded() const {
  for (const app::FleetRow& row : rows_) {
    if (!row.finished()) return false;
  }
  return true;
}

int Fleet::Finish() {
  screen_.Draw(NowMs(), true);
  std::cout << app::FleetSummary(rows_);
  std::cout.flush();
  std::vector<int> codes;
  for (const app::FleetRow& row : rows_) codes.push_back(row.exitCode);
  const int code = stoppedBy_ != 0 ? app::kExitSignalBase + stoppedBy_ : app::WorstExitCode(codes);
  if (!options_.report.empty()) {
    const app::FleetTotals totals{options_.images, options_.out, code, NowMs() - startedAt_};
    std::ofstream report(options_.report, std::ios::binary | std::ios::trunc);
    report << app::FleetReportJson(rows_, totals);
    report.flush();
    if (!report) std::cerr << "cannot write the report " << options_.report << "\n";
  }
  if (stoppedBy_ != 0) std::cerr << "stopped by signal " << stoppedBy_ << "\n";
  return code;
}

int Fleet::Run() {
  const std::vector<std::string> ports = FleetPorts(options_);
  if (ports.empty()) {
    std::cerr << "no serial ports found\n";
    return app::kExitNoInstrument;
  }
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

// Mistakes of usage are told before any port is opened.
int RunFleet(FleetOptions options) {
  if (options.ports.empty() && !options.all) {
    std::cerr << "zephor fleet: name the ports, or give --all\n";
    return app::kExitBadUsage;
  }
  std::error_code error;
  options.images = fs::absolute(options.images.empty() ? "." : options.images, error).string();
  if (!fs::is_directory(options.images, error)) {
    std::cerr << "cannot read the images from " << options.images << ": no such folder\n";
    return app::kExitBadUsage;
  }
  options.out = fs::absolute(options.out.empty() ? "." : options.out, error).string();
  fs::create_directories(options.out, error);
  if (!fs::is_directory(options.out, error)) {
    std::cerr << "cannot make the folder " << options.out << "\n";
    return app::kExitBadUsage;
  }
  if (!options.trace.empty() && (fs::path(options.trace).filename() != options.trace ||
                                 options.trace == "." || options.trace == "..")) {
    std::cerr << "--trace takes a file name, written in each instrument's folder, not "
              << options.trace << "\n";
    return app::kExitBadUsage;
  }
  if (!options.report.empty() && !std::ofstream(options.report, std::ios::app)) {
    std::cerr << "cannot write the report " << options.report << "\n";
    return app::kExitBadUsage;
  }
  const std::string program = OwnProgramPath();
  if (program.empty()) {
    std::cerr << "zephor fleet: cannot find its own program to run for each instrument\n";
    return app::kExitBadUsage;
  }
  const app::SignalStop signals;
  KeepRunningWithoutReader();
  Fleet fleet(options, program);
  return fleet.Run();
}

}  // namespace

void AddFleetCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<FleetOptions>();
  CLI::App* fleet = app.add_subcommand(
      "fleet", "Make Update on the instruments of several ports at once, each in its own folder");
  fleet->footer(kExitCodeHelp);
  fleet->add_option("ports", options->ports, kPortHelp);
  fleet->add_flag("--all", options->all,
                  "Every port zephor ports finds; those where no ZEPHOR answers are skipped");
  fleet->add_option("--images", options->images, "Directory of the image files (default: here)");
  fleet->add_option("--out", options->out,
                    "Where each instrument's folder ZEPHOR-<equipment number> is made "
                    "(default: here)");
  CLI::Option* yes = fleet->add_flag("--yes", options->yes, "Answer OK to every warning");
  fleet->add_flag("--no", options->no, "Answer Cancel to every warning")->excludes(yes);
  fleet->add_flag("--erase-without-backup", options->eraseWithoutBackup,
                  "Answer OK to \"Erase anyway?\" when no backup could be saved");
  fleet
      ->add_option("--ready-minutes", options->readyMinutes,
                   "With --yes, keep waiting for READY this many minutes (default 10)")
      ->check(CLI::NonNegativeNumber);
  fleet->add_option("--json", options->report,
                    "Write the report to this file: per instrument the port, identification "
                    "before and after, images loaded, files written, exit code and duration");
  fleet->add_option("--trace", options->trace,
                    "Write each instrument's line trace to this file name in its folder");
  fleet->callback([&exitCode, options] { exitCode = RunFleet(*options); });
}

}  // namespace zephor::cli

// The loop of a fleet: each pass waits at most kPassMs for a line from any run, a typed answer
// or a signal, then follows every instrument, asks the next question and redraws the table.
#include "app/fleet_run.h"

#include <span>
#include <string>
#include <system_error>

#include "app/exit_codes.h"
#include "app/fleet_report.h"
#include "app/preset_answers.h"
#include "device/identify.h"
#include "files/folder_file.h"
#include "update/folder_names.h"

namespace zephor::app {
namespace {

namespace fs = std::filesystem;

// How long the loop waits for a run's line before it redraws and looks for a signal.
constexpr std::uint32_t kPassMs = 100;
// A run the system ended at its start (Wine does so now and then: code 1, not a word, before the
// program's own code ran) is started once more. A run of ours that ends with 1 always says why
// first, so such an end hides no failure of the run.
constexpr std::uint32_t kSilentStartMs = 1000;
constexpr int kSilentStartCode = 1;
// How long a start the system refused waits before its second try.
constexpr std::uint32_t kRefusedStartPauseMs = 250;
// The instrument's activity log, written by the fleet in its folder.
constexpr char kFleetLogName[] = "ZEPHOR.log";
constexpr char kLockName[] = "ZEPHOR.lock";

FolderState StateOf(files::Disk& disk, const fs::path& folder) {
  FolderState state;
  std::vector<files::Entry> entries;
  std::string why;
  if (!disk.List(folder, entries, why)) return state;
  for (const files::Entry& entry : entries) {
    files::NameStatus status;
    if (entry.kind != files::EntryKind::kFile || !disk.Status(folder / entry.name, status, why)) {
      continue;
    }
    state[entry.name] = {status.size, status.changedAt};
  }
  return state;
}

std::vector<std::string> FilesWritten(files::Disk& disk, const FolderState& before,
                                      const fs::path& folder) {
  std::vector<std::string> written;
  for (const auto& [name, facts] : StateOf(disk, folder)) {
    if (name == kLockName || name == kFleetLogName || name == kFleetPortFileName) continue;
    const auto was = before.find(name);
    if (was == before.end() || was->second != facts) written.push_back(name);
  }
  return written;
}

std::vector<std::string> InfoArguments(const std::string& port) { return {"info", port, "--json"}; }

}  // namespace

FleetRun::FleetRun(const FleetOptions& options, FleetSystem& system, const FleetConsole& console,
                   files::Disk& disk)
    : options_(options),
      system_(system),
      disk_(disk),
      console_(console),
      screen_(console.messages, console.live, console.width, rows_),
      startedAt_(system.NowMs()) {}

FleetRun::~FleetRun() {
  std::string ignored;
  for (Instrument& instrument : instruments_) {
    if (instrument.log) instrument.log->Close(ignored);
  }
}

// A start the system refuses is tried once more (Wine refuses one now and then, right after many
// programs ended); a second refusal is the answer, with the system's words.
bool FleetRun::StartWatched(Watched& watched, const std::vector<std::string>& args,
                            std::string& why, const std::string& name) {
  watched.args = args;
  watched.startedAt = system_.NowMs();
  watched.program = system_.Start(args, why);
  if (watched.program == nullptr) {
    screen_.Say(name + ": the system did not start its program (" + why +
                "); starting it once more");
    system_.Wait({}, false, kRefusedStartPauseMs);
    why.clear();
    watched.program = system_.Start(args, why);
  }
  return watched.program != nullptr;
}

// The program's lines; true once it ended, with its code. A silent end at its start is no end:
// the program is started once more, and name says so.
bool FleetRun::ReadWatched(Watched& watched, std::vector<std::string>& out,
                           std::vector<std::string>& err, int& code, const std::string& name) {
  if (watched.program == nullptr) return false;
  watched.program->Read(out, err);
  if (!out.empty() || !err.empty()) watched.spoke = true;
  if (!watched.program->Ended(code)) return false;
  if (code != kSilentStartCode || watched.spoke || watched.startedAgain ||
      system_.NowMs() - watched.startedAt > kSilentStartMs) {
    return true;
  }
  screen_.Say(name + ": its program ended at its start without a word (exit code " +
              std::to_string(code) + "); starting it once more");
  watched.startedAgain = true;
  std::string why;
  if (StartWatched(watched, watched.args, why, name)) return false;
  err.push_back("cannot start it again: " + why);
  return true;
}

// Each port's identification: the update itself, which tells what it found and waits for its
// folder; with a line trace, zephor info, which ends once it has told.
std::vector<std::string> FleetRun::IdentifyArguments(const std::string& port) const {
  if (IdentifiedByRuns()) return UpdateArguments(port, nullptr);
  return InfoArguments(port);
}

// What an identification wrote since the last look: its answer into member (told once an update
// has told it), its other lines held for its row. True once it ended.
bool FleetRun::ReadIdentification(Watched& child, FleetMember& member, bool& told) {
  std::vector<std::string> out, err;
  int code = 0;
  const bool ended =
      child.program == nullptr || ReadWatched(child, out, err, code, "ZEPHOR on " + member.port);
  for (const std::string& line : out) {
    const std::optional<std::string> identity =
        IdentifiedByRuns() ? DecodeIdentityLine(line) : std::optional<std::string>(line + "\n");
    if (identity && !told) {
      member.identity += *identity;
      told = IdentifiedByRuns();
    } else {
      child.heldOut.push_back(line);
    }
  }
  // Why no instrument answered: the open's failure when there was one, else the last word that
  // was no log line.
  for (const std::string& line : err) {
    child.heldErr.push_back(line);
    if (line.empty() || line[0] == '\t') continue;
    if (line.find("(status ") != std::string::npos ||
        member.said.find("(status ") == std::string::npos) {
      member.said = line;
    }
  }
  if (ended && child.program != nullptr && member.identity.empty() && member.said.empty()) {
    member.said = "its identification ended without a word (exit code " + std::to_string(code) +
                  "); run the fleet again on this port";
  }
  return ended;
}

// Every port identified at once; false when a signal came meanwhile (every program has then
// ended). An identification that told is left waiting for its folder.
bool FleetRun::Identify(const std::vector<std::string>& ports, std::vector<FleetMember>& members,
                        std::deque<Watched>& identifications) {
  for (const std::string& port : ports) {
    members.push_back({port, {}, {}, {}});
    std::string why;
    if (!StartWatched(identifications.emplace_back(), IdentifyArguments(port), why,
                      "ZEPHOR on " + port)) {
      members.back().said = "cannot start the identification: " + why;
    }
  }
  struct Look {
    bool ended = false;
    bool told = false;  // an update told what it found and waits for its folder
  };
  std::vector<Look> looks(ports.size());
  bool signalled = false;
  for (;;) {
    std::vector<FleetProgram*> running;
    for (std::size_t i = 0; i < identifications.size(); ++i) {
      Look& look = looks[i];
      if (look.ended) continue;
      Watched& child = identifications[i];
      look.ended = ReadIdentification(child, members[i], look.told);
      if (!look.ended && (signalled || !look.told)) running.push_back(child.program.get());
    }
    if (system_.Caught() != 0 && !signalled) {
      // Every program is stopped, those waiting for their folder too, and waited for.
      for (Watched& child : identifications) {
        if (child.program == nullptr) continue;
        child.program->Signal(system_.Caught());
        child.program->CloseInput();
      }
      signalled = true;
      continue;
    }
    if (running.empty()) break;
    system_.Wait(running, false, kPassMs);
  }
  // A port no instrument answered on may be held by a run still going on.
  for (FleetMember& member : members) {
    if (ReadInfoJson(member.identity).status == device::kStatusOk) continue;
    if (const std::optional<PortHolder> holder = system_.HolderOf(member.port)) {
      member.heldBy = holder->program + " (process " + std::to_string(holder->processId) + ")";
    }
  }
  return system_.Caught() == 0;
}

std::vector<std::string> FleetRun::UpdateArguments(const std::string& port,
                                                   const fs::path* folder) const {
  std::vector<std::string> args{"update", port, "--events", "--images", options_.images};
  if (folder != nullptr) {
    args.insert(args.end(), {"--folder", folder->string()});
  } else {
    args.emplace_back("--folder-from-input");
  }
  if (options_.yes) args.emplace_back("--yes");
  if (options_.no) args.emplace_back("--no");
  if (options_.eraseWithoutBackup) args.emplace_back("--erase-without-backup");
  args.insert(args.end(), {"--ready-minutes", std::to_string(options_.readyMinutes)});
  if (!options_.trace.empty() && folder != nullptr) {
    args.insert(args.end(), {"--trace", (*folder / options_.trace).string()});
  }
  return args;
}

// The identification of an instrument that is not updated is told so (the end of its input)
// and watched until it ends.
void FleetRun::Dismiss(Watched& identification) {
  if (identification.program == nullptr) return;
  identification.program->CloseInput();
  dismissed_.push_back(std::move(identification));
  identification = Watched();
}

// The update that identified the instrument goes on in the folder planned for it, and what it
// said so far is shown; false when there is none (zephor info identified it) or the folder's
// name would not arrive whole.
bool FleetRun::TakeOver(Instrument& instrument, Watched& identification, const fs::path& folder) {
  if (identification.program == nullptr || identification.args.front() != "update") return false;
  const std::string line = EncodeFolderLine(folder);
  if (DecodeFolderLine(line) != folder) {
    Dismiss(identification);
    return false;
  }
  instrument.update = std::move(identification);
  identification = Watched();
  Watched& update = instrument.update;
  TakeLines(instrument, update.heldOut, update.heldErr);
  update.heldOut.clear();
  update.heldErr.clear();
  update.program->WriteLine(line);
  return true;
}

void FleetRun::Start(const FleetEntry& entry, Watched& identification) {
  const std::string equipment =
      entry.identity.info ? update::EquipmentText(entry.identity.info->equipmentNumber) : "";
  FleetRow& row = rows_.emplace_back(entry.member.port, equipment, entry.folder);
  row.before = entry.member.identity;
  if (entry.action == FleetAction::kRefuse) {
    row.note = entry.why;
    row.Finish(entry.exitCode);
    screen_.Say(row.Name() + ": not updated: " + entry.why);
    Dismiss(identification);
    return;
  }
  Instrument& instrument = instruments_.emplace_back();
  instrument.row = rows_.size() - 1;
  instrument.port = entry.member.port;
  instrument.before = StateOf(disk_, entry.folder);
  std::string why;
  instrument.log = files::OpenNewFile(disk_, entry.folder / kFleetLogName, why);
  // Should the run stop with the instrument's loader waiting, the next fleet knows its folder
  // by its port; without the record it is matched only when it is the one waiting.
  const std::string record = entry.member.port + "\n";
  if (!files::ReplaceContents(
          disk_, entry.folder / kFleetPortFileName,
          std::span(reinterpret_cast<const std::uint8_t*>(record.data()), record.size()), why)) {
    screen_.Say(row.Name() + ": " + kFleetPortFileName + " cannot be written: " + why);
  }
  screen_.Say(row.Name() + ": updating in " + entry.folder.string());
  if (TakeOver(instrument, identification, entry.folder)) return;
  if (!StartWatched(instrument.update, UpdateArguments(entry.member.port, &entry.folder), why,
                    row.Name())) {
    row.note = "cannot start its update: " + why;
    row.Finish(kExitUpdateStopped);
    instrument.updateEnded = true;
    instrument.code = kExitUpdateStopped;
  }
}

void FleetRun::LogLine(Instrument& instrument, const std::string& line) {
  if (!instrument.log) return;
  const std::string text = line + "\n";
  std::string why;
  // A log that cannot be written is not worth stopping an update for: it is given up.
  if (!instrument.log->Write(
          std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), why)) {
    instrument.log->Close(why);
    instrument.log.reset();
  }
}

void FleetRun::Take(Instrument& instrument, const RunEvent& event) {
  FleetRow& row = rows_[instrument.row];
  row.Apply(event, system_.NowMs());
  for (const std::string& line : screen_.Show(row, event)) LogLine(instrument, line);
  if (event.kind == RunEvent::Kind::kMessage && event.question &&
      event.answer == ConsoleAnswer::kAsk) {
    questions_.push_back({&instrument, event.text});
  }
}

// A run's event lines, and its words on its error as plain text.
void FleetRun::TakeLines(Instrument& instrument, const std::vector<std::string>& out,
                         const std::vector<std::string>& err) {
  for (const std::string& line : out) Take(instrument, DecodeRunEvent(line));
  for (const std::string& line : err) {
    RunEvent said;
    said.text = line;
    Take(instrument, said);
  }
}

// The update's lines, then its end; then the identification after it.
void FleetRun::Follow(Instrument& instrument) {
  FleetRow& row = rows_[instrument.row];
  if (row.finished()) return;
  std::vector<std::string> out, err;
  int code = 0;
  if (!instrument.updateEnded) {
    const bool ended = ReadWatched(instrument.update, out, err, code, row.Name());
    TakeLines(instrument, out, err);
    if (ended) {
      instrument.updateEnded = true;
      instrument.code = code;
      Ended(instrument);
    }
    return;
  }
  const bool identified = instrument.identify.program == nullptr ||
                          ReadWatched(instrument.identify, out, err, code, row.Name());
  for (const std::string& line : out) instrument.identified += line + "\n";
  if (!identified) return;
  row.after = instrument.identified;
  // An instrument that could not say its number before its run may say it now.
  const InfoAnswer after = ReadInfoJson(row.after);
  if (row.equipment.empty() && after.info) {
    row.equipment = update::EquipmentText(after.info->equipmentNumber);
  }
  row.Finish(instrument.code);
  screen_.Say(row.Name() + ": " + FleetResultText(row.exitCode) + " (exit code " +
              std::to_string(row.exitCode) + ")");
  std::string ignored;
  if (instrument.log) instrument.log->Close(ignored);
  instrument.log.reset();
}

// The run ended: its question, if one was waiting, is no more; the instrument is identified
// again unless the fleet is stopping.
void FleetRun::Ended(Instrument& instrument) {
  FleetRow& row = rows_[instrument.row];
  row.durationMs = system_.NowMs() - instrument.update.startedAt;
  row.filesWritten = FilesWritten(disk_, instrument.before, row.folder);
  std::erase_if(questions_,
                [&instrument](const Question& q) { return q.instrument == &instrument; });
  if (asking_ == &instrument) {
    asking_ = nullptr;
    screen_.Dropped();
    screen_.Say(row.Name() + ": the question is no longer asked: its run ended");
  }
  std::string why;
  if (stoppedBy_ == 0) {
    row.SetStep("identifying it again");
    StartWatched(instrument.identify, InfoArguments(instrument.port), why, row.Name());
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
  instrument.update.program->WriteLine(ok ? kOkReply : kCancelReply);
  if (console_.inputEchoed) {
    screen_.Answered();
  } else {
    screen_.Dropped(ok ? "[OK]" : "[Cancel]");
  }
  LogLine(instrument, ok ? "[OK]" : "[Cancel]");
}

// Every instrument gets the signal and stops through its clean-up; nothing more is asked.
void FleetRun::Stop(int signal) {
  stoppedBy_ = signal;
  screen_.Say("Stopping every instrument (signal " + std::to_string(signal) + ")");
  for (Instrument& instrument : instruments_) {
    for (Watched* watched : {&instrument.update, &instrument.identify}) {
      if (watched->program == nullptr) continue;
      watched->program->Signal(signal);
      watched->program->CloseInput();
    }
  }
  questions_.clear();
  if (asking_ != nullptr) {
    asking_ = nullptr;
    screen_.Dropped();
  }
}

void FleetRun::Pass() {
  std::vector<FleetProgram*> watched;
  for (const Instrument& instrument : instruments_) {
    const Watched& current = instrument.updateEnded ? instrument.identify : instrument.update;
    if (!rows_[instrument.row].finished() && current.program != nullptr) {
      watched.push_back(current.program.get());
    }
  }
  for (const Watched& gone : dismissed_) watched.push_back(gone.program.get());
  system_.Wait(watched, asking_ != nullptr && !inputEnded_, kPassMs);
  if (system_.Caught() != 0 && stoppedBy_ == 0) Stop(system_.Caught());
  for (Instrument& instrument : instruments_) Follow(instrument);
  std::erase_if(dismissed_, [](Watched& gone) {
    std::vector<std::string> out, err;
    int code = 0;
    gone.program->Read(out, err);
    return gone.program->Ended(code);
  });
  if (asking_ != nullptr) {
    std::vector<std::string> lines;
    system_.ReadAnswers(lines, inputEnded_);
    typed_.insert(typed_.end(), lines.begin(), lines.end());
    if (!typed_.empty()) {
      const bool ok = IsOkReply(typed_.front());
      typed_.pop_front();
      Answer(ok);
    } else if (inputEnded_) {
      Answer(false);  // nobody is there to answer: Cancel
    }
  }
  Ask();
  screen_.Draw(system_.NowMs(), false);
}

bool FleetRun::AllEnded() const {
  if (!dismissed_.empty()) return false;
  for (const FleetRow& row : rows_) {
    if (!row.finished()) return false;
  }
  return true;
}

int FleetRun::Finish() {
  screen_.Draw(system_.NowMs(), true);
  console_.summary << FleetSummary(rows_);
  console_.summary.flush();
  std::vector<int> codes;
  for (const FleetRow& row : rows_) codes.push_back(row.exitCode);
  int code = stoppedBy_ != 0 ? kExitSignalBase + stoppedBy_ : WorstExitCode(codes);
  if (!options_.report.empty()) {
    const FleetTotals totals{options_.images, options_.out, code, system_.NowMs() - startedAt_};
    const std::string text = FleetReportJson(rows_, totals);
    // Through a fresh temporary: a link at the report's name is replaced, never written through,
    // and a reader finds the old report or the whole new one.
    std::string why;
    if (!files::ReplaceContents(
            disk_, options_.report,
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), why)) {
      console_.messages << "cannot write the report " << options_.report << ": " << why << "\n";
      // The report was asked for: a fleet that finished without it has not done all it was told.
      if (code == kExitDone) code = kExitBadUsage;
    }
  }
  if (stoppedBy_ != 0) console_.messages << "stopped by signal " << stoppedBy_ << "\n";
  console_.messages.flush();
  return code;
}

int FleetRun::Run(const std::vector<std::string>& ports) {
  std::string names;
  for (const std::string& port : ports) names += (names.empty() ? "" : ", ") + port;
  screen_.Say("Identifying the instruments on " + names);
  std::vector<FleetMember> members;
  std::deque<Watched> identifications;
  if (!Identify(ports, members, identifications)) {
    console_.messages << "stopped by signal " << system_.Caught() << "\n";
    return kExitSignalBase + system_.Caught();
  }
  // The plan has one entry for each port, in their order.
  const std::vector<FleetEntry> plan = PlanFleet(members, options_.out, options_.all, disk_);
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].action == FleetAction::kSkip) {
      screen_.Say(plan[i].member.port + ": skipped: " + plan[i].why);
      Dismiss(identifications[i]);
      continue;
    }
    Start(plan[i], identifications[i]);
  }
  if (rows_.empty()) {
    while (!AllEnded()) Pass();
    console_.messages << "no ZEPHOR answers on any port\n";
    return kExitNoInstrument;
  }
  while (!AllEnded()) Pass();
  return Finish();
}

}  // namespace zephor::app

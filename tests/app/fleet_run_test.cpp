// The fleet's loop on virtual time: scripted runs stand for zephor info and zephor update (which
// identifies its instrument and waits for its folder), each writing the event lines a run writes
// at the moments its script gives, answering the questions it asks with the replies it is sent,
// and stopping through a clean-up of its own on a signal.
// Every row is a fault the loop must survive: questions that come together, a run that ends while
// its question waits, a signal in either phase, a report that cannot be written, one number on
// two ports, a port a run still holds, a run the system ended at its start, and a traced fleet.
#include "app/fleet_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/event_stream.h"
#include "app/exit_codes.h"
#include "temp_dir.h"
#include "update/update_planner.h"

namespace zephor::app {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr std::uint32_t kIdentifyMs = 1500;  // an identification's length
constexpr std::uint32_t kCleanUpMs = 700;    // a run's cancel sequence and close on a signal
constexpr std::uint32_t kNever = UINT32_MAX;
constexpr int kKill = 9;
constexpr int kExitKilled = kExitSignalBase + kKill;
// A fleet still going after this long waits for something that never comes: it is killed.
constexpr std::uint32_t kGiveUpMs = 3600000;

// One step of an update's script, at its time after the run's start.
struct FleetStep {
  enum class Kind {
    kLine,    // text: an event line on its output
    kWord,    // text: a line on its error
    kAsk,     // text: a question nobody preset; code: how the run ends on Cancel
    kFile,    // text: a file the run writes in its folder
    kFolder,  // it waits for its folder; the steps after it count from the folder's arrival
    kEnd,     // code: its exit code
  };
  std::uint32_t atMs;
  Kind kind;
  std::string text;
  int code = 0;
};

FleetStep Log(std::uint32_t at, const std::string& text) {
  RunEvent event;
  event.kind = RunEvent::Kind::kLog;
  event.text = "\t" + text + "\r\n";
  return {at, FleetStep::Kind::kLine, EncodeRunEvent(event)};
}

FleetStep Transfer(std::uint32_t at, device::ProgressKind kind, const std::string& file,
                   long bytes) {
  RunEvent event;
  event.kind = RunEvent::Kind::kProgress;
  const int result = kind == device::ProgressKind::kTransferEnd ? 1 : 0;
  event.progress = {kind, file, true, bytes, 1000, 0, result, 0, at};
  return {at, FleetStep::Kind::kLine, EncodeRunEvent(event)};
}

FleetStep Ask(std::uint32_t at, const std::string& question, int codeOnCancel) {
  RunEvent event;
  event.kind = RunEvent::Kind::kMessage;
  event.text = question;
  event.question = true;
  event.answer = ConsoleAnswer::kAsk;
  return {at, FleetStep::Kind::kAsk, EncodeRunEvent(event), codeOnCancel};
}

FleetStep Restart(std::uint32_t at) {
  RunEvent event;
  event.kind = RunEvent::Kind::kMessage;
  event.text = update::kRestartText;
  return {at, FleetStep::Kind::kLine, EncodeRunEvent(event)};
}

FleetStep File(std::uint32_t at, const std::string& name) {
  return {at, FleetStep::Kind::kFile, name};
}
FleetStep End(std::uint32_t at, int code) { return {at, FleetStep::Kind::kEnd, {}, code}; }

// A main program loaded, the files of a restore written, the restart asked for.
std::vector<FleetStep> Loads(int code = 0, std::uint32_t endAt = 4000) {
  return {Log(10, "Update main program in progress..."),
          Transfer(100, device::ProgressKind::kTransferStart, "main.bin", 0),
          Transfer(1500, device::ProgressKind::kTransferStep, "main.bin", 500),
          Transfer(3000, device::ProgressKind::kTransferEnd, "main.bin", 1000),
          File(3500, "_Conversion.txt"),
          Restart(3900),
          End(endAt, code)};
}

std::string Identity(int equipment) {
  return "{\n  \"status\": \"OK\",\n  \"info\": {\"equipmentNumber\": " +
         std::to_string(equipment) + "}\n}";
}

// One port of the fleet and what stands behind it.
struct Port {
  std::string name;
  std::string identity;  // what zephor info --json prints; empty when nothing answers
  std::vector<FleetStep> update;
  std::optional<PortHolder> holder;  // a program that holds the port
  int silentStarts = 0;              // updates the system ends at their start, without a word
  std::uint32_t killedAt = kNever;   // its update is killed then (after its start), asking or not
  int refusedStarts = 0;             // programs the system refuses to start, its words given
};

// A zephor info or update on virtual time. The fleet holds it as a program and drops it when it
// is done with it; the system keeps it going as long as its clock runs.
class Script {
 public:
  Script(std::vector<FleetStep> steps, std::uint32_t startedAt, fs::path folder,
         std::uint32_t killedAt)
      : steps_(std::move(steps)),
        startedAt_(startedAt),
        folder_(std::move(folder)),
        killedAt_(killedAt == kNever ? kNever : startedAt + killedAt) {}

  void Read(std::vector<std::string>& out, std::vector<std::string>& err) {
    out.insert(out.end(), out_.begin(), out_.end());
    err.insert(err.end(), err_.begin(), err_.end());
    out_.clear();
    err_.clear();
  }
  bool Ended(int& code) {
    if (!ended_ || !out_.empty() || !err_.empty()) return false;
    code = code_;
    return true;
  }
  void WriteLine(const std::string& line) {
    if (awaitingFolder_) {
      awaitingFolder_ = false;
      const std::optional<fs::path> folder = DecodeFolderLine(line);
      if (!folder) return EndNow(kExitCancelled);
      folder_ = *folder;
      startedAt_ = now_;
      return;
    }
    answers.push_back(line);
    if (!asking_) return;
    asking_ = false;
    if (line != kOkReply) EndNow(steps_[next_ - 1].code);
  }
  // The question it waits on is answered Cancel; a run told to stop goes on with its stop.
  void CloseInput() {
    inputClosed = true;
    if (awaitingFolder_ && stopAt_ == kNever) EndNow(kExitCancelled);
    if (!asking_) return;
    asking_ = false;
    if (stopAt_ == kNever) EndNow(steps_[next_ - 1].code);
  }
  void Signal(int signal) {
    signals.push_back(signal);
    if (ended_ || stopAt_ != kNever) return;
    stopAt_ = now_ + kCleanUpMs;
    stopSignal_ = signal;
  }

  // When it next does something on its own.
  std::uint32_t DueAt() const {
    if (ended_) return kNever;
    const std::uint32_t step = asking_ || awaitingFolder_ || next_ >= steps_.size()
                                   ? kNever
                                   : startedAt_ + steps_[next_].atMs;
    return std::min({step, stopAt_, killedAt_});
  }
  void Advance(std::uint32_t now) {
    now_ = now;
    if (!ended_ && now >= killedAt_) EndNow(kExitKilled);
    if (!ended_ && now >= stopAt_) {
      err_.push_back("stopped by signal " + std::to_string(stopSignal_));
      EndNow(kExitSignalBase + stopSignal_);
    }
    while (!ended_ && !asking_ && !awaitingFolder_ && next_ < steps_.size() &&
           startedAt_ + steps_[next_].atMs <= now) {
      const FleetStep& step = steps_[next_++];
      switch (step.kind) {
        case FleetStep::Kind::kLine:
          out_.push_back(step.text);
          break;
        case FleetStep::Kind::kWord:
          err_.push_back(step.text);
          break;
        case FleetStep::Kind::kAsk:
          out_.push_back(step.text);
          asking_ = !inputClosed;
          if (inputClosed) EndNow(step.code);
          break;
        case FleetStep::Kind::kFile: {
          std::ofstream(folder_ / step.text) << "written";
          break;
        }
        case FleetStep::Kind::kFolder:
          awaitingFolder_ = !inputClosed;
          if (inputClosed) EndNow(kExitCancelled);
          break;
        case FleetStep::Kind::kEnd:
          EndNow(step.code);
          break;
      }
    }
  }

  // The folder it works in: the one it was started in or told; empty when it has none.
  const fs::path& folder() const { return folder_; }

  std::vector<std::string> answers;
  std::vector<int> signals;
  bool inputClosed = false;

 private:
  void EndNow(int code) {
    ended_ = true;
    code_ = code;
  }

  std::vector<FleetStep> steps_;
  std::uint32_t startedAt_;
  fs::path folder_;
  std::uint32_t killedAt_;
  std::size_t next_ = 0;
  bool asking_ = false;
  bool awaitingFolder_ = false;
  bool ended_ = false;
  int code_ = 0;
  std::uint32_t now_ = 0;
  std::uint32_t stopAt_ = kNever;
  int stopSignal_ = 0;
  std::vector<std::string> out_;
  std::vector<std::string> err_;
};

class ScriptedRun final : public FleetProgram {
 public:
  explicit ScriptedRun(std::shared_ptr<Script> script) : script_(std::move(script)) {}
  void Read(std::vector<std::string>& out, std::vector<std::string>& err) override {
    script_->Read(out, err);
  }
  bool Ended(int& code) override { return script_->Ended(code); }
  void WriteLine(const std::string& line) override { script_->WriteLine(line); }
  void CloseInput() override { script_->CloseInput(); }
  void Signal(int signal) override { script_->Signal(signal); }

 private:
  std::shared_ptr<Script> script_;
};

struct Typed {
  std::uint32_t atMs;
  std::string line;
};

// The system under the fleet: scripted runs, typed answers and a signal, all on one clock that
// jumps to the next thing that happens.
class FakeFleet final : public FleetSystem {
 public:
  FakeFleet(std::vector<Port> ports, std::vector<Typed> typed, std::uint32_t inputEndsAt,
            std::uint32_t signalAt, int signal)
      : ports_(std::move(ports)),
        typed_(std::move(typed)),
        inputEndsAt_(inputEndsAt),
        signalAt_(signalAt),
        signal_(signal) {}

  std::unique_ptr<FleetProgram> Start(const std::vector<std::string>& args,
                                      std::string& why) override {
    Port& port = PortNamed(args.at(1));
    if (port.refusedStarts-- > 0) {
      why = "Internal error";
      return nullptr;
    }
    std::vector<FleetStep> steps;
    fs::path folder;
    std::uint32_t killedAt = kNever;
    const bool folderFromInput =
        std::find(args.begin(), args.end(), "--folder-from-input") != args.end();
    if (args[0] == "info") {
      steps = Identification(port, false);
    } else if (port.silentStarts-- > 0) {
      steps = {End(5, 1)};
      ++updatesStarted[port.name];
    } else {
      if (folderFromInput) steps = Identification(port, true);
      if (!folderFromInput) {
        folder = args.at(std::find(args.begin(), args.end(), "--folder") - args.begin() + 1);
      }
      if (!folderFromInput || !port.identity.empty()) {
        steps.insert(steps.end(), port.update.begin(), port.update.end());
      }
      killedAt = port.killedAt;
      ++updatesStarted[port.name];
    }
    const auto script = std::make_shared<Script>(steps, now_, folder, killedAt);
    scripts_.push_back(script);
    if (args[0] == "update") updates[port.name] = script;
    script->Advance(now_);
    return std::make_unique<ScriptedRun>(script);
  }
  void Wait(const std::vector<FleetProgram*>&, bool answerAwaited, std::uint32_t ms) override {
    std::uint32_t until = now_ + ms;
    for (const auto& script : scripts_) until = std::min(until, script->DueAt());
    if (answerAwaited && !typed_.empty()) until = std::min(until, typed_.front().atMs);
    if (answerAwaited) until = std::min(until, inputEndsAt_);
    if (signalAt_ > now_) until = std::min(until, signalAt_);
    now_ = std::max(now_, until);
    for (const auto& script : scripts_) script->Advance(now_);
    if (now_ > kGiveUpMs && !gaveUp_) {
      gaveUp_ = true;
      ADD_FAILURE() << "the fleet has not ended after " << kGiveUpMs << " ms";
    }
  }
  std::uint32_t NowMs() override { return now_; }
  int Caught() override {
    if (gaveUp_) return kKill;
    return now_ >= signalAt_ ? signal_ : 0;
  }
  void ReadAnswers(std::vector<std::string>& lines, bool& atEnd) override {
    while (!typed_.empty() && typed_.front().atMs <= now_) {
      lines.push_back(typed_.front().line);
      typed_.erase(typed_.begin());
    }
    atEnd = typed_.empty() && now_ >= inputEndsAt_;
  }
  std::optional<PortHolder> HolderOf(const std::string& name) override {
    return PortNamed(name).holder;
  }

  // What zephor info prints, or what an update told its folder from tells before it waits.
  static std::vector<FleetStep> Identification(const Port& port, bool byUpdate) {
    std::vector<FleetStep> steps;
    if (port.identity.empty()) {
      return {{kIdentifyMs, FleetStep::Kind::kWord,
               port.name + ": in use by another program (status -3)"},
              End(kIdentifyMs, kExitNoInstrument)};
    }
    if (byUpdate) {
      return {{kIdentifyMs, FleetStep::Kind::kLine, EncodeIdentityLine(port.identity)},
              {kIdentifyMs, FleetStep::Kind::kFolder, {}}};
    }
    std::istringstream lines(port.identity);
    for (std::string line; std::getline(lines, line);) {
      steps.push_back({kIdentifyMs, FleetStep::Kind::kLine, line});
    }
    steps.push_back(End(kIdentifyMs, kExitDone));
    return steps;
  }

  std::map<std::string, std::shared_ptr<Script>> updates;  // each port's last update
  std::map<std::string, int> updatesStarted;

 private:
  Port& PortNamed(const std::string& name) {
    return *std::find_if(ports_.begin(), ports_.end(),
                         [&name](const Port& port) { return port.name == name; });
  }

  std::vector<Port> ports_;
  std::vector<Typed> typed_;
  std::uint32_t inputEndsAt_;
  std::uint32_t signalAt_;
  int signal_;
  std::uint32_t now_ = 0;
  bool gaveUp_ = false;
  std::vector<std::shared_ptr<Script>> scripts_;
};

enum class Report { kNone, kWritten, kThroughALink, kUnwritable };

struct FleetCase {
  const char* name;
  std::vector<Port> ports;
  std::vector<Typed> typed;
  std::uint32_t inputEndsAt;
  std::uint32_t signalAt;
  Report report;
  int fleetCode;
  std::vector<int> codes;  // per port: its row's exit code, -1 when it has no row
  // Per port: the replies its update was sent, and how many times it was started.
  std::vector<std::vector<std::string>> answers;
  std::vector<int> started;
  // What the technician reads, in this order.
  std::vector<std::string> said;
  // A line trace asked for: every port is identified by zephor info before its update starts.
  bool traced = false;
  std::string out = "out";  // the fleet's folder, in the scratch folder
};

void PrintTo(const FleetCase& row, std::ostream* out) { *out << row.name; }

class FleetRunTest : public ::testing::TestWithParam<FleetCase> {};

TEST_P(FleetRunTest, EveryRunEndsWithItsOwnCodeAndTheWorstIsTheFleets) {
  const FleetCase& c = GetParam();
#ifdef _WIN32
  // Names there are UTF-16, turned into text by the system's code page: bytes that are no UTF-8
  // in a folder's name are a case of POSIX systems.
  if (c.out != "out") GTEST_SKIP() << "a folder name of bytes that are no UTF-8";
#endif
  const support::TempDir scratch;
  FleetOptions options;
  options.images = scratch.path().string();
  options.out = (scratch.path() / c.out).string();
  fs::create_directories(options.out);
  const fs::path elsewhere = scratch.path() / "elsewhere.txt";
  if (c.report != Report::kNone) options.report = (scratch.path() / "report.json").string();
  if (c.traced) options.trace = "line.trace";
  if (c.report == Report::kUnwritable) fs::create_directories(options.report + "/held");
  if (c.report == Report::kThroughALink) {
    std::ofstream(elsewhere) << "kept";
    std::error_code noLinks;
    fs::create_symlink(elsewhere, options.report, noLinks);
  }
  std::vector<std::string> names;
  for (const Port& port : c.ports) names.push_back(port.name);
  FakeFleet system(c.ports, c.typed, c.inputEndsAt, c.signalAt, 2);
  std::ostringstream messages, summary;
  FleetRun fleet(options, system, FleetConsole{messages, summary, false, 0, false});

  EXPECT_EQ(fleet.Run(names), c.fleetCode) << messages.str();

  const std::string shown = messages.str() + summary.str();
  std::size_t from = 0;
  for (const std::string& words : c.said) {
    const std::size_t at = shown.find(words, from);
    EXPECT_NE(at, std::string::npos) << "not said (in this order): " << words << "\n" << shown;
    if (at != std::string::npos) from = at + words.size();
  }
  const json report = c.report == Report::kNone || c.report == Report::kUnwritable
                          ? json()
                          : json::parse(std::ifstream(options.report), nullptr, false);
  for (std::size_t i = 0; i < c.ports.size(); ++i) {
    SCOPED_TRACE(c.ports[i].name);
    const Script* update = system.updates[c.ports[i].name].get();
    EXPECT_EQ(update != nullptr ? update->answers : std::vector<std::string>{}, c.answers[i]);
    EXPECT_EQ(system.updatesStarted[c.ports[i].name], c.started[i]);
    // An instrument refused or never planned is identified, never updated: its run gets no folder.
    const bool updated = update != nullptr && !update->folder().empty();
    EXPECT_EQ(updated,
              c.codes[i] >= 0 && c.codes[i] != kExitNoInstrument && c.codes[i] != kExitFolderBusy);
    if (!report.is_object()) continue;
    const auto mine =
        std::find_if(report["instruments"].begin(), report["instruments"].end(),
                     [&](const json& instrument) { return instrument["port"] == c.ports[i].name; });
    ASSERT_EQ(mine != report["instruments"].end(), c.codes[i] >= 0) << report.dump(2);
    if (mine == report["instruments"].end()) continue;
    EXPECT_EQ((*mine)["exitCode"], c.codes[i]) << mine->dump(2);
    // A run that ended on its own tells what it loaded and wrote; a fleet that was stopped
    // identifies nothing after its runs.
    if (c.codes[i] == kExitDone) {
      json images = json::array(), files = json::array();
      for (const FleetStep& step : c.ports[i].update) {
        if (step.kind == FleetStep::Kind::kFile) files.push_back(step.text);
        if (step.text.find("transferEnd") != std::string::npos) images.push_back("main.bin");
      }
      EXPECT_EQ((*mine)["imagesLoaded"], images) << mine->dump(2);
      EXPECT_EQ((*mine)["filesWritten"], files) << mine->dump(2);
    }
    EXPECT_EQ((*mine)["after"].is_null(), c.signalAt != kNever || !updated) << mine->dump(2);
  }
  if (c.report == Report::kThroughALink) {
    std::string kept;
    std::getline(std::ifstream(elsewhere), kept);
    EXPECT_EQ(kept, "kept");
    EXPECT_FALSE(fs::is_symlink(options.report));
  }
}

const std::vector<std::string> kNone;
const std::vector<std::string> kOk{"ok"};
const std::vector<std::string> kCancel{"cancel"};

INSTANTIATE_TEST_SUITE_P(
    Table, FleetRunTest,
    ::testing::Values(
        // One done, one whose restore needs a decision, one named port where nothing answers:
        // the worst of them is the fleet's, each in its own folder with its own files.
        FleetCase{"EachInstrumentInItsOwnFolder",
                  {{"COM1", Identity(11), Loads(), {}, 0},
                   {"COM2",
                    Identity(12),
                    {File(100, "ZEPHORrestore-000000012.json"), End(900, 5)},
                    {},
                    0},
                   {"COM3", "", {}, {}, 0}},
                  {},
                  kNever,
                  kNever,
                  Report::kWritten,
                  5,
                  {0, 5, 3},
                  {kNone, kNone, kNone},
                  {1, 1, 1},
                  {"ZEPHOR on COM3: not updated: COM3: in use by another program",
                   "ZEPHOR 000000012 on COM2: needs a decision: surveys safe (exit code 5)",
                   "ZEPHOR 000000011 on COM1: done (exit code 0)"}},
        // Two questions at once: the second waits until the first is answered, and each answer
        // reaches the run that asked.
        FleetCase{"QuestionsAreAskedOneAtATime",
                  {{"COM1", Identity(11), {Ask(500, "Erase anyway?", 1), End(800, 0)}, {}, 0},
                   {"COM2", Identity(12), {Ask(500, "Finish it now?", 1), End(800, 0)}, {}, 0}},
                  {{5000, "o"}, {6000, "c"}},
                  kNever,
                  kNever,
                  Report::kWritten,
                  1,
                  {0, 1},
                  {kOk, kCancel},
                  {1, 1},
                  {"ZEPHOR 000000011 on COM1: Erase anyway?", "[OK]",
                   "ZEPHOR 000000012 on COM2: Finish it now?", "[Cancel]"}},
        // The run whose question is asked ends without its answer: the question is dropped and
        // the answer typed next goes to the question asked next.
        FleetCase{"ARunEndsWhileItsQuestionIsAsked",
                  {{"COM1", Identity(11), {Ask(500, "Erase anyway?", 1), End(800, 0)}, {}, 0, 3000},
                   {"COM2", Identity(12), {Ask(600, "Finish it now?", 1), End(700, 0)}, {}, 0}},
                  {{5000, "ok"}},
                  kNever,
                  kNever,
                  Report::kWritten,
                  kExitKilled,
                  {kExitKilled, 0},
                  {kNone, kOk},
                  {1, 1},
                  {"COM1: Erase anyway?", "COM1: the question is no longer asked: its run ended",
                   "COM2: Finish it now?", "[OK]"}},
        // Nobody is there to answer (the input ended): Cancel.
        FleetCase{"NobodyToAnswer",
                  {{"COM1", Identity(11), {Ask(500, "Erase anyway?", 1), End(800, 0)}, {}, 0}},
                  {},
                  0,
                  kNever,
                  Report::kNone,
                  1,
                  {1},
                  {kCancel},
                  {1},
                  {"COM1: Erase anyway?", "[Cancel]", "cancelled (exit code 1)"}},
        // An interrupt in the middle of the loads reaches every run, which stops through its
        // clean-up; a question waiting is dropped, nobody is identified after.
        FleetCase{"AnInterruptStopsEveryRunThroughItsCleanUp",
                  {{"COM1", Identity(11), Loads(0, 9000), {}, 0},
                   {"COM2", Identity(12), {Ask(200, "Finish it now?", 1), End(9000, 0)}, {}, 0}},
                  {},
                  kNever,
                  kIdentifyMs + 1000,
                  Report::kWritten,
                  130,
                  {130, 130},
                  {kNone, {}},
                  {1, 1},
                  {"Stopping every instrument (signal 2)", "stopped by signal 2 (exit code 130)",
                   "stopped by signal 2"}},
        // An interrupt while the ports are identified: nothing is started.
        FleetCase{"AnInterruptWhileIdentifying",
                  {{"COM1", Identity(11), Loads(), {}, 0}},
                  {},
                  kNever,
                  500,
                  Report::kWritten,
                  130,
                  {-1},
                  {kNone},
                  {1},
                  {"stopped by signal 2"}},
        // A report that cannot be written: the fleet has not done all it was told.
        FleetCase{"AReportThatCannotBeWritten",
                  {{"COM1", Identity(11), Loads(), {}, 0}},
                  {},
                  kNever,
                  kNever,
                  Report::kUnwritable,
                  2,
                  {0},
                  {kNone},
                  {1},
                  {"cannot write the report"}},
        // Two ports answer with one number: neither is loaded, the one beside them is; the report
        // replaces the link at its name.
        FleetCase{"OneNumberOnTwoPorts",
                  {{"COM1", Identity(55), Loads(), {}, 0},
                   {"COM2", Identity(55), Loads(), {}, 0},
                   {"COM3", Identity(56), Loads(), {}, 0}},
                  {},
                  kNever,
                  kNever,
                  Report::kThroughALink,
                  6,
                  {6, 6, 0},
                  {kNone, kNone, kNone},
                  {1, 1, 1},
                  {"ZEPHOR 000000055 answers on more than one port"}},
        // A port a run of an earlier fleet still holds: its holder is named, not "no instrument".
        FleetCase{
            "APortHeldByARunStillGoingOn",
            {{"COM1", "", {}, PortHolder{4242, "zephor"}, 0},
             {"COM2", Identity(12), Loads(), {}, 0}},
            {},
            kNever,
            kNever,
            Report::kWritten,
            6,
            {6, 0},
            {kNone, kNone},
            {1, 1},
            {"ZEPHOR on COM1: not updated: in use by zephor (process 4242)", "refused or held"}},
        // A run the system ended at its start without a word is started once more; twice is a
        // failure of its own, and a run that spoke before it ended keeps its end. A start the
        // system refuses is tried once more too.
        FleetCase{
            "ARunEndedOrRefusedAtItsStartIsStartedOnceMore",
            {{"COM1", Identity(11), Loads(), {}, 1},
             {"COM2", Identity(12), Loads(), {}, 2},
             {"COM3", Identity(13), {Log(1, "Can't open file"), End(2, 1)}, {}, 0},
             {"COM4", Identity(14), Loads(), {}, 0, kNever, 1}},
            {},
            kNever,
            kNever,
            Report::kWritten,
            3,
            {0, 3, 1, 0},
            {kNone, kNone, kNone, kNone},
            {2, 2, 1, 1},
            {"ZEPHOR on COM4: the system did not start its program (Internal error); starting "
             "it once more",
             "COM1: its program ended at its start without a word (exit code 1); starting it "
             "once more",
             "ZEPHOR on COM2: not updated: its identification ended without a word (exit code "
             "1)"}},
        // With a line trace every port is identified by zephor info first, and only the
        // instrument that answered has its update started, in its folder.
        FleetCase{"ATracedFleetIdentifiesEveryPortFirst",
                  {{"COM1", Identity(11), Loads(), {}, 0}, {"COM2", "", {}, {}, 0}},
                  {},
                  kNever,
                  kNever,
                  Report::kWritten,
                  3,
                  {0, 3},
                  {kNone, kNone},
                  {1, 0},
                  {"ZEPHOR on COM2: not updated", "ZEPHOR 000000011 on COM1: done (exit code 0)"},
                  true},
        // A folder whose name is no UTF-8 would not arrive whole in a line: the run that
        // identified the instrument is let go, and its update started in the folder by name.
        FleetCase{"AFolderNameNoLineCarries",
                  {{"COM1", Identity(11), Loads(), {}, 0}},
                  {},
                  kNever,
                  kNever,
                  Report::kWritten,
                  0,
                  {0},
                  {kNone},
                  {2},
                  {"ZEPHOR 000000011 on COM1: done (exit code 0)"},
                  false,
                  "out\xff"}),
    [](const ::testing::TestParamInfo<FleetCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zephor::app

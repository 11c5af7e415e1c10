// One fleet run: one zephor update per port, all at once, each identifying its instrument and
// told the folder planned from every port's answer (with a line trace asked for, every port is
// identified by zephor info first and each update started in its folder), watched through its
// event lines, questions asked one at a time, a signal
// passed on to every run; at the end the summary, the report and the worst exit code. Its
// programs, its clock, its signals and the technician's answers come through a FleetSystem:
// child processes of this program, or scripted runs on virtual time in the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/event_stream.h"
#include "app/fleet_plan.h"
#include "app/fleet_row.h"
#include "app/fleet_screen.h"

namespace zephor::app {

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

// A program the fleet started: an instrument's identification or its update.
class FleetProgram {
 public:
  virtual ~FleetProgram() = default;
  // The complete lines it wrote on its standard output and error since the last call.
  virtual void Read(std::vector<std::string>& out, std::vector<std::string>& err) = 0;
  // True once it ended and all it wrote was read; code is then its exit code, or 128 and the
  // number of the signal that ended it.
  virtual bool Ended(int& code) = 0;
  // An answer on its input.
  virtual void WriteLine(const std::string& line) = 0;
  // It reads the end of its input: a question it waits on is answered Cancel.
  virtual void CloseInput() = 0;
  // Passes on a signal the fleet caught, by its POSIX number.
  virtual void Signal(int signal) = 0;
};

// The program that holds a port's device open.
struct PortHolder {
  long processId = 0;
  std::string program;
};

// What the fleet needs from the system it runs on.
class FleetSystem {
 public:
  virtual ~FleetSystem() = default;
  // Starts this program again with args; null, with why, when it cannot be started.
  virtual std::unique_ptr<FleetProgram> Start(const std::vector<std::string>& args,
                                              std::string& why) = 0;
  // Waits at most ms for a line or the end of one of the programs, for a typed line when an
  // answer is awaited, or for a signal.
  virtual void Wait(const std::vector<FleetProgram*>& programs, bool answerAwaited,
                    std::uint32_t ms) = 0;
  virtual std::uint32_t NowMs() = 0;
  // The signal the fleet caught (interrupt 2, terminate 15, hang-up 1), or 0.
  virtual int Caught() = 0;
  // The lines typed since the last call; atEnd once the input has ended.
  virtual void ReadAnswers(std::vector<std::string>& lines, bool& atEnd) = 0;
  // Which program holds the port's device open; nothing when none does or the system cannot
  // tell.
  virtual std::optional<PortHolder> HolderOf(const std::string& port) = 0;
};

// Where the fleet shows itself.
struct FleetConsole {
  std::ostream& messages;    // the live table or the event lines, and what the technician must read
  std::ostream& summary;     // the summary table at the end
  bool live = false;         // messages go to a terminal that takes cursor moves
  std::size_t width = 0;     // its columns; 0 when unknown
  bool inputEchoed = false;  // the terminal shows the answer as it is typed
};

// The files of a folder with their sizes and times, to tell afterwards what a run wrote.
using FolderState = std::map<std::string, std::pair<std::uint64_t, std::int64_t>>;

class FleetRun {
 public:
  // options.images and options.out are whole paths, their folders there.
  // The fleet's own files (the folders, each instrument's log and port record, the report) go
  // through disk.
  FleetRun(const FleetOptions& options, FleetSystem& system, const FleetConsole& console,
           files::Disk& disk = files::SystemDisk());
  ~FleetRun();
  FleetRun(const FleetRun&) = delete;
  FleetRun& operator=(const FleetRun&) = delete;

  // Runs the fleet on the ports; returns its exit code.
  int Run(const std::vector<std::string>& ports);

 private:
  // A program of one port, started once more when the system ended it at its start.
  struct Watched {
    std::unique_ptr<FleetProgram> program;
    std::vector<std::string> args;
    std::uint32_t startedAt = 0;
    bool spoke = false;  // it wrote something
    bool startedAgain = false;
    // What it wrote before its instrument had a row: shown once it has one.
    std::vector<std::string> heldOut;
    std::vector<std::string> heldErr;
  };
  // One instrument's programs: its update, then its identification after it.
  struct Instrument {
    std::size_t row = 0;
    std::string port;
    Watched update;
    Watched identify;
    std::string identified;  // what the identification printed
    bool updateEnded = false;
    int code = -1;
    FolderState before;
    std::unique_ptr<files::DiskFile> log;
  };

  bool StartWatched(Watched& watched, const std::vector<std::string>& args, std::string& why,
                    const std::string& name);
  bool ReadWatched(Watched& watched, std::vector<std::string>& out, std::vector<std::string>& err,
                   int& code, const std::string& name);
  bool IdentifiedByRuns() const { return options_.trace.empty(); }
  std::vector<std::string> IdentifyArguments(const std::string& port) const;
  bool Identify(const std::vector<std::string>& ports, std::vector<FleetMember>& members,
                std::deque<Watched>& identifications);
  bool ReadIdentification(Watched& child, FleetMember& member, bool& told);
  void Start(const FleetEntry& entry, Watched& identification);
  bool TakeOver(Instrument& instrument, Watched& identification,
                const std::filesystem::path& folder);
  void Dismiss(Watched& identification);
  // The update of the port: in folder, or (null) told its folder once identified.
  std::vector<std::string> UpdateArguments(const std::string& port,
                                           const std::filesystem::path* folder) const;
  void Pass();
  void Follow(Instrument& instrument);
  // A line of the instrument's activity log in its folder.
  void LogLine(Instrument& instrument, const std::string& line);
  void Take(Instrument& instrument, const RunEvent& event);
  void TakeLines(Instrument& instrument, const std::vector<std::string>& out,
                 const std::vector<std::string>& err);
  void Ended(Instrument& instrument);
  void Ask();
  void Answer(bool ok);
  void Stop(int signal);
  bool AllEnded() const;
  int Finish();

  const FleetOptions& options_;
  FleetSystem& system_;
  files::Disk& disk_;
  FleetConsole console_;
  std::deque<FleetRow> rows_;
  FleetScreen screen_;
  std::deque<Instrument> instruments_;
  // Identifications whose instrument is not updated, told so and watched until they end.
  std::deque<Watched> dismissed_;
  // Questions nobody preset wait their turn: one at a time on the terminal.
  struct Question {
    Instrument* instrument;
    std::string text;
  };
  std::deque<Question> questions_;
  Instrument* asking_ = nullptr;
  std::deque<std::string> typed_;
  bool inputEnded_ = false;
  int stoppedBy_ = 0;
  std::uint32_t startedAt_;
};

}  // namespace zephor::app

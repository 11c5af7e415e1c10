// Make Update as `zephor update --yes` runs it, on a model disk and the in-process instrument on
// virtual time, with a power cut at a chosen moment: before a file operation, before an
// instrument command or an image header, just after a header's ACK, or inside a transfer. At the
// cut the model disk fails that operation and every later one, and the host dies with it: it
// sends and hears nothing more and its waits end at once, while the instrument lives on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "in_process_run.h"
#include "model_disk.h"

namespace zephor::update::crash {

using Bytes = std::vector<std::uint8_t>;

// How long the instrument is left alone after a cut: longer than its 60 s wait inside a stopped
// transfer.
inline constexpr std::uint32_t kLeftAloneMs = 120000;
// While it is alone the instrument is looked at this often.
inline constexpr std::uint32_t kAlonePollMs = 100;
// After a header's ACK: long enough for the ACK to reach the host, too short for a block.
inline constexpr std::uint32_t kAckHeardMs = 2;

struct Grade {
  const char* name;
  const char* main;
  std::uint32_t seed;  // of its generated surveys
  bool writtenBack;    // its memory ends holding the conversion of its surveys, else empty
};

// Where a run is cut: before the nth file operation of the run, or at its nth moment on the line.
struct CutPoint {
  enum class Kind { kFileOperation, kMoment } kind = Kind::kFileOperation;
  std::uint64_t number = 0;
  std::string what;  // "before sync folder ." or "before command \"erase 40718293\""
  files::OperationKind operation = files::OperationKind::kCreate;  // of a file operation
};

// The answers of `zephor update --yes` without --erase-without-backup: OK to every question but
// "Erase anyway?", and READY awaited for ten minutes.
class YesPanel final : public device::OperatorPanel {
 public:
  using Moment = std::function<void(const std::string&)>;
  explicit YesPanel(Moment inside = {}) : inside_(std::move(inside)) {}
  void AppendLog(std::string_view text) override { log += text; }
  void ClearLog() override { log += "[log cleared]\n"; }
  void SetProgress(int) override {}
  void SetProgressRange(int, int) override {}
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override;
  void ExitProgram(int code) override { exitCodes.push_back(code); }
  void ReportProgress(const device::ProgressEvent& event) override;
  bool Told(const std::string& words) const;

  std::string log;
  std::vector<std::string> messages;
  std::vector<int> exitCodes;

 private:
  Moment inside_;
  bool stepSeen_ = false;
  int keepWaiting_ = 0;
};

// One instrument and the runs against it.
class Bench {
 public:
  Bench(const Grade& grade, const Bytes& surveys);
  // The disk every chain starts from: the five images, nothing else.
  static files::DiskImage ImagesOnly();

  // One run on disk, cut at cut when given; a recording run notes every file operation and
  // moment it meets.
  UpdateOutcome Run(files::ModelDisk& disk, const CutPoint* cut = nullptr);
  // The instrument alone on its clock, the host dead.
  void LeaveAlone();
  // The instrument switched off and on: what it stores stays, the rest starts afresh.
  void PowerCycle();

  const sim::InstrumentState& instrument() const { return instrument_->model().state(); }
  std::size_t commands() const { return instrument_->model().commands().size(); }
  std::uint32_t nowMs() const { return instrument_->timing().now(); }
  int runs() const { return runs_; }
  int powerCycles() const { return powerCycles_; }
  bool recording = false;
  // Shown each file operation before it happens.
  std::function<void(const files::Operation&)> watch;
  YesPanel lastPanel;         // of the last run
  std::vector<CutPoint> met;  // what the recording run met, in order
  std::string simLog;
  std::string runLogs;  // every run's outcome, log and boxes

 private:
  void Wire(sim::InstrumentState state);
  void Moment(CutPoint::Kind kind, std::uint64_t number, const std::string& what);
  void Die();

  std::unique_ptr<sim::InProcessInstrument> instrument_;
  std::unique_ptr<testing::DyingHost> host_;
  files::ModelDisk* disk_ = nullptr;
  const CutPoint* cut_ = nullptr;
  std::uint64_t moments_ = 0;
  std::optional<std::uint32_t> killAt_;
  std::string command_;  // the command the host is typing
  std::uint32_t pollEveryMs_ = 1;
  std::uint32_t elapsedMs_ = 0;  // before the last power cycle, for the wall clock
  int runs_ = 0;
  int powerCycles_ = 0;
};

}  // namespace zephor::update::crash

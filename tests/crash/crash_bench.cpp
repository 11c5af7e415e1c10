// The bench: the instrument's moments are found on the line (a command's last byte, a header's
// first byte, the loader's word that it took a header) and in the host's progress (a transfer's
// first settled block).
#include "crash_bench.h"

#include <cctype>
#include <utility>

#include "image_set.h"
#include "update/database_restore.h"
#include "update/measurement_backup.h"

namespace zephor::update::crash {
namespace {

// "Keep waiting?" is answered OK for the default ten minutes of --ready-minutes, then Cancel.
constexpr int kKeepWaitingOks = 9;
constexpr const char* kImageStamps[] = {"1.3", "1.3", "1.40", "7"};

}  // namespace

bool YesPanel::ShowMessage(std::string_view text, device::MessageButtons) {
  messages.emplace_back(text);
  log += "[box] " + std::string(text) + "\n";
  if (text == kEraseAnywayQuestion) return false;
  if (text == kKeepWaitingQuestion) return ++keepWaiting_ <= kKeepWaitingOks;
  return true;
}

void YesPanel::ReportProgress(const device::ProgressEvent& event) {
  if (event.kind == device::ProgressKind::kTransferStart) stepSeen_ = false;
  if (event.kind != device::ProgressKind::kTransferStep || event.bytes <= 0 || stepSeen_) return;
  stepSeen_ = true;
  if (inside_) inside_("inside the transfer of " + event.subject);
}

bool YesPanel::Told(const std::string& words) const { return log.find(words) != std::string::npos; }

Bench::Bench(const Grade& grade, const Bytes& surveys) {
  sim::InstrumentState state = testing::Zephor(false, surveys);
  state.grade = grade.name;
  state.mainVersion = grade.main;
  // Older boot and update programs than the images': the full sequence is loaded.
  state.bootVersion = state.updateVersion = "1.2";
  Wire(std::move(state));
}

files::DiskImage Bench::ImagesOnly() {
  const script::ImageStamps stamps{kImageStamps[0], kImageStamps[1], kImageStamps[2],
                                   kImageStamps[3]};
  const script::ImageSpec* specs[] = {&script::kNewBootSpec, &script::kBootSpec,
                                      &script::kUpdateSpec, &script::kSpecialMainSpec,
                                      &script::kMainSpec};
  const std::string versions[] = {
      {}, stamps.boot, stamps.update, script::kSpecialMainStamp, stamps.main};
  files::DiskImage image;
  for (std::size_t i = 0; i < std::size(specs); ++i) {
    const std::string build = specs[i] == &script::kMainSpec ? stamps.build : std::string();
    image[specs[i]->name] = {files::EntryKind::kFile,
                             script::ImageBytes(*specs[i], versions[i], build)};
  }
  return image;
}

void Bench::Wire(sim::InstrumentState state) {
  instrument_ = std::make_unique<sim::InProcessInstrument>(std::move(state), sim::Fault::kNone);
  host_ = std::make_unique<testing::DyingHost>(instrument_->timing());
  sim::InProcessInstrument& sim = *instrument_;
  sim.model().SetCommandLog([this, &sim](const std::string& text) {
    simLog += text + "\n";
    if (text.starts_with("header accepted") && !host_->dead) {
      Moment(CutPoint::Kind::kMoment, ++moments_, "just after the ACK of a header (" + text + ")");
    }
  });
  sim.timing().Attach(&sim.line(), [this, &sim](std::uint32_t now, serial::MemoryLine& line) {
    if (killAt_ && now >= *killAt_) {
      killAt_.reset();
      Die();
    }
    if (now % pollEveryMs_ != 0) return;
    const sim::InstrumentModel& model = sim.model();
    while (!line.toPeer.empty()) {
      const std::uint8_t byte = line.toPeer.front();
      line.toPeer.pop_front();
      if (host_->dead) continue;
      const bool mainTalks = !model.loader().busy() && !model.transferActive();
      if (!mainTalks) command_.clear();
      if (mainTalks && byte == '\n') {
        Moment(CutPoint::Kind::kMoment, ++moments_, "before command \"" + command_ + "\"");
        command_.clear();
      } else if (mainTalks && std::isprint(byte) != 0) {
        command_.push_back(static_cast<char>(byte));
      } else if (!mainTalks &&
                 model.loader().stage() == sim::LoaderModel::Stage::kWaitingForHeader) {
        Moment(
            CutPoint::Kind::kMoment, ++moments_,
            std::string("before an image header (loader letter ") + model.loader().letter() + ")");
      }
      if (!host_->dead) sim.model().Receive(byte, now);
    }
    // A dead host hears nothing: what the instrument says is lost on the line.
    const Bytes said = sim.model().Transmit(now);
    if (!host_->dead) line.PeerSend(said);
  });
}

void Bench::Moment(CutPoint::Kind kind, std::uint64_t number, const std::string& what) {
  if (recording) met.push_back({kind, number, what});
  if (cut_ == nullptr || cut_->kind != kind || cut_->number != number) return;
  // The ACK is let through to the host; the power goes just after.
  if (what.starts_with("just after the ACK")) {
    killAt_ = instrument_->timing().now() + kAckHeardMs;
    return;
  }
  Die();
}

void Bench::Die() {
  host_->dead = true;
  if (disk_ != nullptr) disk_->CutPower();
}

UpdateOutcome Bench::Run(files::ModelDisk& disk, const CutPoint* cut) {
  ++runs_;
  disk_ = &disk;
  cut_ = cut;
  moments_ = 0;
  killAt_.reset();
  command_.clear();
  host_->dead = false;
  sim::InProcessInstrument& sim = *instrument_;
  disk.SetWallClock([this, &sim] {
    return files::ModelDisk::kDefaultWallClock + (elapsedMs_ + sim.timing().now()) / 1000;
  });
  disk.SetHook([this](const files::Operation& operation) {
    const std::string what = std::string("before ") + files::OperationName(operation.kind) + " " +
                             operation.path + (operation.to.empty() ? "" : " to " + operation.to);
    if (watch) watch(operation);
    if (recording) {
      met.push_back({CutPoint::Kind::kFileOperation, operation.number, what, operation.kind});
    }
    if (cut_ == nullptr || cut_->kind != CutPoint::Kind::kFileOperation ||
        cut_->number != operation.number) {
      return files::HookAnswer::kGoOn;
    }
    host_->dead = true;
    return files::HookAnswer::kCutPower;
  });
  YesPanel panel(
      [this](const std::string& what) { Moment(CutPoint::Kind::kMoment, ++moments_, what); });
  // Each run is a new program: a fresh station on the same port and the disk of this run.
  device::Station station;
  station.ports = {sim.environment().factory, host_.get()};
  station.panel = &panel;
  station.disk = &disk;
  const UpdateOutcome outcome = OnMakeUpdate(station, ".");
  disk.SetHook({});
  disk_ = nullptr;
  cut_ = nullptr;
  runLogs += "--- run " + std::to_string(runs_) +
             (cut != nullptr ? " (cut " + cut->what + ")" : "") + ": outcome " +
             std::to_string(static_cast<int>(outcome)) + "\n" + panel.log;
  lastPanel = std::move(panel);
  return outcome;
}

void Bench::LeaveAlone() {
  host_->dead = true;
  // Nobody listens: the instrument's own waits are looked at less often, which is what costs.
  pollEveryMs_ = kAlonePollMs;
  instrument_->timing().Advance(kLeftAloneMs);
  pollEveryMs_ = 1;
}

void Bench::PowerCycle() {
  ++powerCycles_;
  elapsedMs_ += instrument_->timing().now();
  sim::InstrumentState state = instrument_->model().state();
  Wire(std::move(state));
  runLogs += "--- the instrument is switched off and on\n";
}

}  // namespace zephor::update::crash

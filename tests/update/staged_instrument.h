// An instrument whose port openings each play one stage: the command conversation of the
// simulated ZEPHOR, a loader taking one image, or the READY of a restarted instrument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scripted_loader.h"
#include "serial/memory_line.h"
#include "sim/instrument_model.h"

namespace zephor::update::script {

// Tells the instrument on one port index each time the host opens that port.
class OpeningFactory final : public serial::PortFactory {
 public:
  OpeningFactory(serial::PortFactory& inner, int portIndex, std::function<void()> opened)
      : inner_(inner), portIndex_(portIndex), opened_(std::move(opened)) {}
  int OpenDevice(serial::SerialPort& port) override {
    const int status = inner_.OpenDevice(port);
    if (status == serial::kOk && port.portIndex == portIndex_ && opened_) opened_();
    return status;
  }

 private:
  serial::PortFactory& inner_;
  int portIndex_;
  std::function<void()> opened_;
};

enum class StageKind { kConversation, kLoader, kReady };

struct Stage {
  StageKind kind = StageKind::kConversation;
  Loader loader;  // kLoader only
};

inline Stage Conversation() { return {StageKind::kConversation, {}}; }
inline Stage Loading(Loader loader) { return {StageKind::kLoader, std::move(loader)}; }
inline Stage Ready() { return {StageKind::kReady, {}}; }

class StagedInstrument {
 public:
  StagedInstrument(sim::InstrumentState state, std::vector<Stage> stages)
      : model_(std::move(state), sim::Fault::kNone), stages_(std::move(stages)) {}

  // Called when the host opens the instrument's port: the next stage begins.
  void Opened() {
    ++openings_;
    current_ = openings_ <= stages_.size() ? openings_ - 1 : kNoStage;
    readyPending_ = current_ != kNoStage && stages_[current_].kind == StageKind::kReady;
  }

  void Step(std::uint32_t now, serial::MemoryLine& line) {
    if (current_ == kNoStage || !line.deviceHeld) {
      line.toPeer.clear();  // an instrument past its script, or nobody listening
      return;
    }
    if (readyPending_) {
      const std::string ready = "READY";
      line.PeerSend(std::vector<std::uint8_t>(ready.begin(), ready.end()));
      readyPending_ = false;
    }
    Stage& stage = stages_[current_];
    if (stage.kind == StageKind::kLoader) {
      stage.loader.Step(now, line);
      return;
    }
    while (!line.toPeer.empty()) {
      model_.Receive(line.toPeer.front(), now);
      line.toPeer.pop_front();
    }
    line.PeerSend(model_.Transmit(now));
  }

  // How many times the port was opened.
  std::size_t openings() const { return openings_; }
  const std::vector<Stage>& stages() const { return stages_; }
  const sim::InstrumentModel& model() const { return model_; }

 private:
  static constexpr std::size_t kNoStage = static_cast<std::size_t>(-1);

  sim::InstrumentModel model_;
  std::vector<Stage> stages_;
  std::size_t openings_ = 0;
  std::size_t current_ = kNoStage;
  bool readyPending_ = false;
};

}  // namespace zephor::update::script

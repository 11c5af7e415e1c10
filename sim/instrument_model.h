// A simulated ZEPHOR: the instrument's side of the command conversation, its loader and its
// transfers, on a millisecond clock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/fault_set.h"
#include "sim/instrument_state.h"
#include "sim/line_faults.h"
#include "sim/loader_model.h"
#include "sim/memory_transfer.h"

namespace zephor::sim {

class InstrumentModel {
 public:
  using CommandLog = std::function<void(const std::string&)>;
  using StateListener = std::function<void(const InstrumentState&)>;

  InstrumentModel(InstrumentState state, const FaultSet& faults, FirmwareTiming timing = {});
  InstrumentModel(const InstrumentModel&) = delete;
  InstrumentModel& operator=(const InstrumentModel&) = delete;

  // One byte from the host at time nowMs.
  void Receive(std::uint8_t byte, std::uint32_t nowMs);
  // Bytes the instrument puts on the line at nowMs; paced output gives about one a millisecond.
  std::vector<std::uint8_t> Transmit(std::uint32_t nowMs);

  // Paces output as at 9600 baud (10 bits a byte, about 1.04 ms each).
  void SetPaced(bool paced) { paced_ = paced; }
  // Every command and every step of a transfer or a load, one line each.
  void SetCommandLog(CommandLog log) { log_ = std::move(log); }
  // Runs after every change of versions or memory.
  void SetStateListener(StateListener listener) { listener_ = std::move(listener); }

  // The instrument back at work between two runs: its memory now holds these surveys.
  void RecordSurveys(std::vector<std::uint8_t> memory);

  // The report the instrument prints for "system".
  std::string SystemReport() const;

  const InstrumentState& state() const { return state_; }
  bool unlocked() const { return unlocked_; }
  const std::vector<std::string>& commands() const { return commands_; }
  const LoaderModel& loader() const { return loader_; }
  bool transferActive() const { return loader_.transferring() || memory_.active(); }
  // The line was pulled out during a download (the unplug fault).
  bool unplugged() const { return memory_.unplugged(); }
  // Bytes the line faults have damaged, dropped or doubled so far.
  long damagedBytes() const { return lineFaults_.touched(); }

 private:
  void Execute(const std::string& command, std::uint32_t nowMs);
  void Send(const std::string& text);
  void Emit(const Outbox& bytes, bool transfer);
  void TakeUpload();
  void WatchBanner(std::uint8_t byte, std::uint32_t nowMs);
  void Log(const std::string& text) const {
    if (log_) log_(text);
  }
  void Changed() {
    if (listener_) listener_(state_);
  }

  InstrumentState state_;
  FaultSet faults_;
  LineFaults lineFaults_;
  LoaderModel loader_;
  MemoryTransfer memory_;
  bool unlocked_ = false;
  bool paced_ = false;
  bool poweredUp_ = false;
  int erasesMisread_ = 0;
  std::size_t bannerMatched_ = 0;
  std::string line_;
  std::deque<std::uint8_t> output_;
  std::vector<std::string> commands_;
  CommandLog log_;
  StateListener listener_;
  double pacingCredit_ = 0;
  std::uint32_t lastTransmitMs_ = 0;
};

}  // namespace zephor::sim

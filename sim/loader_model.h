// The instrument's loader: asks for a program with one letter, checks the image header, takes the
// image by XMODEM and moves along the firmware path.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sim/fault_set.h"
#include "sim/firmware_steps.h"
#include "sim/instrument_state.h"
#include "sim/xmodem_block_receiver.h"

namespace zephor::sim {

struct FirmwareTiming {
  std::uint32_t readyDelayMs = 2000;  // from a new main program's start to its "READY"
  std::uint32_t conversionMs = 3000;  // the special main's conversion of the memory
  std::uint32_t mainStartMs = 0;      // from a loaded update program to its main answering
};

class LoaderModel {
 public:
  enum class Stage {
    kMainRunning,       // the loader is idle; the main program talks
    kWaitingForHeader,  // repeating the letter
    kReadingHeader,
    kReceivingImage,
    kConverting,    // the special main runs; silent until "end dBase convertion"
    kRestarting,    // a new main starts; silent until "READY"
    kStartingMain,  // the main behind the loader starts again; silent until it answers
  };
  using Changed = std::function<void()>;

  LoaderModel(InstrumentState& state, const FaultSet& faults, FirmwareTiming timing,
              TransferLog log, Changed changed);

  // At power-up with a program missing the letter goes out at once.
  void PowerUp(std::uint32_t nowMs);
  // The update banner: the main program restarts into the loader, which asks with "S".
  void StartMainLoad(std::uint32_t nowMs);

  // True while the loader, not the main program, owns the line.
  bool busy() const { return stage_ != Stage::kMainRunning; }
  bool transferring() const { return stage_ == Stage::kReceivingImage; }
  Stage stage() const { return stage_; }
  char letter() const { return letter_; }
  void Receive(std::uint8_t byte, std::uint32_t nowMs, Outbox& out);
  void Tick(std::uint32_t nowMs, Outbox& out);

 private:
  void Ask(char letter, std::uint32_t nowMs, bool atOnce);
  void JudgeHeader(std::uint32_t nowMs, Outbox& out);
  void JudgeImage(std::uint32_t nowMs);
  void Adopt(ImageKind kind, const std::vector<std::uint8_t>& image);
  void Follow(AfterImage next, std::uint32_t nowMs);
  void RunMain();
  void Log(const std::string& text) const {
    if (log_) log_(text);
  }

  InstrumentState& state_;
  FaultSet faults_;
  FirmwareTiming timing_;
  TransferLog log_;
  Changed changed_;
  Stage stage_ = Stage::kMainRunning;
  char letter_ = 0;
  std::uint32_t lastLetterMs_ = 0;
  bool letterDue_ = false;
  std::vector<std::uint8_t> header_;
  std::uint32_t lastByteMs_ = 0;
  ImageHeaderFields fields_;
  std::unique_ptr<XmodemBlockReceiver> receiver_;
  std::uint32_t dueMs_ = 0;  // end of the conversion or the restart
  int headersRead_ = 0;
};

}  // namespace zephor::sim

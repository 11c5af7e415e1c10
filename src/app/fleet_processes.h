// The fleet on the system: its runs are this program started again as child processes, each told
// to stop when the fleet ends however it ends; its answers are typed on its standard input; its
// signals are those a SignalStop caught.
#pragma once

#include <string>

#include "app/fleet_run.h"
#include "process/own_input.h"

namespace zephor::app {

class ProcessFleet final : public FleetSystem {
 public:
  // program is this program, started again for each port and instrument.
  explicit ProcessFleet(std::string program) : program_(std::move(program)) {}

  std::unique_ptr<FleetProgram> Start(const std::vector<std::string>& args,
                                      std::string& why) override;
  void Wait(const std::vector<FleetProgram*>& programs, bool answerAwaited,
            std::uint32_t ms) override;
  std::uint32_t NowMs() override;
  int Caught() override;
  void ReadAnswers(std::vector<std::string>& lines, bool& atEnd) override;
  std::optional<PortHolder> HolderOf(const std::string& port) override;

  // The technician's answers come from a terminal that shows them as they are typed.
  bool InputEchoed() const { return input_.echoed(); }

 private:
  std::string program_;
  process::OwnInput input_;
};

}  // namespace zephor::app

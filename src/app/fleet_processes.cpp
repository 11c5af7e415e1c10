// Each run's output and error are pipes to the fleet, its input a pipe for the answers.
#include "app/fleet_processes.h"

#include <chrono>

#include "app/port_choice.h"
#include "app/signal_stop.h"
#include "process/child_process.h"
#include "process/device_holder.h"
#include "serial/port_discovery.h"

namespace zephor::app {
namespace {

class ChildRun final : public FleetProgram {
 public:
  void Read(std::vector<std::string>& out, std::vector<std::string>& err) override {
    child.Read(out, err);
  }
  bool Ended(int& code) override { return child.Ended(code); }
  void WriteLine(const std::string& line) override { child.WriteLine(line); }
  void CloseInput() override { child.CloseInput(); }
  void Signal(int signal) override { child.Signal(signal); }

  process::ChildProcess child;
};

}  // namespace

std::unique_ptr<FleetProgram> ProcessFleet::Start(const std::vector<std::string>& args,
                                                  std::string& why) {
  auto run = std::make_unique<ChildRun>();
  process::ChildSetup setup;
  setup.input = process::Stream::Pipe();
  setup.output = process::Stream::Pipe();
  setup.error = process::Stream::Pipe();
  // A fleet that is killed leaves no run unwatched: each stops through its clean-up.
  setup.stopWithParent = true;
  if (!run->child.Start(program_, args, setup, why)) return nullptr;
  return run;
}

void ProcessFleet::Wait(const std::vector<FleetProgram*>& programs, bool answerAwaited,
                        std::uint32_t ms) {
  std::vector<process::ChildProcess*> children;
  // Every program here was started by Start above.
  for (FleetProgram* program : programs) {
    children.push_back(&static_cast<ChildRun*>(program)->child);
  }
  process::WaitForAny(children, answerAwaited ? &input_ : nullptr, static_cast<int>(ms));
}

std::uint32_t ProcessFleet::NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int ProcessFleet::Caught() { return SignalStop::Caught(); }

void ProcessFleet::ReadAnswers(std::vector<std::string>& lines, bool& atEnd) {
  input_.Read(lines);
  atEnd = input_.atEnd();
}

std::optional<PortHolder> ProcessFleet::HolderOf(const std::string& port) {
  const std::optional<process::DeviceHolder> holder =
      process::HolderOfDevice(DeviceOfPort(port, serial::FindPorts()));
  if (!holder) return std::nullopt;
  return PortHolder{holder->processId, holder->program};
}

}  // namespace zephor::app

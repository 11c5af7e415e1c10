// The database chain under test: a scratch folder, a panel that records what the operator
// sees with its virtual time, and either a scripted peer or the simulated instrument.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/operator_panel.h"
#include "serial/memory_line.h"
#include "sim/in_process.h"
#include "temp_dir.h"
#include "tests/device/scripted_instrument.h"

namespace zephor::database::testing {

using Bytes = std::vector<std::uint8_t>;

struct PanelEvent {
  std::uint32_t timeMs = 0;
  char kind = 0;  // 'L' log, 'M' message box, 'P' progress
  std::string text;
};

class ChainPanel final : public device::OperatorPanel {
 public:
  void AppendLog(std::string_view text) override {
    log += text;
    Record('L', std::string(text));
  }
  void ClearLog() override { log.clear(); }
  void SetProgress(int position) override {
    progress.push_back(position);
    Record('P', std::to_string(position));
  }
  void SetProgressRange(int, int) override {}
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override {
    messages.emplace_back(text);
    buttonKinds.push_back(buttons);
    Record('M', std::string(text));
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ExitProgram(int code) override { exitCodes.push_back(code); }

  // The time of the first event of a kind whose text holds part; nullopt when none.
  std::optional<std::uint32_t> TimeOf(char kind, const std::string& part) const {
    for (const PanelEvent& e : events) {
      if (e.kind == kind && e.text.find(part) != std::string::npos) return e.timeMs;
    }
    return std::nullopt;
  }

  const serial::VirtualTiming* timing = nullptr;
  std::string log;
  std::vector<int> progress;
  std::vector<std::string> messages;
  std::vector<device::MessageButtons> buttonKinds;
  std::deque<bool> answers;  // answers to message boxes in turn; OK once they run out
  std::vector<int> exitCodes;
  std::vector<PanelEvent> events;

 private:
  void Record(char kind, std::string text) {
    events.push_back({timing != nullptr ? timing->now() : 0, kind, std::move(text)});
  }
};

class ChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station.panel = &panel;
    station.portIndex = 0;
  }
  void TearDown() override { EXPECT_EQ(serial::OpenPortCount(), 0); }

  // A peer that answers from a table.
  void UseScript() {
    factory.AddLine(0, &line);
    timing.Attach(&line, script.AsPeer());
    station.ports = {&factory, &timing};
    panel.timing = &timing;
  }

  // The simulated instrument; readyAtMs sends "READY" once at that time, as after a restart.
  void UseInstrument(sim::InstrumentState state, const sim::FaultSet& faults = {},
                     std::optional<std::uint32_t> readyAtMs = std::nullopt) {
    instrument = std::make_unique<sim::InProcessInstrument>(std::move(state), faults);
    readyAt = readyAtMs;
    sim::InProcessInstrument& sim = *instrument;
    sim.model().SetCommandLog([this, &sim](const std::string& text) {
      simLog.push_back({sim.timing().now(), 'C', text});
    });
    sim.timing().Attach(&sim.line(), [this, &sim](std::uint32_t now, serial::MemoryLine& l) {
      while (!l.toPeer.empty()) {
        sim.model().Receive(l.toPeer.front(), now);
        l.toPeer.pop_front();
      }
      l.PeerSend(sim.model().Transmit(now));
      if (readyAt && now >= *readyAt) {
        const std::string ready = "READY\r\n";
        l.PeerSend(Bytes(ready.begin(), ready.end()));
        readyAt.reset();
      }
    });
    station.ports = sim.environment();
    panel.timing = &sim.timing();
  }

  // The commands the instrument executed, in order.
  std::vector<std::string> Commands() const { return instrument->model().commands(); }
  // The virtual time the instrument executed a command; nullopt when it never did.
  std::optional<std::uint32_t> CommandTime(const std::string& command) const {
    const std::string entry = "command \"" + command + "\"";
    for (const PanelEvent& e : simLog) {
      if (e.text == entry) return e.timeMs;
    }
    return std::nullopt;
  }

  Bytes ReadOut(const char* name) const {
    std::ifstream file(directory / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  void WriteIn(const char* name, const Bytes& bytes) const {
    std::ofstream file(directory / name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  bool Exists(const char* name) const { return std::filesystem::exists(directory / name); }

  support::TempDir scratch;
  const std::filesystem::path directory = scratch.path();
  ChainPanel panel;
  device::Station station;

  serial::MemoryLine line;
  serial::MemoryPortFactory factory;
  serial::VirtualTiming timing;
  device::ScriptedInstrument script;

  std::unique_ptr<sim::InProcessInstrument> instrument;
  std::optional<std::uint32_t> readyAt;
  std::vector<PanelEvent> simLog;
};

}  // namespace zephor::database::testing

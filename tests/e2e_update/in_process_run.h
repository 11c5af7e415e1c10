// Make Update in process against the simulated instrument on virtual time, in a scratch working
// folder: the instrument, the folder, a file outside it watched for any opening, and a host that
// can die at a chosen moment as a killed program does.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "database/conversion.h"
#include "image_set.h"
#include "recording_panel.h"
#include "sim/database_generator.h"
#include "sim/in_process.h"
#include "temp_dir.h"
#include "update/open_run_wait.h"
#include "update/run_journal.h"
#include "update/update_planner.h"

namespace zephor::update::testing {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kEquipment = 77;
constexpr const char* kJournalName = "ZEPHORrestore-000000077.json";
constexpr const char* kDatedName = "ZEPHORdata-000000077-20261207T120000Z.bin";
constexpr const char* kEraseCommand = "erase 40718293";

inline Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The record of a run that loaded main 1.40 into a "QH" instrument and stopped in its restore.
inline RunJournal OpenRestore(RestoreStage stage, std::int32_t equipment = kEquipment) {
  RunJournal journal;
  journal.info.equipmentNumber = equipment;
  journal.info.grade = "QH";
  journal.info.bootVersion = 1.3f;
  journal.info.updateVersion = 1.3f;
  journal.info.mainVersion = 1.31f;
  journal.info.build = 5;
  journal.images = {"main.bin"};
  journal.loaded = {"main.bin"};
  journal.restoreFollows = true;
  journal.restoreStage = stage;
  return journal;
}

// A host that dies: from the moment it dies nothing it writes reaches the instrument, nothing the
// instrument says reaches it, and its waits end at once, with no clean-up on the line, as after
// SIGKILL; the instrument lives on.
class DyingHost final : public serial::Timing {
 public:
  explicit DyingHost(serial::Timing& inner) : inner_(inner) {}
  std::uint32_t TickMs() override { return inner_.TickMs(); }
  void IdleFor(serial::SerialPort* port, std::uint32_t maxMs) override {
    inner_.IdleFor(port, maxMs);
  }
  void SleepMs(std::uint32_t ms) override { inner_.SleepMs(ms); }
  bool StopRequested() const override { return dead || inner_.StopRequested(); }
  bool dead = false;

 private:
  serial::Timing& inner_;
};

class InProcessRun {
 public:
  InProcessRun() {
    outside = dir.path().parent_path() / (dir.path().filename().string() + "_outside");
    std::filesystem::remove_all(outside);
    std::filesystem::create_directories(outside);
  }
  ~InProcessRun() {
    std::error_code ignored;
    std::filesystem::remove_all(outside, ignored);
  }
  InProcessRun(const InProcessRun&) = delete;
  InProcessRun& operator=(const InProcessRun&) = delete;

  std::filesystem::path In(const std::string& name) const { return dir.path() / name; }

  // The open restore of this instrument, its dated backup beside it.
  void LeaveOpenRestore(RestoreStage stage) {
    journal = OpenRestore(stage);
    WriteAll(In(kDatedName), surveys);
    ASSERT_TRUE(ReadFileFacts(files::SystemDisk(), dir.path(), kDatedName, journal.backup));
    ASSERT_TRUE(WriteJournal(files::SystemDisk(), In(kJournalName), journal));
  }

  // A file outside the folder a link or a name may lead to, watched for any opening.
  std::filesystem::path OutsideFile(const std::string& name, const Bytes& bytes) {
    const std::filesystem::path path = outside / name;
    WriteAll(path, bytes);
    if (watch < 0) watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(watch, path.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY);
    watched.push_back({path, bytes});
    return path;
  }
  bool OutsideOpened() {
    if (watch < 0) return false;
    char events[4096];
    const ssize_t got = read(watch, events, sizeof events);
    close(watch);
    watch = -1;
    return got > 0;
  }

  // The instrument, with the five images beside the folder's other files.
  void Start(sim::InstrumentState state, const sim::FaultSet& faults = sim::Fault::kNone,
             const script::ImageStamps& images = {"1.3", "1.3", "1.40", "7"},
             const sim::FirmwareTiming& timing = {}) {
    script::WriteImageSet(dir, images);
    instrument = std::make_unique<sim::InProcessInstrument>(std::move(state), faults, 0, timing);
    sim::InProcessInstrument& sim = *instrument;
    host = std::make_unique<DyingHost>(sim.timing());
    sim.model().SetCommandLog([this, &sim](const std::string& text) {
      simLog += text + "\n";
      if (stopAtErase && text == std::string("command \"") + kEraseCommand + "\"") {
        sim.timing().RequestStop();
      }
      if (!killOn.empty() && text.find(killOn) != std::string::npos && !killAt) {
        killAt = sim.timing().now() + killDelayMs;
        // At once: not even the answer the instrument is about to give reaches the host.
        if (killDelayMs == 0) host->dead = true;
      }
    });
    sim.timing().Attach(&sim.line(), [this, &sim](std::uint32_t now, serial::MemoryLine& line) {
      if (killAt && now >= *killAt) host->dead = true;
      while (!line.toPeer.empty()) {
        if (!host->dead) sim.model().Receive(line.toPeer.front(), now);
        line.toPeer.pop_front();
      }
      // A dead host reads nothing either: what the instrument says is lost on the line.
      const Bytes said = sim.model().Transmit(now);
      if (!host->dead) line.PeerSend(said);
    });
    station.ports = {sim.environment().factory, host.get()};
    station.panel = &panel;
  }

  UpdateOutcome RunMakeUpdate() {
    outcome = OnMakeUpdate(station, dir.path());
    return outcome;
  }

  // The next run, at once on the same instrument and folder.
  UpdateOutcome RunAgain() {
    killOn.clear();
    killAt.reset();
    host->dead = false;
    panel = RecordingPanel();
    return RunMakeUpdate();
  }

  std::size_t Heard(const std::string& command) const {
    const auto& commands = instrument->model().commands();
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), command));
  }
  bool Told(const std::string& text) const {
    return panel.log.find(text) != std::string::npos ||
           std::any_of(panel.messages.begin(), panel.messages.end(),
                       [&](const std::string& m) { return m.find(text) != std::string::npos; });
  }
  Bytes ConvertedSurveys() const {
    const std::filesystem::path apart = outside / "apart";
    std::filesystem::create_directories(apart);
    RecordingPanel quiet;
    device::Station aside;
    aside.panel = &quiet;
    EXPECT_TRUE(database::ConvertDatabase(aside, surveys, apart));
    return ReadAll(apart / "_Conversion.txt");
  }
  // True when a file of the folder begins with the surveys (a download is padded to whole blocks).
  bool SurveysKept() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      // Links are not followed: the test must not open what they lead to either.
      if (!std::filesystem::is_regular_file(entry.symlink_status())) continue;
      const Bytes held = ReadAll(entry.path());
      if (held.size() >= surveys.size() &&
          std::equal(surveys.begin(), surveys.end(), held.begin())) {
        return true;
      }
    }
    return false;
  }

  TempDir dir;
  std::filesystem::path outside;
  Bytes surveys = sim::GenerateDatabase(5, 3000);
  RunJournal journal;
  RecordingPanel panel;
  device::Station station;
  std::unique_ptr<sim::InProcessInstrument> instrument;
  std::unique_ptr<DyingHost> host;
  UpdateOutcome outcome = UpdateOutcome::kDone;
  std::string simLog;
  bool stopAtErase = false;
  std::string killOn;  // the host dies this long after the instrument logs this
  std::uint32_t killDelayMs = 0;
  std::optional<std::uint32_t> killAt;
  int watch = -1;
  std::vector<std::pair<std::filesystem::path, Bytes>> watched;  // and what each held
};

// An instrument that already runs main 1.40 (a restore of it was left open), or one still on 1.31.
inline sim::InstrumentState Zephor(bool newMain, Bytes memory) {
  sim::InstrumentState state;
  state.equipmentNumber = kEquipment;
  state.grade = "QH";
  state.bootVersion = "1.3";
  state.updateVersion = "1.3";
  state.mainVersion = newMain ? "1.40" : "1.31";
  state.build = newMain ? 7 : 5;
  state.memory = std::move(memory);
  return state;
}

}  // namespace zephor::update::testing

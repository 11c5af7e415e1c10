// What the windows show of the work: the status line, the bar and the title from the events on a
// clock the test moves; and a whole Make Update against the simulated instrument on virtual
// time, with the taskbar button's calls.
#include "app/window_progress.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "app/updater.h"
#include "image_set.h"
#include "recording_view.h"
#include "sim/database_generator.h"
#include "sim/in_process.h"
#include "temp_dir.h"

namespace zephor::app {
namespace {

using device::ProgressKind;

device::ProgressEvent Event(ProgressKind kind, std::uint32_t tick, const char* subject,
                            long bytes = 0, long total = 0) {
  device::ProgressEvent event;
  event.kind = kind;
  event.subject = subject;
  event.sending = std::string(subject) != "ZEPHORdata.bin";
  event.bytes = bytes;
  event.totalBytes = total;
  event.tickMs = tick;
  event.result = kind == ProgressKind::kTransferEnd ? 1 : 0;
  event.limitMs = kind == ProgressKind::kWaitStart ? static_cast<std::uint32_t>(bytes) : 0;
  return event;
}

// A step of a row: an event, a pass of a wait at a tick, or a bar position an operation sets.
struct Tick {
  std::uint32_t at;
};
struct Position {
  int value;
};
using Step = std::variant<device::ProgressEvent, Tick, Position>;

struct ShownCase {
  const char* name;
  std::vector<Step> steps;
  std::string status;
  int bar;
  std::string caption;
};

void PrintTo(const ShownCase& c, std::ostream* out) { *out << c.name; }

class WindowProgressTest : public ::testing::TestWithParam<ShownCase> {};

TEST_P(WindowProgressTest, ShowsWhatRunsNow) {
  const ShownCase& c = GetParam();
  RecordingView view;
  std::uint32_t now = 0;
  WindowProgress progress(view, [&now] { return now; });
  progress.OperationStarted();
  for (const Step& step : c.steps) {
    if (const auto* event = std::get_if<device::ProgressEvent>(&step)) {
      now = event->tickMs;
      progress.Take(*event);
    } else if (const auto* tick = std::get_if<Tick>(&step)) {
      now = tick->at;
      progress.Tick();
    } else {
      progress.SetProgress(std::get<Position>(step).value);
    }
  }
  EXPECT_EQ(view.status, c.status);
  EXPECT_EQ(view.progress, c.bar);
  EXPECT_EQ(view.caption, c.caption);
}

constexpr char kCaption[] = "ZEPHOR Update Program V1.40";
const std::string kPlain = kCaption;
std::string WithRun(int percent) { return kPlain + " - " + std::to_string(percent) + " %"; }

INSTANTIATE_TEST_SUITE_P(
    Table, WindowProgressTest,
    ::testing::Values(
        ShownCase{"SendingShowsBlocksRateAndTimeLeft",
                  {Event(ProgressKind::kTransferPlanned, 0, "main.bin", 0, 2560),
                   Event(ProgressKind::kTransferStart, 1000, "main.bin", 0, 2560),
                   Event(ProgressKind::kTransferStep, 2000, "main.bin", 1280, 2560)},
                  "Sending main.bin: 10 of 20 blocks, 50 %, 1280 B/s, about 0:01 left",
                  50,
                  WithRun(50)},
        // The bar is the download's, against the length the instrument announced. The run had
        // counted the memory as long as the image, half the run; the other half is the memory's.
        ShownCase{"DownloadAgainstItsAnnouncedLength",
                  {Event(ProgressKind::kTransferPlanned, 0, "main.bin", 0, 700),
                   Event(ProgressKind::kTransferPlanned, 0, "ZEPHORdata.bin"),
                   Event(ProgressKind::kTransferStart, 0, "main.bin", 0, 700),
                   Event(ProgressKind::kTransferEnd, 1000, "main.bin", 700, 700),
                   Event(ProgressKind::kTransferStart, 2000, "ZEPHORdata.bin", 0, 19997),
                   Event(ProgressKind::kTransferStep, 15000, "ZEPHORdata.bin", 12288, 19997)},
                  "Receiving ZEPHORdata.bin: 12 288 of 19 997 bytes, 61 %, 945 B/s, about 0:08 "
                  "left",
                  61,
                  WithRun(80)},
        ShownCase{"StalledLineSaysHowLongItIsQuiet",
                  {Event(ProgressKind::kTransferStart, 0, "main.bin", 0, 2560),
                   Event(ProgressKind::kTransferStep, 1000, "main.bin", 1280, 2560), Tick{5500}},
                  "Sending main.bin: 10 of 20 blocks, 50 %. Line quiet for 4 s",
                  50,
                  kPlain},
        ShownCase{"RedrawnAtMostEveryFifthOfASecond",
                  {Event(ProgressKind::kTransferStart, 0, "main.bin", 0, 2560),
                   Event(ProgressKind::kTransferStep, 150, "main.bin", 1280, 2560)},
                  "Sending main.bin: 0 of 20 blocks, 0 %",
                  0,
                  kPlain},
        ShownCase{"WaitCountsItsSeconds",
                  {Event(ProgressKind::kWaitStart, 1000, "READY", 60000), Tick{13500}},
                  "Waiting for READY: 12 s",
                  0,
                  kPlain},
        // Between transfers the bar is empty and the line sums up the one that ended; a wait too
        // short to count leaves it so, and so does a step the operation sets.
        ShownCase{
            "SummaryBetweenTransfers",
            {Event(ProgressKind::kTransferStart, 0, "main.bin", 0, 2560),
             Event(ProgressKind::kTransferEnd, 2000, "main.bin", 2560, 2560),
             Event(ProgressKind::kWaitStart, 2100, "the loader's letter B", 1000), Position{80}},
            "main.bin: 2560 bytes in 2.0 s, 1280 B/s, 0 blocks sent again",
            0,
            kPlain},
        ShownCase{"OperationWithoutTransfersShowsItsSteps", {Position{50}}, "", 50, kPlain}),
    [](const ::testing::TestParamInfo<ShownCase>& info) { return info.param.name; });

TEST(WindowProgressRangeTest, AnOperationsRangeEndsWithIt) {
  RecordingView view;
  WindowProgress progress(view, [] { return 0u; });
  progress.OperationStarted();
  progress.SetProgressRange(1, 500);
  progress.SetProgress(100);
  EXPECT_EQ(view.progress, 20);
  progress.OperationEnded({});
  EXPECT_EQ(view.progress, 0);
  progress.OperationStarted();
  progress.SetProgress(100);
  EXPECT_EQ(view.progress, 100);
}

class RecordingTaskbar final : public TaskbarProgress {
 public:
  void ShowPercent(int percent) override { calls.push_back(std::to_string(percent)); }
  void ShowEnd(bool failed) override { calls.push_back(failed ? "error" : "normal"); }
  std::vector<std::string> calls;
};

constexpr std::uint32_t kSeed = 11;
constexpr std::size_t kDatabaseBytes = 4000;

struct RunCase {
  const char* name;
  int cancelledUploads;  // the instrument cancels the write-back this many times
  bool failed;
};

void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }

class WindowRunTest : public ::testing::TestWithParam<RunCase> {};

// Make Update of a "QH" instrument from main 1.31: main.bin, then the memory's download at
// 9600 baud, the erase and the conversion written back, or refused.
TEST_P(WindowRunTest, TitleAndTaskbarFollowTheRunAndTheBarTheTransfer) {
  const RunCase& c = GetParam();
  update::TempDir dir;
  update::script::WriteImageSet(dir, {"1.2", "1.2", "1.40", "5"});
  sim::InstrumentState state;
  state.bootVersion = "1.2";
  state.updateVersion = "1.2";
  state.mainVersion = "1.31";
  state.build = 5;
  state.grade = "QH";
  state.memory = sim::GenerateDatabase(kSeed, kDatabaseBytes);
  sim::FaultSet faults;
  faults.cancelUploads = c.cancelledUploads;
  sim::InProcessInstrument instrument(std::move(state), faults);
  instrument.model().SetPaced(true);
  const serial::PortEnvironment line = instrument.environment();
  RecordingView view;
  RecordingTaskbar taskbar;
  Updater updater(view, line.factory, line.timing, nullptr);
  updater.SetTaskbar(&taskbar);
  {
    const update::WorkingDirectory here(dir.path());
    updater.OnMakeUpdate();
  }

  ASSERT_GE(taskbar.calls.size(), 2u);  // per cents, then the end
  EXPECT_EQ(taskbar.calls.back(), c.failed ? "error" : "normal");
  // The per cents come first, never going back, and stay below 100 while the run goes.
  int before = 0;
  for (std::size_t i = 0; i + 1 < taskbar.calls.size(); ++i) {
    const int percent = std::atoi(taskbar.calls[i].c_str());
    EXPECT_GE(percent, before) << i;
    EXPECT_LT(percent, 100);
    before = percent;
  }
  // While the memory moves the bar shows what the line says, and the title the run's share.
  const std::string download = "Receiving ZEPHORdata.bin: ";
  int midway = 0;
  for (const RecordingView::Shown& shown : view.statusLines) {
    if (shown.status.rfind(download, 0) != 0) continue;
    const std::size_t sign = shown.status.find(" %");
    ASSERT_NE(sign, std::string::npos) << shown.status;
    const int percent = std::atoi(shown.status.c_str() + shown.status.rfind(' ', sign - 1));
    EXPECT_EQ(shown.bar, percent) << shown.status;
    if (percent < 1 || percent > 99) continue;
    ++midway;
    const std::string runPrefix = kPlain + " - ";
    ASSERT_EQ(shown.caption.rfind(runPrefix, 0), 0u) << shown.caption;
    const int run = std::atoi(shown.caption.c_str() + runPrefix.size());
    EXPECT_TRUE(run >= 1 && run <= 99) << shown.caption;
  }
  EXPECT_GT(midway, 0);
  // The run over, nothing stands where no transfer is.
  EXPECT_EQ(view.status, "");
  EXPECT_EQ(view.progress, 0);
  EXPECT_EQ(view.caption, kPlain);
}

INSTANTIATE_TEST_SUITE_P(Runs, WindowRunTest,
                         ::testing::Values(RunCase{"Restore", 0, false},
                                           RunCase{"WriteBackCancelled", 1, true}),
                         [](const ::testing::TestParamInfo<RunCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zephor::app

// End to end from the window: the Make Update button against the simulated instrument in this
// process on virtual time, with every message box answered OK, as a technician would; and Esc
// pressed during a load, with the question it asks answered either way or cut short by a signal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/signal_stop.h"
#include "image_set.h"
#include "sim/database_generator.h"
#include "sim/in_process.h"
#include "temp_dir.h"
#include "updater_dialog.h"

namespace zephor::qt {
namespace {

constexpr std::uint32_t kSeed = 11;
constexpr std::size_t kDatabaseBytes = 4000;
// Long enough that Esc finds the main image's transfer running.
constexpr std::size_t kLongMainBytes = 200000;
// Esc comes this long after the instrument accepted the image header: the transfer runs.
constexpr std::uint32_t kIntoTheTransferMs = 100;
// How long the instrument is watched after the window is done.
constexpr std::uint32_t kInstrumentRunsOnMs = 1000;
// The window handles its events this often while an operation waits.
constexpr std::uint32_t kPumpEveryMs = 10;
// Answer ticks a box may outlive the signal before the test gives up on it.
constexpr int kTicksBoxMayOutliveSignal = 50;

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The window's clock on virtual time: every pass of a wait moves the instrument's clock on and,
// as the program's own clock does, lets the window handle its events.
class WindowTiming final : public serial::Timing {
 public:
  explicit WindowTiming(serial::VirtualTiming& inner) : inner_(inner) {}
  std::uint32_t TickMs() override { return inner_.TickMs(); }
  void IdleFor(serial::SerialPort* port, std::uint32_t maxMs) override {
    inner_.IdleFor(port, maxMs);
    if (inner_.now() - pumpedAt_ < kPumpEveryMs) return;
    pumpedAt_ = inner_.now();
    QCoreApplication::processEvents();
    if (watch) watch();
    if (due_ && inner_.now() >= dueAt_) {
      auto chore = std::move(due_);
      due_ = nullptr;
      chore();
    }
  }
  void SleepMs(std::uint32_t ms) override { inner_.SleepMs(ms); }
  bool StopRequested() const override { return inner_.StopRequested(); }
  // Looks at the window on every pass that handled its events.
  std::function<void()> watch;
  // Runs chore at the first pass at or after virtual time atMs.
  void At(std::uint32_t atMs, std::function<void()> chore) {
    dueAt_ = atMs;
    due_ = std::move(chore);
  }

 private:
  serial::VirtualTiming& inner_;
  std::uint32_t pumpedAt_ = 0;
  std::uint32_t dueAt_ = 0;
  std::function<void()> due_;
};

// What the operator does with the question that Esc asks during a load.
enum class StopAnswer { kOk, kCancel, kSignal };

class WindowUpdateTest : public ::testing::Test {
 protected:
  // The instrument on COM1, logging what it does.
  void Start(sim::InstrumentState state) {
    instrument_ = std::make_unique<sim::InProcessInstrument>(std::move(state), sim::FaultSet{});
    instrument_->model().SetCommandLog([this](const std::string& line) {
      simLog_ += line + "\n";
      if (line.find("header accepted") != std::string::npos && onHeader_) onHeader_();
    });
  }

  // Presses Make Update and answers every box with OK; with esc, presses Esc during the load and
  // treats the stop question as it says. Signals are caught and stop the window as they do in the
  // program.
  void PressMakeUpdate(std::optional<StopAnswer> esc = {}) {
    const app::SignalStop stopSignals;
    WindowTiming timing(instrument_->timing());
    UpdaterDialog dialog(instrument_->environment().factory, &timing, &errors_);
    dialog.StopOnSignals();
    QObject::connect(&dialog, &QDialog::finished, [this](int code) { endedWith_ = code; });
    dialog.show();
    bool escArmed = esc.has_value();
    onHeader_ = [&] {
      if (!escArmed) return;
      escArmed = false;
      timing.At(instrument_->timing().now() + kIntoTheTransferMs,
                [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    };
    QTimer answer;
    answer.setInterval(20);
    bool raised = false;
    int ticksOpenAfterSignal = 0;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      const std::string text = box->text().toStdString();
      if (!esc || text != app::kStopLoadQuestion) {
        messages_.push_back(text);
        box->button(QMessageBox::Ok)->click();
      } else if (*esc != StopAnswer::kSignal) {
        messages_.push_back(text);
        box->button(*esc == StopAnswer::kOk ? QMessageBox::Ok : QMessageBox::Cancel)->click();
      } else if (!raised) {
        messages_.push_back(text);
        raised = true;
        std::raise(SIGINT);
      } else if (++ticksOpenAfterSignal > kTicksBoxMayOutliveSignal) {
        boxOutlivedSignal_ = true;
        box->button(QMessageBox::Cancel)->click();
      }
    });
    if (watch_) timing.watch = [&] { watch_(dialog); };
    answer.start();
    {
      update::WorkingDirectory here(dir.path());
      QTest::mouseClick(dialog.findChild<QPushButton*>(QString::number(kMakeUpdateId)),
                        Qt::LeftButton);
    }
    answer.stop();
    onHeader_ = nullptr;
    // The instrument runs on after the window is done and takes what is left on the line.
    instrument_->timing().Advance(kInstrumentRunsOnMs);
    log_ = dialog.findChild<QPlainTextEdit*>(QString::number(kActivityLogId))
               ->toPlainText()
               .toStdString();
    after_ = Shown(dialog);
    dialog.hide();
  }

  // "boot=1.3\nupdate=1.3\nmain=1.40\n...": the instrument's versions and memory size now.
  std::string Summary() const { return sim::StateSummary(instrument_->model().state()); }
  const std::vector<std::uint8_t>& Memory() const { return instrument_->model().state().memory; }

  // What the window shows beside the log, and the log's newest line and the last one in view.
  struct Sample {
    std::string status;
    int bar;
    bool barEmpty;
    std::string title;
    std::string newestLine;
    std::string lastShownLine;
  };
  static Sample Shown(UpdaterDialog& dialog) {
    auto* bar = dialog.findChild<QProgressBar*>(QString::number(kProgressId));
    auto* log = dialog.findChild<QPlainTextEdit*>(QString::number(kActivityLogId));
    QTextBlock newest = log->document()->lastBlock();
    if (newest.text().isEmpty()) newest = newest.previous();
    QTextBlock shown = log->cursorForPosition(QPoint(0, log->viewport()->height() - 1)).block();
    if (shown.text().isEmpty()) shown = shown.previous();
    return {dialog.findChild<QLabel*>(QString::number(kStatusLineId))->text().toStdString(),
            bar->value(),
            bar->value() < bar->minimum(),
            dialog.windowTitle().toStdString(),
            newest.text().toStdString(),
            shown.text().toStdString()};
  }

  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  update::TempDir dir;
  std::unique_ptr<sim::InProcessInstrument> instrument_;
  std::string simLog_;
  std::function<void()> onHeader_;
  std::ostringstream errors_;
  std::vector<std::string> messages_;
  std::string log_;
  std::optional<int> endedWith_;  // the code the window ended with, if it ended
  bool boxOutlivedSignal_ = false;
  // Looks at the window on every tick of the answering timer while the run goes.
  std::function<void(UpdaterDialog&)> watch_;
  Sample after_;  // the window once the run ended
};

// The per cent after the first ": " in text ("... 61 %, ..." or "... - 42 %"), or -1.
int PercentIn(const std::string& text, const std::string& after) {
  const std::size_t from = text.find(after);
  const std::size_t sign = text.find(" %", from);
  if (from == std::string::npos || sign == std::string::npos) return -1;
  const std::size_t start = text.rfind(' ', sign - 1) + 1;
  return std::atoi(text.c_str() + start);
}

TEST_F(WindowUpdateTest, FullUpdateWithSpecialMainAndRestoreReachesTheNewVersions) {
  update::script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  sim::InstrumentState state;
  state.mainVersion = "1.28";
  state.grade = "QN";
  state.memory = sim::GenerateDatabase(7, 3000);
  Start(state);
  // Paced at 9600 baud, the memory's download takes about three seconds of virtual time.
  instrument_->model().SetPaced(true);
  // The window once, well into the download.
  const std::string download = "Receiving ZEPHORdata.bin: ";
  constexpr std::uint32_t kIntoDownloadMs = 1200;
  std::optional<std::uint32_t> downloadSeen;
  std::optional<Sample> midway;
  watch_ = [&](UpdaterDialog& window) {
    Sample now = Shown(window);
    if (midway || now.status.rfind(download, 0) != 0) return;
    const std::uint32_t at = instrument_->timing().now();
    if (!downloadSeen) downloadSeen = at;
    if (at - *downloadSeen >= kIntoDownloadMs) midway = now;
  };
  PressMakeUpdate();

  // The line names the file and how far it is, the bar agrees, the title has the run's share,
  // and the log shows its newest line.
  ASSERT_TRUE(midway.has_value()) << "the download was not seen for " << kIntoDownloadMs << " ms";
  const int percent = PercentIn(midway->status, download);
  EXPECT_TRUE(percent >= 1 && percent <= 99) << midway->status;
  EXPECT_EQ(midway->bar, percent) << midway->status;
  const int runPercent = PercentIn(midway->title, std::string(kMainCaption) + " - ");
  EXPECT_TRUE(runPercent >= 1 && runPercent <= 99) << midway->title;
  EXPECT_EQ(midway->lastShownLine, midway->newestLine);
  EXPECT_EQ(midway->newestLine, "\tRead Data ZEPHOR");
  // The run over: an empty bar, an empty line, the plain title.
  EXPECT_TRUE(after_.barEmpty) << after_.bar;
  EXPECT_EQ(after_.status, "");
  EXPECT_EQ(after_.title, kMainCaption);

  // newboot, boot, update, the special main and main, in that order.
  const std::vector<std::string> steps{"Load of special main Done", "Load of new boot Done",
                                       "Load of new update Done",   "Load of special main Done",
                                       "Update main program Done",  "Update finished."};
  std::size_t at = 0;
  for (const std::string& step : steps) {
    at = log_.find(step, at);
    ASSERT_NE(at, std::string::npos) << step << "\n" << log_;
    at += step.size();
  }
  EXPECT_FALSE(Logged("Update stopped"));
  ASSERT_FALSE(messages_.empty());
  EXPECT_EQ(messages_.back(), "Restart the ZEPHOR !!");

  const std::string summary = Summary();
  EXPECT_NE(summary.find("boot=1.3\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("update=1.3\n"), std::string::npos);
  EXPECT_NE(summary.find("main=1.40\n"), std::string::npos);
  EXPECT_NE(summary.find("build=7\n"), std::string::npos);
  // "QN": the database was saved and converted, not written back; the memory is erased.
  EXPECT_GT(std::filesystem::file_size(dir.path() / "ZEPHORdata.bin"), 0u);
  EXPECT_GT(std::filesystem::file_size(dir.path() / "_Conversion.txt"), 0u);
  EXPECT_NE(summary.find("memory_bytes=0\n"), std::string::npos);
}

TEST_F(WindowUpdateTest, QhRestoreWritesTheConversionBackIntoTheInstrument) {
  update::script::WriteImageSet(dir, {"1.2", "1.2", "1.40", "5"});
  sim::InstrumentState state;
  state.mainVersion = "1.31";
  state.grade = "QH";
  // What the instrument holds before the update.
  state.memory = sim::GenerateDatabase(kSeed, kDatabaseBytes);
  const std::string held(state.memory.begin(), state.memory.end());
  Start(state);
  PressMakeUpdate();
  EXPECT_TRUE(Logged("Update main program Done")) << log_;
  EXPECT_TRUE(Logged("Write Data to ZEPHOR."));
  EXPECT_FALSE(Logged("Update stopped"));

  // The saved database is what the instrument held; its memory now is the conversion of it.
  ASSERT_FALSE(held.empty());
  const std::string saved = ReadWhole(dir.path() / "ZEPHORdata.bin");
  ASSERT_GE(saved.size(), held.size());
  EXPECT_EQ(saved.substr(0, held.size()), held);
  const std::string conversion = ReadWhole(dir.path() / "_Conversion.txt");
  ASSERT_FALSE(conversion.empty());
  EXPECT_NE(conversion, held);
  EXPECT_EQ(std::string(Memory().begin(), Memory().end()), conversion);
}

struct EscRow {
  const char* name;
  StopAnswer answer;
  bool stops;
};

void PrintTo(const EscRow& row, std::ostream* out) { *out << row.name; }

class EscDuringLoadTest : public WindowUpdateTest, public ::testing::WithParamInterface<EscRow> {};

// Esc during the main image's transfer asks before leaving the instrument without its programs.
// Cancel lets the load finish. OK cancels the transfer on the line and ends the window; so does a
// signal while the question is open, which closes the box unanswered.
TEST_P(EscDuringLoadTest, TheStopQuestionDecidesWhetherTheLoadFinishes) {
  const EscRow& row = GetParam();
  update::script::WriteImageSet(dir, {"1.2", "1.2", "1.35", "5"});
  dir.Write("main.bin", update::script::ImageBytes({"main.bin", kLongMainBytes, 'm'}, "1.35", "5"));
  sim::InstrumentState state;
  state.mainVersion = "1.32";
  state.grade = "QN";
  Start(state);
  PressMakeUpdate(row.answer);

  const std::string question =
      "Stop now? The ZEPHOR is being updated: it will wait for its programs until Make Update "
      "finishes it.";
  const std::string cancelHeard = "receive cancelled: the sender sent two CAN";
  EXPECT_FALSE(boxOutlivedSignal_);
  if (row.stops) {
    EXPECT_EQ(messages_, std::vector<std::string>{question});
    EXPECT_TRUE(Logged("\tStopped during the load of main.bin: Make Update will finish it.\n"))
        << log_;
    EXPECT_FALSE(Logged("Update finished."));
    EXPECT_EQ(endedWith_, std::optional<int>(0));
    EXPECT_NE(simLog_.find(cancelHeard), std::string::npos) << simLog_;
    EXPECT_EQ(simLog_.find("loaded main image"), std::string::npos);
    EXPECT_EQ(Summary().find("main=1.35\n"), std::string::npos);
  } else {
    EXPECT_EQ(messages_, (std::vector<std::string>{question, "Restart the ZEPHOR !!"}));
    EXPECT_TRUE(Logged("\tUpdate finished.\n")) << log_;
    EXPECT_FALSE(Logged("Stopped during"));
    EXPECT_FALSE(endedWith_.has_value());
    EXPECT_NE(Summary().find("main=1.35\n"), std::string::npos) << Summary();
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, EscDuringLoadTest,
                         ::testing::Values(EscRow{"Cancel", StopAnswer::kCancel, false},
                                           EscRow{"Ok", StopAnswer::kOk, true},
                                           EscRow{"Signal", StopAnswer::kSignal, true}),
                         [](const ::testing::TestParamInfo<EscRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zephor::qt

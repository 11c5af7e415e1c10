// End to end from the window: the Make Update button against zephor-sim over a pseudo-terminal,
// with every message box answered OK, as a technician would; and Esc pressed during a load, with
// the question it asks answered either way or cut short by a signal.
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
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/signal_stop.h"
#include "image_set.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "sim/database_generator.h"
#include "sim_child.h"
#include "temp_dir.h"
#include "updater_dialog.h"

namespace zephor::qt {
namespace {

using e2e::ReadWhole;
using e2e::SimChild;

constexpr std::uint32_t kSeed = 11;
constexpr std::size_t kDatabaseBytes = 4000;
// Long enough that Esc finds the main image's transfer running.
constexpr std::size_t kLongMainBytes = 200000;
// Answer ticks a box may outlive the signal before the test gives up on it.
constexpr int kTicksBoxMayOutliveSignal = 50;
constexpr auto kSimLogPatience = std::chrono::seconds(5);
constexpr auto kSimLogPoll = std::chrono::milliseconds(5);

// The simulator logs what it read in its own time: the file once it holds line, or at the end of
// the patience.
std::string SimLogOnceItHas(const std::string& path, const std::string& line) {
  const auto giveUp = std::chrono::steady_clock::now() + kSimLogPatience;
  std::string text = ReadWhole(path);
  while (text.find(line) == std::string::npos && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(kSimLogPoll);
    text = ReadWhole(path);
  }
  return text;
}

// The window reads its images from and writes the saved database to the working directory.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDirectory() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// What the operator does with the question that Esc asks during a load.
enum class StopAnswer { kOk, kCancel, kSignal };

struct EscDuringLoad {
  std::string simLog;  // Esc goes once the simulator accepted an image header
  StopAnswer answer;
};

class WindowUpdateTest : public ::testing::Test {
 protected:
  // Presses Make Update with COM1 on the simulator's terminal and answers every box with OK; with
  // esc, presses Esc during the load and treats the stop question as it says. Signals are caught
  // and stop the window as they do in the program.
  void PressMakeUpdate(const std::string& link, const std::optional<EscDuringLoad>& esc = {}) {
    setenv("ZEPHOR_COM1", link.c_str(), 1);
    const app::SignalStop stopSignals;
    serial::PosixPortFactory factory;
    serial::SystemTiming timing([] { QCoreApplication::processEvents(); });
    UpdaterDialog dialog(&factory, &timing, &errors_);
    dialog.StopOnSignals();
    QObject::connect(&dialog, &QDialog::finished, [this](int code) { endedWith_ = code; });
    dialog.show();
    QTimer answer;
    answer.setInterval(20);
    bool escSent = false;
    bool raised = false;
    int ticksOpenAfterSignal = 0;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      if (esc && !escSent && ReadWhole(esc->simLog).find("header accepted") != std::string::npos) {
        escSent = true;
        // Pressed outside this slot: a timer does not fire again while its own slot runs.
        QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
      }
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      const std::string text = box->text().toStdString();
      if (!esc || text != app::kStopLoadQuestion) {
        messages_.push_back(text);
        box->button(QMessageBox::Ok)->click();
      } else if (esc->answer != StopAnswer::kSignal) {
        messages_.push_back(text);
        box->button(esc->answer == StopAnswer::kOk ? QMessageBox::Ok : QMessageBox::Cancel)
            ->click();
      } else if (!raised) {
        messages_.push_back(text);
        raised = true;
        std::raise(SIGINT);
      } else if (++ticksOpenAfterSignal > kTicksBoxMayOutliveSignal) {
        boxOutlivedSignal_ = true;
        box->button(QMessageBox::Cancel)->click();
      }
    });
    if (watch_) QObject::connect(&answer, &QTimer::timeout, [&] { watch_(dialog); });
    answer.start();
    QTest::mouseClick(dialog.findChild<QPushButton*>(QString::number(kMakeUpdateId)),
                      Qt::LeftButton);
    answer.stop();
    log_ = dialog.findChild<QPlainTextEdit*>(QString::number(kActivityLogId))
               ->toPlainText()
               .toStdString();
    after_ = Shown(dialog);
    dialog.hide();
  }

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
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  // Paced at 9600 baud, the memory's download takes about three seconds.
  SimChild sim({"--link", link, "--main", "1.28", "--boot", "1.2", "--update", "1.2", "--build",
                "5", "--grade", "QN", "--ready-delay", "300", "--generate-db", "7:3000",
                "--state-out", state, "--paced"});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");
  // The window once, well into the download.
  const std::string download = "Receiving ZEPHORdata.bin: ";
  const auto intoDownload = std::chrono::milliseconds(1200);
  std::optional<std::chrono::steady_clock::time_point> downloadSeen;
  std::optional<Sample> midway;
  watch_ = [&](UpdaterDialog& window) {
    Sample now = Shown(window);
    if (midway || now.status.rfind(download, 0) != 0) return;
    if (!downloadSeen) downloadSeen = std::chrono::steady_clock::now();
    if (std::chrono::steady_clock::now() - *downloadSeen >= intoDownload) midway = now;
  };
  {
    WorkingDirectory here(dir.path());
    PressMakeUpdate(link);
  }

  // The line names the file and how far it is, the bar agrees, the title has the run's share,
  // and the log shows its newest line.
  ASSERT_TRUE(midway.has_value()) << "the download was not seen for " << intoDownload.count()
                                  << " ms";
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

  const std::string summary = ReadWhole(state);
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
  const std::string link = (dir.path() / "com1").string();
  const std::string memory = (dir.path() / "memory.bin").string();
  const std::string before = (dir.path() / "before.bin").string();
  // What the instrument holds before the update.
  dir.Write("before.bin", sim::GenerateDatabase(kSeed, kDatabaseBytes));
  SimChild sim({"--link", link, "--main", "1.31", "--grade", "QH", "--ready-delay", "300", "--db",
                before, "--memory-out", memory});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");
  {
    WorkingDirectory here(dir.path());
    PressMakeUpdate(link);
  }
  EXPECT_TRUE(Logged("Update main program Done")) << log_;
  EXPECT_TRUE(Logged("Write Data to ZEPHOR."));
  EXPECT_FALSE(Logged("Update stopped"));

  // The saved database is what the instrument held; its memory now is the conversion of it.
  const std::string held = ReadWhole(before);
  ASSERT_FALSE(held.empty());
  const std::string saved = ReadWhole(dir.path() / "ZEPHORdata.bin");
  ASSERT_GE(saved.size(), held.size());
  EXPECT_EQ(saved.substr(0, held.size()), held);
  const std::string conversion = ReadWhole(dir.path() / "_Conversion.txt");
  ASSERT_FALSE(conversion.empty());
  EXPECT_NE(conversion, held);
  EXPECT_EQ(ReadWhole(memory), conversion);
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
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  const std::string simLog = (dir.path() / "sim.txt").string();
  SimChild sim({"--link", link, "--main", "1.32", "--boot", "1.2", "--update", "1.2", "--grade",
                "QN", "--state-out", state},
               simLog);
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");
  {
    WorkingDirectory here(dir.path());
    PressMakeUpdate(link, EscDuringLoad{simLog, row.answer});
  }

  const std::string question =
      "Stop now? The ZEPHOR is being updated: it will wait for its programs until Make Update "
      "finishes it.";
  const std::string cancelHeard = "receive cancelled: the sender sent two CAN";
  EXPECT_FALSE(boxOutlivedSignal_);
  if (row.stops) {
    const std::string received = SimLogOnceItHas(simLog, cancelHeard);
    EXPECT_EQ(messages_, std::vector<std::string>{question});
    EXPECT_TRUE(Logged("\tStopped during the load of main.bin: Make Update will finish it.\n"))
        << log_;
    EXPECT_FALSE(Logged("Update finished."));
    EXPECT_EQ(endedWith_, std::optional<int>(0));
    EXPECT_NE(received.find(cancelHeard), std::string::npos) << received;
    EXPECT_EQ(received.find("loaded main image"), std::string::npos);
    EXPECT_EQ(ReadWhole(state).find("main=1.35\n"), std::string::npos);
  } else {
    EXPECT_EQ(messages_, (std::vector<std::string>{question, "Restart the ZEPHOR !!"}));
    EXPECT_TRUE(Logged("\tUpdate finished.\n")) << log_;
    EXPECT_FALSE(Logged("Stopped during"));
    EXPECT_FALSE(endedWith_.has_value());
    const std::string summary = ReadWhole(state);
    EXPECT_NE(summary.find("main=1.35\n"), std::string::npos) << summary;
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

// End to end from the window: the Make Update button against zephor-sim over a pseudo-terminal,
// with every message box answered OK, as a technician would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

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

class WindowUpdateTest : public ::testing::Test {
 protected:
  // Presses Make Update with COM1 on the simulator's terminal and answers every box with OK.
  void PressMakeUpdate(const std::string& link) {
    setenv("ZEPHOR_COM1", link.c_str(), 1);
    serial::PosixPortFactory factory;
    serial::SystemTiming timing([] { QCoreApplication::processEvents(); });
    UpdaterDialog dialog(&factory, &timing, &errors_);
    dialog.show();
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        messages_.push_back(box->text().toStdString());
        box->button(QMessageBox::Ok)->click();
      }
    });
    answer.start();
    QTest::mouseClick(dialog.findChild<QPushButton*>(QString::number(kMakeUpdateId)),
                      Qt::LeftButton);
    answer.stop();
    log_ = dialog.findChild<QPlainTextEdit*>(QString::number(kActivityLogId))
               ->toPlainText()
               .toStdString();
    dialog.hide();
  }

  bool Logged(const std::string& text) const { return log_.find(text) != std::string::npos; }

  update::TempDir dir;
  std::ostringstream errors_;
  std::vector<std::string> messages_;
  std::string log_;
};

TEST_F(WindowUpdateTest, FullUpdateWithSpecialMainAndRestoreReachesTheNewVersions) {
  update::script::WriteImageSet(dir, {"1.3", "1.3", "1.40", "7"});
  const std::string link = (dir.path() / "com1").string();
  const std::string state = (dir.path() / "state.txt").string();
  SimChild sim({"--link", link, "--main", "1.28", "--boot", "1.2", "--update", "1.2", "--build",
                "5", "--grade", "QN", "--ready-delay", "300", "--generate-db", "7:3000",
                "--state-out", state});
  ASSERT_EQ(sim.ready(), "ready " + link + "\n");
  {
    WorkingDirectory here(dir.path());
    PressMakeUpdate(link);
  }

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

}  // namespace
}  // namespace zephor::qt

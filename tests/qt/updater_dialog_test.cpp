// The real windows driven by QTest: log, port dialog, About box, busy guard, log cap, closing.
#include "updater_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>

#include "about_dialog.h"
#include "dialog_units.h"
#include "fake_sysfs.h"
#include "port_setup_dialog.h"
#include "serial/memory_line.h"

namespace zephor::qt {
namespace {

// Runs check on the next modal dialog of type T once it is up.
template <typename T>
void OnNextModal(std::function<void(T*)> check) {
  QTimer::singleShot(0, [check] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    check(dialog);
  });
}

template <typename T>
T* Child(QWidget* parent, int id) {
  return parent->findChild<T*>(QString::number(id));
}

class UpdaterDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.AddUsb("ttyUSB0", 1, {"FTDI", "FT232R USB UART", "A9XYZ", "0403", "6001", ""});
    dialog.SetPortSearch(tree.search());
    dialog.show();
  }
  void TearDown() override {
    dialog.hide();
    // A port chosen in the dialog is named for the rest of the process: not for the next test.
    unsetenv("ZEPHOR_COM5");
  }

  QPlainTextEdit* log() { return Child<QPlainTextEdit>(&dialog, kActivityLogId); }
  // The last line of text the log box shows.
  QString LastShownLine() {
    QTextBlock block = log()->cursorForPosition(QPoint(0, log()->viewport()->height() - 1)).block();
    if (block.text().isEmpty()) block = block.previous();  // the empty one after the last "\n"
    return block.text();
  }
  QPushButton* button(int id) { return Child<QPushButton>(&dialog, id); }

  // Picks a port in the port dialog, then ends it with OK or Cancel.
  void ChooseInDialog(int index, int endingButtonId) {
    OnNextModal<PortSetupDialog>([index, endingButtonId](PortSetupDialog* d) {
      Child<QComboBox>(d, kPortComboId)->setCurrentIndex(index);
      QTest::mouseClick(Child<QPushButton>(d, endingButtonId), Qt::LeftButton);
    });
    QTest::mouseClick(button(kComPortSetupId), Qt::LeftButton);
  }

  // Presses Info ZEPHOR; every message box of the run is answered with OK.
  void PressInfoAnsweringOk() {
    QTimer answer;
    answer.setInterval(0);
    QObject::connect(&answer, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        box->button(QMessageBox::Ok)->click();
      }
    });
    answer.start();
    QTest::mouseClick(button(kInfoId), Qt::LeftButton);
    answer.stop();
  }

  // A USB adapter, found after COM1 to COM4.
  e2e::FakeSysfs tree;
  serial::MemoryPortFactory factory;
  serial::VirtualTiming timing;
  std::ostringstream errors;
  UpdaterDialog dialog{&factory, &timing, &errors};
};

TEST_F(UpdaterDialogTest, WindowHasItsCaptionControlsAndFixedSize) {
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("ZEPHOR Update Program V1.40"));
  EXPECT_EQ(button(kMakeUpdateId)->text(), QStringLiteral("Make Update"));
  EXPECT_EQ(button(kComPortSetupId)->text(), QStringLiteral("Com Port Setup"));
  EXPECT_EQ(button(kInfoId)->text(), QStringLiteral("Info ZEPHOR"));
  EXPECT_TRUE(button(kMakeUpdateId)->isDefault());
  EXPECT_TRUE(log()->isReadOnly());
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  const DialogUnits du(dialog.font());
  // Tab stops as the system's edit box sets them: every 32 dialog units of the window's font.
  EXPECT_EQ(log()->tabStopDistance(), du.X(32));
  // The template's 210 units and one status line of two rows under the bar.
  EXPECT_EQ(dialog.size(), du.Size(257, 226));
  EXPECT_EQ(button(kMakeUpdateId)->geometry(), du.Rect(171, 191, 60, 14));
  EXPECT_TRUE(Child<QLabel>(&dialog, kStatusLineId)->text().isEmpty());
  EXPECT_FALSE(dialog.windowIcon().isNull());
  auto* progress = Child<QProgressBar>(&dialog, kProgressId);
  EXPECT_EQ(progress->minimum(), 1);
  EXPECT_EQ(progress->maximum(), 100);
  EXPECT_LT(progress->value(), progress->minimum());  // empty bar
}

TEST_F(UpdaterDialogTest, TabOrderFollowsTheTemplate) {
  EXPECT_EQ(button(kMakeUpdateId)->nextInFocusChain(), button(kComPortSetupId));
  EXPECT_EQ(button(kComPortSetupId)->nextInFocusChain(), button(kInfoId));
  EXPECT_EQ(button(kInfoId)->nextInFocusChain(), log());
}

TEST_F(UpdaterDialogTest, TwoAppendsShowAbcdef) {
  dialog.updater().AppendLog("abc");
  dialog.updater().AppendLog("def");
  EXPECT_EQ(log()->toPlainText(), QStringLiteral("abcdef"));
}

TEST_F(UpdaterDialogTest, LogAndMessagesAreCopiedToStandardError) {
  dialog.updater().AppendLog("\tFinished.\r\n");
  OnNextModal<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->text(), QStringLiteral("ZEPHOR connected ?\n"));
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_TRUE(dialog.updater().ShowMessage("ZEPHOR connected ?\n", device::MessageButtons::kOk));
  EXPECT_EQ(errors.str(), "\tFinished.\r\nZEPHOR connected ?\n");
}

TEST_F(UpdaterDialogTest, CancelInAMessageBoxAnswersFalse) {
  OnNextModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Cancel)->click(); });
  EXPECT_FALSE(dialog.updater().ShowMessage("Erase ?", device::MessageButtons::kOkCancel));
}

TEST_F(UpdaterDialogTest, InfoWithoutAnInstrumentEndsWithTheNoInfoFrame) {
  // No line on COM1: the identification fails and the operator is told so.
  PressInfoAnsweringOk();
  EXPECT_FALSE(dialog.updater().busy());
  EXPECT_TRUE(log()->toPlainText().contains(QStringLiteral("No info available")));
}

TEST_F(UpdaterDialogTest, LogLinesShowOneLineEach) {
  dialog.updater().AppendLog("\tFirst.\r\n");
  dialog.updater().AppendLog("\tSecond.\r\n");
  EXPECT_EQ(log()->toPlainText(), QStringLiteral("\tFirst.\n\tSecond.\n"));
  dialog.updater().ClearLog();
  EXPECT_TRUE(log()->toPlainText().isEmpty());
}

// The view follows the newest line; scrolled up it stays there, back at the end it follows again.
TEST_F(UpdaterDialogTest, LogFollowsItsNewestLineUnlessScrolledUp) {
  const auto line = [](int n) { return "\tline " + std::to_string(n) + "\r\n"; };
  for (int n = 0; n < 40; ++n) dialog.updater().AppendLog(line(n));
  EXPECT_EQ(LastShownLine(), QStringLiteral("\tline 39"));
  QScrollBar* vertical = log()->verticalScrollBar();
  vertical->setValue(vertical->value() - 5);
  const int scrolled = vertical->value();
  dialog.updater().AppendLog(line(40));
  EXPECT_EQ(vertical->value(), scrolled);
  EXPECT_NE(LastShownLine(), QStringLiteral("\tline 40"));
  vertical->setValue(vertical->maximum());
  dialog.updater().AppendLog(line(41));
  EXPECT_EQ(LastShownLine(), QStringLiteral("\tline 41"));
}

TEST_F(UpdaterDialogTest, ProgressBelowRangeShowsEmptyBar) {
  auto* progress = Child<QProgressBar>(&dialog, kProgressId);
  dialog.updater().SetProgress(50);
  EXPECT_EQ(progress->value(), 50);
  dialog.updater().SetProgress(0);
  EXPECT_LT(progress->value(), progress->minimum());
}

TEST_F(UpdaterDialogTest, PortDialogOkKeepsTheChoice) {
  ChooseInDialog(2, 1);
  EXPECT_EQ(dialog.updater().station().portIndex, 2);
  QString shown;
  OnNextModal<PortSetupDialog>([&shown](PortSetupDialog* d) {
    shown = Child<QComboBox>(d, kPortComboId)->currentText();
    d->reject();
  });
  QTest::mouseClick(button(kComPortSetupId), Qt::LeftButton);
  EXPECT_EQ(shown, QStringLiteral("COM3"));
}

TEST_F(UpdaterDialogTest, PortDialogCancelKeepsThePreviousPort) {
  ChooseInDialog(2, 2);
  EXPECT_EQ(dialog.updater().station().portIndex, 0);
}

TEST_F(UpdaterDialogTest, PortDialogEscKeepsThePreviousPort) {
  OnNextModal<PortSetupDialog>([](PortSetupDialog* d) {
    Child<QComboBox>(d, kPortComboId)->setCurrentIndex(2);
    QTest::keyClick(d, Qt::Key_Escape);
  });
  QTest::mouseClick(button(kComPortSetupId), Qt::LeftButton);
  EXPECT_EQ(dialog.updater().station().portIndex, 0);
  EXPECT_TRUE(dialog.isVisible());  // Esc ended the port dialog, not the program
}

TEST_F(UpdaterDialogTest, PortDialogOffersTheFourPortsThenTheFoundOnes) {
  const std::string adapter = tree.DevPath("ttyUSB0");
  QStringList shown;
  OnNextModal<PortSetupDialog>([&shown](PortSetupDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("COM Port Setup"));
    EXPECT_TRUE(Child<QPushButton>(d, 1)->isDefault());
    auto* combo = Child<QComboBox>(d, kPortComboId);
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    combo->setCurrentIndex(4);
    QTest::mouseClick(Child<QPushButton>(d, 1), Qt::LeftButton);
  });
  QTest::mouseClick(button(kComPortSetupId), Qt::LeftButton);
  const QStringList expected{"COM1", "COM2", "COM3", "COM4",
                             QStringLiteral("ttyUSB0  FTDI FT232R USB UART")};
  EXPECT_EQ(shown, expected);

  // The adapter is a port index like any other, and that index now opens the adapter.
  const int chosen = dialog.updater().station().portIndex;
  EXPECT_EQ(chosen, 4);
  EXPECT_EQ(serial::PortDeviceName(chosen), adapter);
  serial::MemoryLine line;
  factory.AddLine(chosen, &line);
  timing.Attach(&line, [](std::uint32_t, serial::MemoryLine&) {});
  PressInfoAnsweringOk();
  const std::string heard(line.toPeer.begin(), line.toPeer.end());
  EXPECT_NE(heard.find("UNLOCK\n"), std::string::npos) << heard;

  int selected = -1;
  OnNextModal<PortSetupDialog>([&selected](PortSetupDialog* d) {
    selected = Child<QComboBox>(d, kPortComboId)->currentIndex();
    d->reject();
  });
  QTest::mouseClick(button(kComPortSetupId), Qt::LeftButton);
  EXPECT_EQ(selected, 4);
}

TEST_F(UpdaterDialogTest, AboutCommandOpensTheAboutBox) {
  QString caption, okText;
  bool textShown = false;
  OnNextModal<AboutDialog>([&](AboutDialog* about) {
    caption = about->windowTitle();
    for (QLabel* label : about->findChildren<QLabel*>()) {
      if (label->text() == QStringLiteral("Update Version 1.40")) textShown = true;
    }
    auto* ok = Child<QPushButton>(about, 1);
    okText = ok->text();
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  EXPECT_EQ(dialog.aboutAction()->text(), QStringLiteral("&About ZEPHOR..."));
  dialog.aboutAction()->trigger();
  EXPECT_EQ(caption, QStringLiteral("About ZEPHOR"));
  EXPECT_TRUE(textShown);
  EXPECT_EQ(okText, QStringLiteral("OK"));
}

TEST_F(UpdaterDialogTest, OtherWindowCommandsDoNotOpenTheAboutBox) {
  bool opened = false;
  QTimer::singleShot(0, [&opened] {
    if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
      opened = true;
      about->reject();
    }
  });
  dialog.OnSystemCommand(32);
  QApplication::processEvents();
  EXPECT_FALSE(opened);
}

TEST_F(UpdaterDialogTest, SecondPressDuringAnOperationIsIgnored) {
  bool portDialogOpened = false;
  const bool ran = dialog.updater().RunOperation([&] {
    QTimer::singleShot(0, [&portDialogOpened] {
      if (auto* d = qobject_cast<PortSetupDialog*>(QApplication::activeModalWidget())) {
        portDialogOpened = true;
        d->reject();
      }
    });
    QTest::mouseClick(button(kComPortSetupId), Qt::LeftButton);
    QApplication::processEvents();
  });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(portDialogOpened);
}

TEST_F(UpdaterDialogTest, LogIsCappedAtOneMebibyte) {
  const std::string line = "\t" + std::string(1000, 'x') + "\r\n";
  std::size_t written = 0;
  while (written <= app::kLogCapBytes + 4 * line.size()) {
    dialog.updater().AppendLog(line);
    written += line.size();
  }
  dialog.updater().AppendLog("\tnewest\r\n");
  const std::string& kept = dialog.updater().log();
  EXPECT_LE(kept.size(), app::kLogCapBytes);
  const QString shown = log()->toPlainText();
  EXPECT_TRUE(shown.startsWith(QLatin1Char('\t')));
  EXPECT_TRUE(shown.endsWith(QStringLiteral("\tnewest\n")));
  std::string withoutReturns;
  for (char c : kept) {
    if (c != '\r') withoutReturns.push_back(c);
  }
  EXPECT_EQ(shown.size(), static_cast<qsizetype>(withoutReturns.size()));
}

TEST_F(UpdaterDialogTest, EscEndsTheProgram) {
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
}

TEST_F(UpdaterDialogTest, CloseBoxEndsTheProgram) {
  dialog.close();
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(UpdaterDialogTest, CloseDuringAnOperationWaitsForItsEnd) {
  bool visibleAfterClose = false;
  dialog.updater().RunOperation([&] {
    dialog.close();
    visibleAfterClose = dialog.isVisible();
    EXPECT_TRUE(dialog.updater().station().ports.timing->StopRequested());
  });
  EXPECT_TRUE(visibleAfterClose);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace zephor::qt

// Main window, 257 by 226 dialog units: it only draws and forwards to the updater.
#include "updater_dialog.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "about_dialog.h"
#include "app/port_choice.h"
#include "app/signal_stop.h"
#include "app_icon.h"
#include "dialog_units.h"
#include "port_setup_dialog.h"

namespace zephor::qt {

namespace {
constexpr int kUpdaterWidth = 257;
// The status line under the bar, room for two lines of text when a long one wraps, adds its
// height to the template's 210 units; the buttons move down by as much.
constexpr int kStatusLineY = 166;
constexpr int kStatusLineHeight = 16;
constexpr int kUpdaterHeight = 210 + kStatusLineHeight;
constexpr int kButtonsY = 175 + kStatusLineHeight;
constexpr int kSignalPollMs = 100;
// The system's edit box puts a tab stop every 32 horizontal dialog units; the reports line up
// their columns with tabs.
constexpr int kLogTabStopUnits = 32;

QString FromText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The log's lines end in "\r\n"; the text box breaks a line on either character, so the
// carriage returns are left out of what it shows.
QString LogText(std::string_view text) {
  QString shown = FromText(text);
  shown.remove(QLatin1Char('\r'));
  return shown;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int id) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setObjectName(QString::number(id));
  return button;
}
}  // namespace

UpdaterDialog::UpdaterDialog(serial::PortFactory* factory, serial::Timing* timing,
                             std::ostream* errorCopy, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      updater_(*this, factory, timing, errorCopy) {
  setObjectName(QStringLiteral("UpdaterDialog"));
  setFont(DialogFont());
  setWindowTitle(QString::fromLatin1(kMainCaption));
  setWindowIcon(AppIcon());
  const DialogUnits du(font());

  makeUpdate_ = MakeButton(this, "Make Update", kMakeUpdateId);
  du.Place(makeUpdate_, 171, kButtonsY, 60, 14);
  makeUpdate_->setDefault(true);
  comPortSetup_ = MakeButton(this, "Com Port Setup", kComPortSetupId);
  du.Place(comPortSetup_, 25, kButtonsY, 60, 14);
  info_ = MakeButton(this, "Info ZEPHOR", kInfoId);
  du.Place(info_, 97, kButtonsY, 59, 14);

  log_ = new QPlainTextEdit(this);
  log_->setObjectName(QString::number(kActivityLogId));
  log_->setReadOnly(true);
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);  // long lines scroll sideways
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  log_->setFrameShape(QFrame::Box);
  log_->setTabStopDistance(du.X(kLogTabStopUnits));
  du.Place(log_, 20, 20, 215, 120);

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QString::number(kProgressId));
  progress_->setTextVisible(false);
  progress_->setFocusPolicy(Qt::NoFocus);
  du.Place(progress_, 30, 148, 199, 15);

  status_ = new QLabel(this);
  status_->setObjectName(QString::number(kStatusLineId));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  du.Place(status_, 20, kStatusLineY, 215, kStatusLineHeight);

  setTabOrder(makeUpdate_, comPortSetup_);
  setTabOrder(comPortSetup_, info_);
  setTabOrder(info_, log_);

  connect(makeUpdate_, &QPushButton::clicked, this, [this] { updater_.OnMakeUpdate(); });
  connect(comPortSetup_, &QPushButton::clicked, this, [this] { updater_.OnComPortSetup(); });
  connect(info_, &QPushButton::clicked, this, [this] { updater_.OnInfo(); });

  // Without a system menu of its own, the window offers its commands on the context menu;
  // the About item comes last, below a separator.
  closeAction_ = new QAction(QStringLiteral("&Close"), this);
  closeAction_->setObjectName(QStringLiteral("close"));
  connect(closeAction_, &QAction::triggered, this, [this] { updater_.RequestClose(); });
  aboutAction_ = new QAction(QString::fromLatin1(kAboutMenuText), this);
  aboutAction_->setObjectName(QString::number(kAboutCommandId));
  connect(aboutAction_, &QAction::triggered, this, [this] { OnSystemCommand(kAboutCommandId); });

  progress_->setRange(app::kBarLow, app::kBarHigh);
  SetProgress(0);
  makeUpdate_->setFocus();
  setFixedSize(du.Size(kUpdaterWidth, kUpdaterHeight));
}

void UpdaterDialog::AppendLog(std::string_view text) {
  // The view follows the newest line while it shows the end of the log; one the technician
  // scrolled up stays where it is until they scroll back to the end.
  QScrollBar* vertical = log_->verticalScrollBar();
  const bool following = vertical->value() == vertical->maximum();
  const int was = vertical->value();
  const int horizontal = log_->horizontalScrollBar()->value();
  QTextCursor cursor(log_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(LogText(text));
  vertical->setValue(following ? vertical->maximum() : was);
  log_->horizontalScrollBar()->setValue(horizontal);
}

void UpdaterDialog::ClearLog() { log_->clear(); }

void UpdaterDialog::SetLog(std::string_view text) {
  // The oldest lines were dropped: a view that followed the end goes on following it.
  QScrollBar* vertical = log_->verticalScrollBar();
  const bool following = vertical->value() == vertical->maximum();
  const int was = vertical->value();
  log_->setPlainText(LogText(text));
  vertical->setValue(following ? vertical->maximum() : was);
}

void UpdaterDialog::SetProgress(int percent) {
  // Below the range is an empty bar.
  if (percent < progress_->minimum()) {
    progress_->reset();
  } else {
    progress_->setValue(std::min(percent, progress_->maximum()));
  }
}

void UpdaterDialog::ShowStatus(std::string_view text) { status_->setText(FromText(text)); }

void UpdaterDialog::ShowCaption(std::string_view text) { setWindowTitle(FromText(text)); }

bool UpdaterDialog::ShowMessage(std::string_view text, device::MessageButtons buttons) {
  const bool withCancel = buttons == device::MessageButtons::kOkCancel;
  QMessageBox box(withCancel ? QMessageBox::Question : QMessageBox::Information,
                  QString::fromLatin1(kMessageTitle), FromText(text),
                  withCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok, this);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

bool UpdaterDialog::ChoosePort(int& portIndex) {
  return app::ChoosePortIn(
      portSearch_,
      [this](const std::vector<app::PortItem>& items, int& item) {
        PortSetupDialog dialog(items, this);
        dialog.setItem(item);
        if (dialog.exec() != QDialog::Accepted) return false;
        item = dialog.item();
        return true;
      },
      portIndex);
}

void UpdaterDialog::Exit(int code) {
  ending_ = true;
  done(code);
}

void UpdaterDialog::PumpEvents() { QCoreApplication::processEvents(); }

void UpdaterDialog::StopOnSignals() {
  if (signalWatch_ != nullptr) return;
  signalWatch_ = new QTimer(this);
  signalWatch_->setInterval(kSignalPollMs);
  connect(signalWatch_, &QTimer::timeout, this, [this] { StopIfSignalled(); });
  signalWatch_->start();
}

void UpdaterDialog::StopIfSignalled() {
  if (app::SignalStop::Caught() == 0) return;
  updater_.StopForSignal();
  // Closing a box answers it with its escape button: Cancel where there is one, else its OK.
  // Menus and the About and port dialogs close too, so that their loops give the window back.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window != this && window->isVisible()) window->close();
  }
}

void UpdaterDialog::OnSystemCommand(int id) {
  if ((id & kCommandMask) == kAboutCommandId) ShowAbout();
}

void UpdaterDialog::ShowAbout() {
  AboutDialog about(this);
  about.exec();
}

void UpdaterDialog::reject() {
  if (ending_) {
    QDialog::reject();
    return;
  }
  updater_.RequestClose();
}

void UpdaterDialog::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(closeAction_);
  menu.addSeparator();
  menu.addAction(aboutAction_);
  menu.exec(event->globalPos());
}

}  // namespace zephor::qt

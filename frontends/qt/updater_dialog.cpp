// Main window, 257 by 210 dialog units: it only draws and forwards to the updater.
#include "updater_dialog.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QTextCursor>
#include <QTimer>
#include <vector>

#include "about_dialog.h"
#include "app/port_choice.h"
#include "app/signal_stop.h"
#include "app_icon.h"
#include "dialog_units.h"
#include "port_setup_dialog.h"

namespace zephor::qt {

namespace {
constexpr int kWidth = 257;
constexpr int kHeight = 210;
constexpr int kInitialLow = 1;
constexpr int kInitialHigh = 100;
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
  du.Place(makeUpdate_, 171, 175, 60, 14);
  makeUpdate_->setDefault(true);
  comPortSetup_ = MakeButton(this, "Com Port Setup", kComPortSetupId);
  du.Place(comPortSetup_, 25, 175, 60, 14);
  info_ = MakeButton(this, "Info ZEPHOR", kInfoId);
  du.Place(info_, 97, 175, 59, 14);

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

  progress_->setRange(kInitialLow, kInitialHigh);
  SetProgress(0);
  makeUpdate_->setFocus();
  setFixedSize(du.Size(kWidth, kHeight));
}

void UpdaterDialog::AppendLog(std::string_view text) {
  // Appended at the end without moving the view to the newest line.
  const int vertical = log_->verticalScrollBar()->value();
  const int horizontal = log_->horizontalScrollBar()->value();
  QTextCursor cursor(log_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(LogText(text));
  log_->verticalScrollBar()->setValue(vertical);
  log_->horizontalScrollBar()->setValue(horizontal);
}

void UpdaterDialog::ClearLog() { log_->clear(); }

void UpdaterDialog::SetLog(std::string_view text) { log_->setPlainText(LogText(text)); }

void UpdaterDialog::SetProgressRange(int low, int high) { progress_->setRange(low, high); }

void UpdaterDialog::SetProgress(int position) {
  // A position below the range shows an empty bar; one above it a full bar.
  if (position < progress_->minimum()) {
    progress_->reset();
  } else if (position > progress_->maximum()) {
    progress_->setValue(progress_->maximum());
  } else {
    progress_->setValue(position);
  }
}

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

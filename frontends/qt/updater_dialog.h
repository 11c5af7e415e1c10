// The main window: three buttons, the activity log, the progress bar and the status line under it
// over an app::Updater.
#pragma once

#include <QDialog>
#include <ostream>
#include <string_view>

#include "app/updater.h"
#include "app/updater_view.h"
#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "serial/timing.h"

class QAction;
class QContextMenuEvent;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace zephor::qt {

inline constexpr const char* kMainCaption = app::kMainCaption;
inline constexpr char kAboutMenuText[] = "&About ZEPHOR...";
inline constexpr char kMessageTitle[] = "ZEPHOR Update";
inline constexpr int kMakeUpdateId = 1001;
inline constexpr int kComPortSetupId = 1004;
inline constexpr int kInfoId = 1000;
inline constexpr int kActivityLogId = 1003;
inline constexpr int kProgressId = 1005;
inline constexpr int kStatusLineId = 1006;
// The About item's command; the low four bits of a window command are the system's own.
inline constexpr int kAboutCommandId = 16;
inline constexpr int kCommandMask = 0xFFF0;

class UpdaterDialog final : public QDialog, public app::UpdaterView {
  Q_OBJECT

 public:
  // errorCopy receives every log text and message box text as well.
  UpdaterDialog(serial::PortFactory* factory, serial::Timing* timing, std::ostream* errorCopy,
                QWidget* parent = nullptr);

  // app::UpdaterView
  void AppendLog(std::string_view text) override;
  void ClearLog() override;
  void SetLog(std::string_view text) override;
  void SetProgress(int percent) override;
  void ShowStatus(std::string_view text) override;
  void ShowCaption(std::string_view text) override;
  bool ShowMessage(std::string_view text, device::MessageButtons buttons) override;
  bool ChoosePort(int& portIndex) override;
  void Exit(int code) override;
  void PumpEvents() override;

  // From now on a signal caught by an app::SignalStop stops the updater as an answered close does;
  // the boxes open over the window are closed unanswered, since no one may be there to answer.
  // The check runs on a timer, which the waits of an operation reach through their event pump.
  void StopOnSignals();

  // A window command from the context menu that stands in for the system menu.
  void OnSystemCommand(int id);
  void ShowAbout();

  // Where the port dialog looks for ports; a test gives a tree of its own.
  void SetPortSearch(const serial::PortSearch& where) { portSearch_ = where; }

  app::Updater& updater() { return updater_; }
  QAction* aboutAction() const { return aboutAction_; }
  QAction* closeAction() const { return closeAction_; }

 public slots:
  // Esc and the close box come here: the updater decides when the program ends.
  void reject() override;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void StopIfSignalled();

  app::Updater updater_;
  serial::PortSearch portSearch_;
  QPushButton* makeUpdate_;
  QPushButton* comPortSetup_;
  QPushButton* info_;
  QPlainTextEdit* log_;
  QProgressBar* progress_;
  QLabel* status_;
  QAction* closeAction_;
  QAction* aboutAction_;
  QTimer* signalWatch_ = nullptr;
  bool ending_ = false;
};

}  // namespace zephor::qt

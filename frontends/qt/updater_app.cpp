// zephor-update: the application object. It runs the main window modally and ends with it.
#include <QApplication>
#include <QByteArray>
#include <iostream>
#include <string>

#include "app/signal_stop.h"
#include "app/traced_ports.h"
#include "serial/posix_driver.h"
#include "serial/serial_port.h"
#include "serial/system_timing.h"
#include "updater_dialog.h"

namespace {
// Without a display the window still runs, drawn off screen.
void ChooseOffscreenWithoutDisplay() {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  }
}
}  // namespace

int main(int argc, char** argv) {
  ChooseOffscreenWithoutDisplay();
  QApplication application(argc, argv);
  // Interrupt, terminate and hang-up end a load through its clean-up, not in the middle of it.
  const zephor::app::SignalStop stopSignals;
  zephor::serial::PosixPortFactory system;
  zephor::serial::SystemTiming timing([] { QCoreApplication::processEvents(); });
  // ZEPHOR_TRACE=FILE: every byte on the line goes to FILE for the service engineer.
  zephor::app::TracedPorts ports(
      system, [&timing] { return timing.TickMs(); }, zephor::app::TraceFileFromEnvironment(),
      [](int index) { return "COM" + std::to_string(index + 1); });
  if (!ports.failure().empty()) std::cerr << ports.failure() << std::endl;
  zephor::qt::UpdaterDialog dialog(ports.factory(), &timing, &std::cerr);
  dialog.StopOnSignals();
  // There is no main loop of the program's own: when the window ends, so does the program.
  const int code = dialog.exec();
  zephor::serial::CloseAllPorts();
  // A shell tells a stopped program by its code: 128 and the signal's number.
  if (zephor::app::SignalStop::Caught() != 0) return zephor::app::SignalStop::ExitCode();
  return code;
}

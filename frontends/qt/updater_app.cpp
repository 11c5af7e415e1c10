// zephor-update: the application object. It runs the main window modally and ends with it.
#include <QApplication>
#include <QByteArray>
#include <iostream>

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
  zephor::serial::PosixPortFactory factory;
  zephor::serial::SystemTiming timing([] { QCoreApplication::processEvents(); });
  zephor::qt::UpdaterDialog dialog(&factory, &timing, &std::cerr);
  // There is no main loop of the program's own: when the window ends, so does the program.
  const int code = dialog.exec();
  zephor::serial::CloseAllPorts();
  return code;
}

// zephor-update: the application object. It runs the main window modally and ends with it.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "app/port_choice.h"
#include "app/signal_stop.h"
#include "app/traced_ports.h"
#include "serial/posix_driver.h"
#include "serial/serial_port.h"
#include "serial/system_timing.h"
#include "updater_dialog.h"

namespace {
constexpr int kExitBadUsage = 2;
constexpr char kWindowTitle[] = "ZEPHOR Update Program";
constexpr char kChooseFolderCaption[] = "Choose the working folder of the ZEPHOR update";

// Without a display the window still runs, drawn off screen.
void ChooseOffscreenWithoutDisplay() {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  }
}

struct StartOptions {
  std::string folder;
  bool chooseFolder = false;
};

// The images are read and the databases, journals and logs written in the working directory,
// so a start from a menu or a file manager first moves to the folder the technician works in.
// Returns the exit code when the program ends here.
std::optional<int> EnterWorkingFolder(int argc, char** argv) {
  StartOptions options;
  CLI::App command{
      "The ZEPHOR update window. It reads the image files and writes ZEPHORdata.bin, "
      "the journals and the reports in its working folder."};
  command.add_option("folder", options.folder, "Work in this folder (default: the current one)");
  command.add_flag("--choose-folder", options.chooseFolder,
                   "Without a folder, ask for one first (Cancel ends the program)");
  try {
    command.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return command.exit(e) == 0 ? EXIT_SUCCESS : kExitBadUsage;
  }
  if (options.folder.empty() && options.chooseFolder) {
    const QString chosen =
        QFileDialog::getExistingDirectory(nullptr, kChooseFolderCaption, QDir::homePath());
    if (chosen.isEmpty()) return EXIT_SUCCESS;
    options.folder = QFile::encodeName(chosen).toStdString();
  }
  if (options.folder.empty()) return std::nullopt;
  std::error_code error;
  std::filesystem::current_path(options.folder, error);
  if (error) {
    std::cerr << "zephor-update: cannot work in the folder " << options.folder << ": "
              << error.message() << "\n";
    return kExitBadUsage;
  }
  return std::nullopt;
}
}  // namespace

int main(int argc, char** argv) {
  ChooseOffscreenWithoutDisplay();
  // Qt takes its own options (-platform, -style, ...) out of the arguments here.
  QApplication application(argc, argv);
  if (const std::optional<int> code = EnterWorkingFolder(argc, argv)) return *code;
  // Interrupt, terminate and hang-up end a load through its clean-up, not in the middle of it.
  const zephor::app::SignalStop stopSignals;
  zephor::serial::PosixPortFactory system;
  zephor::serial::SystemTiming timing([] { QCoreApplication::processEvents(); });
  // ZEPHOR_TRACE=FILE: every byte on the line goes to FILE for the service engineer.
  zephor::app::TracedPorts ports(
      system, [&timing] { return timing.TickMs(); }, zephor::app::TraceFileFromEnvironment(),
      zephor::app::PortAndDevice);
  // A trace asked for and not written would be missed only when it is needed: no run without it.
  if (!ports.failure().empty()) {
    std::cerr << ports.failure() << std::endl;
    QMessageBox::critical(nullptr, kWindowTitle, QString::fromStdString(ports.failure()));
    return kExitBadUsage;
  }
  zephor::qt::UpdaterDialog dialog(ports.factory(), &timing, &std::cerr);
  dialog.StopOnSignals();
  // There is no main loop of the program's own: when the window ends, so does the program.
  const int code = dialog.exec();
  zephor::serial::CloseAllPorts();
  // A shell tells a stopped program by its code: 128 and the signal's number.
  if (zephor::app::SignalStop::Caught() != 0) return zephor::app::SignalStop::ExitCode();
  return code;
}

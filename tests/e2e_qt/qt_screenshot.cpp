// Presses Info ZEPHOR in the Qt window against zephor-sim and saves the window as a PNG, so the
// log's columns can be looked at.
//   qt_screenshot OUTPUT.png [ZEPHOR-SIM OPTIONS...]
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "sim_child.h"
#include "updater_dialog.h"

namespace {
constexpr char kReadyWord[] = "ready ";
constexpr int kAnswerPollMs = 20;
constexpr int kUsage = 2;
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: qt_screenshot OUTPUT.png [ZEPHOR-SIM OPTIONS...]\n";
    return kUsage;
  }
  QApplication application(argc, argv);
  const zephor::e2e::SimChild sim(std::vector<std::string>(argv + 2, argv + argc));
  // The simulator names its terminal on its first line.
  const std::string& ready = sim.ready();
  if (ready.rfind(kReadyWord, 0) != 0) {
    std::cerr << "qt_screenshot: zephor-sim did not start: " << ready << "\n";
    return EXIT_FAILURE;
  }
  std::string terminal = ready.substr(sizeof kReadyWord - 1);
  while (!terminal.empty() && (terminal.back() == '\n' || terminal.back() == '\r')) {
    terminal.pop_back();
  }
  setenv("ZEPHOR_COM1", terminal.c_str(), 1);

  zephor::serial::PosixPortFactory factory;
  zephor::serial::SystemTiming timing([] { QCoreApplication::processEvents(); });
  // The picture is the output: no copy of the log goes to the terminal.
  zephor::qt::UpdaterDialog dialog(&factory, &timing, nullptr);
  dialog.show();
  // A box raised on the way (no instrument answering) is answered as an operator would, and
  // its text is reported.
  QTimer answer;
  answer.setInterval(kAnswerPollMs);
  QObject::connect(&answer, &QTimer::timeout, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    std::cerr << "qt_screenshot: message box: " << box->text().toStdString() << "\n";
    box->button(QMessageBox::Ok)->click();
  });
  answer.start();
  auto* info = dialog.findChild<QPushButton*>(QString::number(zephor::qt::kInfoId));
  info->click();  // runs the whole Info handler before it returns
  answer.stop();

  const QPixmap shot = dialog.grab();
  if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::cerr << "qt_screenshot: cannot write " << argv[1] << "\n";
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}

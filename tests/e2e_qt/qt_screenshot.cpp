// Presses Make Update in the Qt window against a paced zephor-sim whose update ends in the
// database restore, and saves the window as a PNG in the middle of the memory's download: the
// log, the bar and the status line as a technician sees them.
//   qt_screenshot OUTPUT.png
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "image_set.h"
#include "serial/posix_driver.h"
#include "serial/system_timing.h"
#include "sim_child.h"
#include "temp_dir.h"
#include "updater_dialog.h"

namespace {
constexpr char kReadyWord[] = "ready ";
constexpr char kDownloadStatus[] = "Receiving ZEPHORdata.bin";
constexpr int kPollMs = 20;
constexpr int kUsage = 2;
// The shot is taken once the download is this far.
constexpr int kShotPercent = 35;

// The images of an update to boot and update 1.3 and main 1.40, which brings the restore after
// it.
void WriteImages(const std::filesystem::path& dir) {
  namespace script = zephor::update::script;
  const std::pair<const script::ImageSpec*, std::vector<std::uint8_t>> images[] = {
      {&script::kBootSpec, script::ImageBytes(script::kBootSpec, "1.3")},
      {&script::kUpdateSpec, script::ImageBytes(script::kUpdateSpec, "1.3")},
      {&script::kNewBootSpec, script::ImageBytes(script::kNewBootSpec, {})},
      {&script::kMainSpec, script::ImageBytes(script::kMainSpec, "1.40", "5")}};
  for (const auto& [spec, bytes] : images) {
    std::ofstream out(dir / spec->name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
}

// The per cent the status line shows, or -1.
int StatusPercent(const std::string& status) {
  const std::size_t sign = status.find(" %");
  if (status.rfind(kDownloadStatus, 0) != 0 || sign == std::string::npos) return -1;
  const std::size_t start = status.rfind(' ', sign - 1);
  return std::atoi(status.c_str() + (start == std::string::npos ? 0 : start + 1));
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qt_screenshot OUTPUT.png\n";
    return kUsage;
  }
  QApplication application(argc, argv);
  const zephor::support::TempDir scratch;
  const std::filesystem::path& folder = scratch.path();
  WriteImages(folder);
  const std::string link = (folder / "com1").string();
  // A "QH" instrument on main 1.31 with about 20 seconds of surveys at 9600 baud.
  const zephor::e2e::SimChild sim({"--link", link, "--main", "1.31", "--boot", "1.2", "--update",
                                   "1.2", "--grade", "QH", "--ready-delay", "300", "--generate-db",
                                   "7:20000", "--paced"});
  if (sim.ready().rfind(kReadyWord, 0) != 0) {
    std::cerr << "qt_screenshot: zephor-sim did not start: " << sim.ready() << "\n";
    return EXIT_FAILURE;
  }
  setenv("ZEPHOR_COM1", link.c_str(), 1);
  const zephor::support::WorkingDirectory working(folder);

  zephor::serial::PosixPortFactory factory;
  zephor::serial::SystemTiming timing([] { QCoreApplication::processEvents(); });
  // The picture is the output: no copy of the log goes to the terminal.
  zephor::qt::UpdaterDialog dialog(&factory, &timing, nullptr);
  dialog.show();
  auto* status = dialog.findChild<QLabel*>(QString::number(zephor::qt::kStatusLineId));
  bool saved = false;
  // Boxes are answered as an operator would; once the shot is taken the run is stopped.
  QTimer answer;
  answer.setInterval(kPollMs);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box->button(QMessageBox::Ok)->click();
      return;
    }
    if (saved || StatusPercent(status->text().toStdString()) < kShotPercent) return;
    saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
    if (!saved) std::cerr << "qt_screenshot: cannot write " << argv[1] << "\n";
    dialog.updater().StopForSignal();
  });
  answer.start();
  auto* makeUpdate = dialog.findChild<QPushButton*>(QString::number(zephor::qt::kMakeUpdateId));
  makeUpdate->click();  // runs the whole run before it returns
  answer.stop();
  if (!saved) {
    std::cerr << "qt_screenshot: the download was never seen; the log ends:\n"
              << dialog.updater().log().substr(
                     dialog.updater().log().size() > 600 ? dialog.updater().log().size() - 600 : 0)
              << "\n";
  }
  return saved ? EXIT_SUCCESS : EXIT_FAILURE;
}

// zephor-icon-png: writes the window's icon as PNG files for the desktop's icon theme, so a menu
// shows the same blue plate with its Z that the window carries.
//   zephor-icon-png DIR SIZE...   writes DIR/<SIZE>x<SIZE>/apps/zephor-update.png
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QString>
#include <cstdlib>
#include <iostream>

#include "app_icon.h"

namespace {
constexpr int kExitBadUsage = 2;
constexpr int kLargestIconSize = 1024;
constexpr char kIconName[] = "zephor-update.png";
}  // namespace

int main(int argc, char** argv) {
  // A build machine has no display; drawing needs none.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  if (argc < 3) {
    std::cerr << "usage: zephor-icon-png DIR SIZE...\n";
    return kExitBadUsage;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    bool isNumber = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&isNumber);
    if (!isNumber || size <= 0 || size > kLargestIconSize) {
      std::cerr << "zephor-icon-png: " << argv[i] << " is no icon size (1 to " << kLargestIconSize
                << ")\n";
      return kExitBadUsage;
    }
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    const QString file = folder + "/" + kIconName;
    if (!QDir().mkpath(folder) || !zephor::qt::AppIconPixmap(size).save(file, "PNG")) {
      std::cerr << "zephor-icon-png: cannot write " << file.toStdString() << "\n";
      return EXIT_FAILURE;
    }
  }
  return EXIT_SUCCESS;
}

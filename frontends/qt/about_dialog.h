// The About box: icon, version text and OK.
#pragma once

#include <QDialog>

namespace zephor::qt {

inline constexpr char kAboutCaption[] = "About ZEPHOR";
inline constexpr char kAboutText[] = "Update Version 1.40";

class AboutDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace zephor::qt

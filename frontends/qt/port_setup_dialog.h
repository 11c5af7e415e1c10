// The COM Port Setup dialog: a fixed list COM1 to COM4 whose position is the port number.
#pragma once

#include <QDialog>

class QComboBox;

namespace zephor::qt {

inline constexpr char kPortSetupCaption[] = "COM Port Setup";
inline constexpr int kPortComboId = 1005;

class PortSetupDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit PortSetupDialog(QWidget* parent = nullptr);
  // Filled before the dialog runs: the list then opens on this port.
  void setPortNumber(int portNumber);
  // Follows every selection change; the caller takes it only after OK.
  int portNumber() const { return portNumber_; }

 private:
  QComboBox* combo_;
  int portNumber_ = 0;
};

}  // namespace zephor::qt

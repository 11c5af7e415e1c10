// The COM Port Setup dialog: COM1 to COM4, whose position is the port number, then the ports
// found on this computer.
#pragma once

#include <QDialog>
#include <vector>

#include "app/port_choice.h"

class QComboBox;

namespace zephor::qt {

inline constexpr char kPortSetupCaption[] = "COM Port Setup";
inline constexpr int kPortComboId = 1005;

class PortSetupDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit PortSetupDialog(const std::vector<app::PortItem>& items = app::PortItems({}),
                           QWidget* parent = nullptr);
  // Filled before the dialog runs: the list then opens on this item.
  void setItem(int item);
  // Follows every selection change; the caller takes it only after OK.
  int item() const { return item_; }

 private:
  QComboBox* combo_;
  int item_ = 0;
};

}  // namespace zephor::qt

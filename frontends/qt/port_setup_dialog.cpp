// Port dialog, resource 129: 157 by 77 dialog units.
#include "port_setup_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include "app_icon.h"
#include "dialog_units.h"

namespace zephor::qt {

namespace {
constexpr int kPortSetupWidth = 157;
constexpr int kPortSetupHeight = 77;
// Without scrolling the list shows the four fixed ports and a few found ones.
constexpr int kVisibleItems = 8;
}  // namespace

PortSetupDialog::PortSetupDialog(const std::vector<app::PortItem>& items, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("129"));
  setFont(DialogFont());
  setWindowTitle(QString::fromLatin1(kPortSetupCaption));
  setWindowIcon(AppIcon());
  const DialogUnits du(font());

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("1"));
  du.Place(ok, 18, 44, 50, 14);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("2"));
  du.Place(cancel, 84, 44, 50, 14);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* label = new QLabel(QStringLiteral("Port"), this);
  du.Place(label, 37, 18, 14, 8);

  combo_ = new QComboBox(this);
  combo_->setObjectName(QString::number(kPortComboId));
  combo_->setEditable(false);
  for (const app::PortItem& item : items) combo_->addItem(QString::fromStdString(item.text));
  // The template's height is that of the dropped list; the closed box keeps its own height.
  combo_->setGeometry(du.X(55), du.Y(16), du.X(59), combo_->sizeHint().height());
  combo_->setMaxVisibleItems(kVisibleItems);
  // A found port's description is wider than the box: the dropped list widens to show it.
  combo_->view()->setMinimumWidth(combo_->view()->sizeHintForColumn(0));
  connect(combo_, &QComboBox::currentIndexChanged, this, [this](int index) { item_ = index; });

  setTabOrder(ok, cancel);
  setTabOrder(cancel, combo_);
  ok->setFocus();
  setFixedSize(du.Size(kPortSetupWidth, kPortSetupHeight));
}

void PortSetupDialog::setItem(int item) {
  item_ = item;
  // A position outside the list selects nothing, and it stays until the selection changes.
  const QSignalBlocker block(combo_);
  combo_->setCurrentIndex(item >= 0 && item < combo_->count() ? item : -1);
}

}  // namespace zephor::qt

// About box, resource 100: 235 by 55 dialog units.
#include "about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app_icon.h"
#include "dialog_units.h"

namespace zephor::qt {

namespace {
constexpr int kAboutWidth = 235;
constexpr int kAboutHeight = 55;
}  // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("100"));
  setFont(DialogFont());
  setWindowTitle(QString::fromLatin1(kAboutCaption));
  setWindowIcon(AppIcon());
  const DialogUnits du(font());

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  icon->setPixmap(AppIconPixmap(kSystemIconSize));
  icon->setGeometry(du.X(11), du.Y(17), kSystemIconSize, kSystemIconSize);

  auto* text = new QLabel(QString::fromLatin1(kAboutText), this);
  text->setObjectName(QStringLiteral("text"));
  du.Place(text, 40, 10, 119, 8);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("1"));
  du.Place(ok, 178, 7, 50, 14);
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(du.Size(kAboutWidth, kAboutHeight));
}

}  // namespace zephor::qt

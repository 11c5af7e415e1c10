// The average width is taken over the 52 letters and rounded, as the dialog manager does.
#include "dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace zephor::qt {

namespace {
constexpr int kHorizontalDivisor = 4;
constexpr int kVerticalDivisor = 8;
constexpr int kLetterCount = 26;
constexpr char kDialogFontFamily[] = "MS Sans Serif";
constexpr int kDialogFontPoints = 8;

// a * b / c rounded to the nearest integer.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }
}  // namespace

QFont DialogFont() {
  QFont font(QString::fromLatin1(kDialogFontFamily), kDialogFontPoints);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  averageCharWidth_ = (letters / kLetterCount + 1) / 2;
  if (averageCharWidth_ < 1) averageCharWidth_ = 1;
  charHeight_ = metrics.height();
  if (charHeight_ < 1) charHeight_ = 1;
}

int DialogUnits::X(int units) const { return MulDiv(units, averageCharWidth_, kHorizontalDivisor); }

int DialogUnits::Y(int units) const { return MulDiv(units, charHeight_, kVerticalDivisor); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

void DialogUnits::Place(QWidget* control, int x, int y, int width, int height) const {
  control->setGeometry(Rect(x, y, width, height));
}

}  // namespace zephor::qt

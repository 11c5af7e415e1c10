// Dialog units to pixels, from the dialog font's average character width and height.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>

namespace zephor::qt {

// The dialog templates are laid out for "MS Sans Serif" at 8 points.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Horizontal units are quarters of the average character width, vertical ones eighths of the
  // character height.
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;
  // Places a control at its template rectangle.
  void Place(QWidget* control, int x, int y, int width, int height) const;

  int averageCharWidth() const { return averageCharWidth_; }
  int charHeight() const { return charHeight_; }

 private:
  int averageCharWidth_;
  int charHeight_;
};

}  // namespace zephor::qt

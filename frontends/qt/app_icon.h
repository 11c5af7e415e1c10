// The application icon, drawn in code: a blue plate with a white Z.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace zephor::qt {

inline constexpr int kSystemIconSize = 32;

QPixmap AppIconPixmap(int size);
QIcon AppIcon();

}  // namespace zephor::qt

// The font of the main window's panel titles ("Current Settings",
// "Packet Builder").
#pragma once

#include <QFont>

namespace qmx {

inline QFont TitleFont() {
  QFont f("Arial");
  f.setPixelSize(20);
  return f;
}

}  // namespace qmx

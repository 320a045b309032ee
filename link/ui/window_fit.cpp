#include "link/ui/window_fit.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLayout>
#include <QScreen>
#include <QSpacerItem>
#include <QWidget>
#include <algorithm>

namespace qmx {

namespace {
// The title bar's icon, its minimise, maximise and close buttons, margins.
constexpr int kTitleBarExtras = 160;
}  // namespace

int CaptionWidth(const QWidget& window) {
  QFont title = window.font();
  title.setBold(true);
  return QFontMetrics(title).horizontalAdvance(window.windowTitle()) + kTitleBarExtras;
}

void KeepCaptionWhole(QWidget& window) {
  const int wanted = CaptionWidth(window);
  // A layout that fixes the window's size would undo a minimum width; a
  // spacer as wide as the caption makes the layout itself that wide.
  auto* spacer = new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
  if (auto* grid = qobject_cast<QGridLayout*>(window.layout())) {
    grid->addItem(spacer, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
  } else if (QLayout* layout = window.layout()) {
    layout->addItem(spacer);
  } else {
    delete spacer;
    window.setMinimumWidth(std::max(window.minimumWidth(), wanted));
  }
}

void CentreOverParent(QWidget& window) {
  const QWidget* parent = window.parentWidget() ? window.parentWidget()->window() : nullptr;
  const QScreen* screen = parent ? parent->screen() : window.screen();
  if (!screen) return;
  const QRect free = screen->availableGeometry();
  const QRect over = parent ? parent->frameGeometry() : free;
  QRect placed = window.frameGeometry();
  placed.moveCenter(over.center());
  // Not past the screen's right or bottom edge, then not past its left or top.
  placed.moveRight(std::min(placed.right(), free.right()));
  placed.moveBottom(std::min(placed.bottom(), free.bottom()));
  placed.moveLeft(std::max(placed.left(), free.left()));
  placed.moveTop(std::max(placed.top(), free.top()));
  window.move(placed.topLeft());
}

}  // namespace qmx

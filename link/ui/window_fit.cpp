#include "link/ui/window_fit.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLayout>
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

}  // namespace qmx

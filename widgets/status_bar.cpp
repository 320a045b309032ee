#include "widgets/status_bar.h"

#include <QLabel>

namespace qmx {

QLabel* MakeStatusBar(QWidget* parent, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName("StatusBar1");
  label->setAlignment(Qt::AlignCenter);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  return label;
}

}  // namespace qmx

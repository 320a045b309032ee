#include "tools/ui/tool_forms.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qmx {

ToolForm::ToolForm(const char* objectName, const char* caption, QWidget* parent) : QDialog(parent) {
  setObjectName(objectName);
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  auto* close = new QPushButton("Close", this);
  StatusBar1 = new QLabel(this);
  StatusBar1->setAlignment(Qt::AlignCenter);
  StatusBar1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  layout->addStretch(1);
  layout->addWidget(close, 0, Qt::AlignHCenter);
  layout->addWidget(StatusBar1);
  setFixedSize(420, 240);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace qmx

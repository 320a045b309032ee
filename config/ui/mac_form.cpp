#include "config/ui/mac_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qmx {

TMACForm::TMACForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TMACForm");
  setWindowTitle("MAC Address Write");
  MACAddressEdit = new QLineEdit(this);
  MACAddressEdit->setObjectName("MACAddressEdit");
  MACAddressEdit->setMinimumWidth(MACAddressEdit->fontMetrics().horizontalAdvance("00:00:00:00:00:00:00:00") + 24);
  WriteButton = new QPushButton("Write", this);
  WriteButton->setObjectName("WriteButton");
  StatusBar1 = new QLabel(this);
  StatusBar1->setAlignment(Qt::AlignCenter);
  StatusBar1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MACAddressEdit);
  layout->addWidget(WriteButton, 0, Qt::AlignHCenter);
  layout->addWidget(StatusBar1);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace qmx

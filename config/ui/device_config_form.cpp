#include "config/ui/device_config_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qmx {

TDeviceConfigForm::TDeviceConfigForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TDeviceConfigForm");
  setWindowTitle("Device Config");
  PageControl1 = new QTabWidget(this);
  for (const char* tab : {"Transceiver Setup", "System", "Status", "Serial", "Protocol", "I/O Peripherals",
                          "I/O Setup", "I/O Setup", "Diag", "Debug"})
    PageControl1->addTab(new QWidget(PageControl1), tab);
  ApplyButton = new QPushButton("Apply", this);
  CancelButton = new QPushButton("Cancel", this);
  RefreshButton = new QPushButton("Refresh", this);
  StatusBar1 = new QLabel(this);
  StatusBar1->setAlignment(Qt::AlignCenter);
  StatusBar1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {ApplyButton, CancelButton, RefreshButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1, 1);
  layout->addLayout(buttons);
  layout->addWidget(StatusBar1);
  setFixedSize(640, 480);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace qmx

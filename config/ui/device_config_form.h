// "Device Config": every setting and status value of one radio.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTabWidget;

namespace qmx {

class TDeviceConfigForm : public QDialog {
  Q_OBJECT

 public:
  explicit TDeviceConfigForm(QWidget* parent = nullptr);
  // 0: the local radio; 1 … 4: the radios of the Poll I/O tab.
  int RadioIndex = 0;

  QTabWidget* PageControl1;
  QPushButton* ApplyButton;
  QPushButton* CancelButton;
  QPushButton* RefreshButton;
  QLabel* StatusBar1;
};

}  // namespace qmx

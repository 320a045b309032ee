// "MAC Address Write": gives the local radio a new MAC address.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qmx {

class TMACForm : public QDialog {
  Q_OBJECT

 public:
  explicit TMACForm(QWidget* parent = nullptr);
  QLineEdit* MACAddressEdit;
  QPushButton* WriteButton;
  QLabel* StatusBar1;
};

}  // namespace qmx

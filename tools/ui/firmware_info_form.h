// "OrvaneProg Information": two centred lines, shown without buttons while
// the firmware upgrade waits for the radio.
#pragma once

#include <QDialog>

class QLabel;

namespace qmx {

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  QLabel* Label1;
  QLabel* Label2;
};

}  // namespace qmx

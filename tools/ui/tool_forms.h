// The tool windows opened from the main window: packet builder,
// diagnostics with its note window, and the firmware upgrade.
#pragma once

#include <QDialog>

class QLabel;

namespace qmx {

// A modal tool window with a title and a one-panel status bar.
class ToolForm : public QDialog {
  Q_OBJECT

 public:
  ToolForm(const char* objectName, const char* caption, QWidget* parent);
  QLabel* StatusBar1;
};

class TPacketForm : public ToolForm {
  Q_OBJECT

 public:
  explicit TPacketForm(QWidget* parent = nullptr) : ToolForm("TPacketForm", "Packet Builder", parent) {}
};

class TForm3 : public ToolForm {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr) : ToolForm("TForm3", "Upgrade Firmware", parent) {}
};

}  // namespace qmx

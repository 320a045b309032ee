// The tool windows opened from the main window: packet builder,
// diagnostics with its note window, and the firmware upgrade.
#pragma once

#include <QDialog>

#include "tools/ui/firmware_form.h"

class QLabel;

namespace qmx {

// A modal tool window with a title and a one-panel status bar.
class ToolForm : public QDialog {
  Q_OBJECT

 public:
  ToolForm(const char* objectName, const char* caption, QWidget* parent);
  QLabel* StatusBar1;
};

class TDiagForm : public ToolForm {
  Q_OBJECT

 public:
  explicit TDiagForm(QWidget* parent = nullptr) : ToolForm("TDiagForm", "Diagnostics", parent) {}
};

class TInsertNoteForm : public ToolForm {
  Q_OBJECT

 public:
  explicit TInsertNoteForm(QWidget* parent = nullptr) : ToolForm("TInsertNoteForm", "InsertNoteForm", parent) {}
};

}  // namespace qmx

// The note window of the diagnostics: a line typed by the user goes into
// diagfile.dat between the measurements. Shown without being modal.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace qmx {

class DiagLog;

class TInsertNoteForm : public QDialog {
  Q_OBJECT

 public:
  TInsertNoteForm(DiagLog& log, QWidget* parent = nullptr);

  QLineEdit* Edit1;
  QPushButton* WriteButton;
  QPushButton* CloseButton;

 public slots:
  // The edit's text as one line of diagfile.dat; the text stays.
  void WriteButtonClick();
  void CloseButtonClick() { close(); }

 private:
  DiagLog& log_;
};

}  // namespace qmx

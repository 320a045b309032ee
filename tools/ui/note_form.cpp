#include "tools/ui/note_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "tools/diag_log.h"

namespace qmx {

TInsertNoteForm::TInsertNoteForm(DiagLog& log, QWidget* parent) : QDialog(parent), log_(log) {
  setObjectName("TInsertNoteForm");
  setWindowTitle("InsertNoteForm");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Information to Insert into LogFile", this));
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setMinimumWidth(360);
  layout->addWidget(Edit1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  WriteButton = new QPushButton("Write", this);
  WriteButton->setObjectName("WriteButton");
  CloseButton = new QPushButton("Close", this);
  CloseButton->setObjectName("CloseButton");
  buttons->addWidget(WriteButton);
  buttons->addWidget(CloseButton);
  layout->addLayout(buttons);
  // Fixed border: the size the contents need, no resizing.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  connect(WriteButton, &QPushButton::clicked, this, &TInsertNoteForm::WriteButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &TInsertNoteForm::CloseButtonClick);
}

void TInsertNoteForm::WriteButtonClick() { log_.Write(Edit1->text().toStdString(), true); }

}  // namespace qmx

#include "tools/ui/firmware_info_form.h"

#include <QLabel>
#include <QVBoxLayout>

#include "link/ui/window_fit.h"

namespace qmx {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName("TForm2");
  setWindowTitle("OrvaneProg Information");
  Label1 = new QLabel("Detecting Radio", this);
  Label2 = new QLabel("Please power cycle radio", this);
  for (QLabel* l : {Label1, Label2}) {
    l->setAlignment(Qt::AlignCenter);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    l->setFont(f);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(Label2);
  layout->setContentsMargins(30, 20, 30, 20);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  KeepCaptionWhole(*this);
}

}  // namespace qmx

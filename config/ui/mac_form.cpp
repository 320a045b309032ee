#include "config/ui/mac_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/config_report.h"
#include "link/radio_link.h"
#include "link/ui/busy_cursor.h"
#include "link/ui/window_fit.h"
#include "widgets/status_bar.h"

namespace qmx {

TMACForm::TMACForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TMACForm");
  setWindowTitle("MAC Address Write");
  MACAddressEdit = new QLineEdit(this);
  MACAddressEdit->setObjectName("MACAddressEdit");
  MACAddressEdit->setMinimumWidth(MACAddressEdit->fontMetrics().horizontalAdvance("00:00:00:00:00:00:00:00") + 24);
  WriteButton = new QPushButton("Write", this);
  WriteButton->setObjectName("WriteButton");
  StatusBar1 = MakeStatusBar(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("New MAC Address", this));
  layout->addWidget(MACAddressEdit);
  layout->addWidget(WriteButton, 0, Qt::AlignHCenter);
  layout->addWidget(StatusBar1);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  KeepCaptionWhole(*this);
  connect(WriteButton, &QPushButton::clicked, this, &TMACForm::WriteButtonClick);
}

void TMACForm::Attach(RadioLink& link, Prompter& prompter, std::function<void(const QString&)> written) {
  link_ = &link;
  prompter_ = &prompter;
  written_ = std::move(written);
}

void TMACForm::WriteButtonClick() {
  if (!link_ || !prompter_) return;
  const QString text = MACAddressEdit->text();
  bool written = false;  // not while another write runs
  guard_.Run([&] {
    BusyCursor busy;
    written = WriteMacAddressShown(link_->commands, *prompter_, text.toLatin1().toStdString());
  });
  if (!written) return;
  if (written_) written_(text);
  accept();
}

void TMACForm::done(int result) {
  if (guard_.Running()) return;  // the dialog closes once the write has ended
  QDialog::done(result);
}

}  // namespace qmx

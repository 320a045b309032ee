// The main window's status panel: its values, the hidden MAC address entry
// and the collapse box.
#include "mainwindow/ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/local_status.h"
#include "config/ui/mac_form.h"
#include "mainwindow/ui/network_tab.h"
#include "mainwindow/ui/title_font.h"
#include "link/radio_link.h"
#include "mainwindow/window_title.h"
#include "tools/about_info.h"

namespace qmx {

namespace {

constexpr int kPanelWidth = 225;

}  // namespace

QWidget* TForm1::BuildStatusPanel() {
  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedWidth(kPanelWidth);
  auto* layout = new QVBoxLayout(Panel1);
  layout->setContentsMargins(8, 6, 8, 8);

  auto* titleRow = new QHBoxLayout;
  StaticText1 = new QLabel("Current Settings", Panel1);
  StaticText1->setFont(TitleFont());
  CloseCheckBox = new QCheckBox(Panel1);
  CloseCheckBox->setObjectName("CloseCheckBox");
  CloseCheckBox->setVisible(false);
  titleRow->addWidget(StaticText1, 1, Qt::AlignHCenter);
  titleRow->addWidget(CloseCheckBox, 0, Qt::AlignTop | Qt::AlignRight);
  layout->addLayout(titleRow);
  layout->addSpacing(10);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(10);
  const char* names[] = {"DeviceModeStaticText",     "CurrentPanIDStaticText", "CurrentChannelStaticText",
                         "CurrentNetworkStaticText", "MACAddressStaticText",   "FirmwareVersionStaticText",
                         "LinkStatusStaticText",     "SecurityStaticText"};
  for (int i = 0; i < 8; ++i) {
    auto* label = new QLabel(kLocalStatusLabels[static_cast<std::size_t>(i)], Panel1);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    auto* value = new QLabel(Panel1);
    value->setObjectName(names[i]);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusValues_[static_cast<std::size_t>(i)] = value;
    // The MAC address is the widest value: it gets the row below its label.
    if (i == 4) {
      grid->addWidget(label, i * 2, 0, 1, 2);
      grid->addWidget(value, i * 2 + 1, 0, 1, 2, Qt::AlignRight);
      MACAddressLabel = label;
    } else {
      grid->addWidget(label, i * 2, 0);
      grid->addWidget(value, i * 2, 1);
    }
    if (i == 6) LinkStatusLabel = label;
  }
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  DeviceModeStaticText = statusValues_[0];
  CurrentPanIDStaticText = statusValues_[1];
  CurrentChannelStaticText = statusValues_[2];
  CurrentNetworkStaticText = statusValues_[3];
  MACAddressStaticText = statusValues_[4];
  FirmwareVersionStaticText = statusValues_[5];
  LinkStatusStaticText = statusValues_[6];
  SecurityStaticText = statusValues_[7];
  layout->addStretch(1);

  RefreshButton = new QPushButton("Refresh", Panel1);
  ConfigButton = new QPushButton("Config", Panel1);
  UpgradeButton = new QPushButton("Upgrade", Panel1);
  ConnectButton = new QPushButton("Connect", Panel1);
  RefreshButton->setObjectName("RefreshButton");
  ConfigButton->setObjectName("ConfigButton");
  UpgradeButton->setObjectName("UpgradeButton");
  ConnectButton->setObjectName("ConnectButton");
  auto* buttons = new QGridLayout;
  buttons->addWidget(RefreshButton, 0, 0);
  buttons->addWidget(ConfigButton, 0, 1);
  buttons->addWidget(UpgradeButton, 1, 0);
  buttons->addWidget(ConnectButton, 1, 1);
  layout->addLayout(buttons);

  connect(ConnectButton, &QPushButton::clicked, this, &TForm1::ConnectButtonClick);
  connect(RefreshButton, &QPushButton::clicked, this, &TForm1::RefreshButtonClick);
  connect(ConfigButton, &QPushButton::clicked, this, &TForm1::ConfigButtonClick);
  connect(UpgradeButton, &QPushButton::clicked, this, &TForm1::UpgradeButtonClick);
  for (QLabel* l : {MACAddressLabel, MACAddressStaticText, LinkStatusLabel, LinkStatusStaticText})
    l->installEventFilter(this);
  return Panel1;
}


void TForm1::SetStatus(const QString& text) {
  StatusBar1->setText(text);
  ShowTitle();
}

void TForm1::ShowTitle() {
  setWindowTitle(QString::fromStdString(WindowTitle(kProgramTitle, link_.session.State(), link_.session.Port().label)));
}

QString TForm1::StatusText() const { return StatusBar1->text(); }
bool TForm1::Connected() const { return connected_; }

std::array<QString, 8> TForm1::StatusValues() const {
  std::array<QString, 8> texts;
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = statusValues_[i]->text();
  return texts;
}

void TForm1::ShowLocalStatus() {
  const LocalStatusTexts local = FormatLocalStatus(image_, 0);
  const auto rows = StatusRows(local);
  for (std::size_t i = 0; i < rows.size(); ++i) statusValues_[i]->setText(QString::fromStdString(rows[i]));
  // The local radio is the Network tab's first row.
  Network->SetBase(local.networkValue, local.mac);
}

void TForm1::ClearLocalStatus() {
  for (QLabel* value : statusValues_) value->clear();
}


void TForm1::MACAddressStaticTextMouseDown() {
  if (!forms_.mac) return;
  const QString shown = MACAddressStaticText->text();
  MACAddressStaticText->clear();
  forms_.mac->MACAddressEdit->clear();
  // A written address has been put in its place; otherwise the radio keeps
  // the one shown before, unless the panel changed meanwhile (a lost port
  // cleared it, a reconnect read it again).
  if (forms_.mac->exec() != QDialog::Accepted && connected_ && MACAddressStaticText->text().isEmpty())
    MACAddressStaticText->setText(shown);
}

void TForm1::MACAddressContextMenu(const QPoint& at) {
  QMenu menu(this);
  if (const QString mac = MACAddressStaticText->text(); !mac.isEmpty())
    menu.addAction("&Copy", this, [mac] { QApplication::clipboard()->setText(mac); });
  menu.addAction(WriteMACAddress1);
  menu.exec(at);
}


void TForm1::CloseCheckBoxClick() {
  const bool collapse = CloseCheckBox->isChecked();
  for (QWidget* w : Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w != CloseCheckBox) w->setVisible(!collapse);
  if (collapse) {
    // The panel keeps only the box; the tabs take its place.
    Panel1->layout()->setContentsMargins(1, 1, 1, 1);
    Panel1->setFixedWidth(CloseCheckBox->sizeHint().width() + 2);
  } else {
    Panel1->layout()->setContentsMargins(panelMargins_);
    Panel1->setFixedWidth(panelWidth_);
  }
}

}  // namespace qmx

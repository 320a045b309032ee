#include "mainwindow/ui/main_window.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>

#include "config/local_status.h"
#include "config/register_map.h"
#include "config/ui/device_config_form.h"
#include "config/ui/mac_form.h"
#include "link/number_text.h"
#include "link/radio_link.h"
#include "mainwindow/ui/events_tab.h"
#include "mainwindow/ui/network_tab.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "mainwindow/ui/received_column.h"
#include "mainwindow/ui/serial_tab.h"
#include "mainwindow/ui/terminal_tab.h"
#include "mainwindow/ui/view_queue.h"
#include "tools/ui/about_form.h"
#include "tools/ui/diag_form.h"
#include "tools/ui/firmware_form.h"

namespace qmx {

namespace {

constexpr int kClientWidth = 951;
constexpr int kClientHeight = 553;

}  // namespace

TForm1::TForm1(RadioLink& link, RadioImage& image, Prompter& prompter, WorkDir& dir, MainWindowForms forms,
               QWidget* parent)
    : QMainWindow(parent),
      link_(link),
      image_(image),
      prompter_(prompter),
      dir_(dir),
      forms_(forms) {
  setObjectName("TForm1");
  ShowTitle();
  BuildMenus();

  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  row->addWidget(BuildStatusPanel());
  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName("PageControl1");
  Serial = new SerialTab(link_.commands, link_.session, prompter_);
  MACAddressRichEdit = Serial->MACAddressRichEdit;
  ReceivedDataRichEdit = Serial->ReceivedDataRichEdit;
  LQIRichEdit = Serial->LQIRichEdit;
  HexCheckBox = Serial->HexCheckBox;
  ScrollRealTimeCheckBox = Serial->ScrollRealTimeCheckBox;
  ClearButton = Serial->ClearButton;
  NetworkAddrComboBox = Serial->NetworkAddrComboBox;
  IntervalEdit = Serial->IntervalEdit;
  TransmitEdit = Serial->TransmitEdit;
  TXStatusEdit = Serial->TXStatusEdit;
  LQIEdit = Serial->LQIEdit;
  DataCheckBox = Serial->DataCheckBox;
  CRCheckBox = Serial->CRCheckBox;
  TransmitButton = Serial->TransmitButton;
  PollIO = BuildPollTab();
  Events = new EventsTab;
  EventRichEdit = Events->EventRichEdit;
  ClearEventButton = Events->ClearEventButton;
  Zavedo = new TerminalTab(link_, prompter_, ShowSettingsInHex1);
  ZavedoRichEdit = Zavedo->ZavedoRichEdit;
  ZavedoTransmitButton = Zavedo->ZavedoTransmitButton;
  connect(Zavedo, &TerminalTab::EventLine, Events, &EventsTab::AppendLine);
  BuildNetworkTab();
  sink_ = std::make_unique<ViewQueue>(this, *Serial, *Events, *PollIO, *Network);
  PageControl1->addTab(Serial, "Serial");
  PageControl1->addTab(PollIO, "Poll I/O");
  PageControl1->addTab(Events, "Events");
  PageControl1->addTab(Zavedo, "Zavedo");
  PageControl1->addTab(Network, "Network");
  row->addWidget(PageControl1, 1);
  setCentralWidget(central);

  StatusBar1 = new QLabel(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setAlignment(Qt::AlignCenter);
  statusBar()->addWidget(StatusBar1, 1);
  statusBar()->setSizeGripEnabled(false);

  // Start-up: status line, the link's counter, the parser thread.
  SetStatus("Not Connected to Device");
  link_.sequence.Reset(0);
  link_.decoder.SetClock(&EventsTab::Timestamp);
  link_.parser.Start();
  ClearLocalStatus();
  Serial->ClearColumns();
  for (QTextEdit* v : {EventRichEdit, ZavedoRichEdit}) v->clear();
  NetworkAddrComboBox->clear();
  for (QComboBox* box : RadioNetworkAddressComboBox) box->clear();
  PageControl1->setCurrentIndex(0);
  connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::TabSelected);
  connect(Serial, &SerialTab::DestinationsChanged, this, &TForm1::CopyDestinationsToPollTab);
  connect(Serial, &SerialTab::CommandsEnded, this, &TForm1::PeriodicCommandEnded);
  connect(PollIO, &PollIoTab::CommandsEnded, this, &TForm1::PeriodicCommandEnded);
  panelWidth_ = Panel1->width();
  panelMargins_ = Panel1->layout()->contentsMargins();
  connect(CloseCheckBox, &QCheckBox::toggled, this, &TForm1::CloseCheckBoxClick);
  ResetPollControls(false);
  SetConnectedControls(false);

  RegisterWriters();
  link_.SetPortLostListener([this, self = QPointer<TForm1>(this)] {
    QMetaObject::invokeMethod(
        this, [self] { if (self) self->PortLost(); }, Qt::QueuedConnection);
  });

  // The designed size at first; the window may be resized and maximised,
  // the views and the Poll I/O groups growing with it.
  const int menuHeight = menuBar()->sizeHint().height();
  const QSize wanted(kClientWidth, kClientHeight + menuHeight);
  resize(wanted.expandedTo(minimumSizeHint()));

  // Sees the shortcut checks of every widget, so that the menu's keys win
  // over the same keys of the window's text fields (see eventFilter).
  qApp->installEventFilter(this);
}

TForm1::~TForm1() {
  link_.session.StopWaiting();
  link_.SetPortLostListener(nullptr);
  link_.commands.SetRemoteReplyObserver({});
  link_.parser.Stop();
}

ViewSink& TForm1::Sink() { return *sink_; }

void TForm1::BuildMenus() {
  auto item = [this](QMenu* menu, const char* name, const char* caption, bool checkable = false,
                     bool checked = false) {
    auto* a = menu->addAction(caption);
    a->setObjectName(name);
    a->setCheckable(checkable);
    a->setChecked(checked);
    return a;
  };
  QMenu* file = menuBar()->addMenu("&File");
  Connect1 = item(file, "Connect1", "Connect");
  Connect1->setShortcut(QKeySequence("Ctrl+C"));
  Connect1->setShortcutContext(Qt::ApplicationShortcut);
  file->addSeparator();
  SaveSettings1 = item(file, "SaveSettings1", "Save Settings");
  SaveSettings1->setShortcut(QKeySequence("Ctrl+S"));
  file->addSeparator();
  Exit1 = item(file, "Exit1", "E&xit");

  QMenu* view = menuBar()->addMenu("&View");
  ShowCommErrors1 = item(view, "ShowCommErrors1", "Show Comm Errors", true, false);
  ShowSettingsInHex1 = item(view, "ShowSettingsInHex1", "Show Settings In Hex", true, true);
  LogData1 = item(view, "LogData1", "Log Data", true, false);

  QMenu* options = menuBar()->addMenu("&Options");
  PacketBuilder1 = item(options, "PacketBuilder1", "Packet Builder");
  PacketBuilder1->setEnabled(false);
  options->addSeparator();
  Diag1 = item(options, "Diag1", "Diagnostics");
  Diag1->setEnabled(false);
  WriteMACAddress1 = item(options, "WriteMACAddress1", "Write MAC Address...");
  WriteMACAddress1->setEnabled(false);
  options->addSeparator();
  ObeyCTS = item(options, "ObeyCTS", "Obey CTS", true, false);

  QMenu* help = menuBar()->addMenu("&Help");
  About1 = item(help, "About1", "&About");

  connect(Connect1, &QAction::triggered, this, &TForm1::Connect1Click);
  connect(SaveSettings1, &QAction::triggered, this, &TForm1::SaveSettings1Click);
  connect(Exit1, &QAction::triggered, this, &TForm1::CloseProgram);
  connect(PacketBuilder1, &QAction::triggered, this, &TForm1::PacketBuilder1Click);
  connect(Diag1, &QAction::triggered, this, &TForm1::Diag1Click);
  connect(WriteMACAddress1, &QAction::triggered, this, &TForm1::MACAddressStaticTextMouseDown);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
  connect(ShowCommErrors1, &QAction::toggled, this, [this](bool on) { link_.options.showCommErrors = on; });
  connect(LogData1, &QAction::toggled, this, [this](bool on) { link_.options.logData = on; });
  connect(ObeyCTS, &QAction::toggled, this, [this](bool on) { link_.options.obeyCts = on; });
}

PollIoTab* TForm1::BuildPollTab() {
  auto* tab = new PollIoTab(link_.commands, image_, prompter_);
  for (std::size_t i = 0; i < RadioNetworkAddressComboBox.size(); ++i)
    RadioNetworkAddressComboBox[i] = tab->RemoteRadioControls[i].networkAddress;
  RefreshPollButton = tab->RefreshPollButton;
  connect(tab, &PollIoTab::StatusChanged, this, &TForm1::SetStatus);
  tab->SetConfigOpener([this](RadioIndex slot, std::uint16_t address) {
    if (forms_.config) forms_.config->Open(slot, address);
  });
  return tab;
}

void TForm1::BuildNetworkTab() {
  Network = new NetworkTab(link_.commands, prompter_, dir_);
  Network->SetHooks({[this](int slot, std::uint16_t address) {
                       if (forms_.config) forms_.config->Open(slot, address);
                     },
                     [this] { return PollIO->AddressTexts(); },
                     [this](int slot, std::uint16_t address) { PollIO->TakeRadio(slot, address); }});
  connect(Network, &NetworkTab::CommandsEnded, this, &TForm1::PeriodicCommandEnded);
  connect(Network, &NetworkTab::NamesChanged, this, &TForm1::ShowNamesInLists);
  // A command may run off this thread: the row is told on this one.
  link_.commands.SetRemoteReplyObserver([tab = Network](std::uint16_t address, std::uint8_t lqi) {
    QMetaObject::invokeMethod(tab, [tab, address, lqi] { tab->RemoteReplied(address, lqi); }, Qt::QueuedConnection);
  });
}

void TForm1::ShowNamesInLists() {
  std::vector<QComboBox*> boxes{NetworkAddrComboBox};
  boxes.insert(boxes.end(), RadioNetworkAddressComboBox.begin(), RadioNetworkAddressComboBox.end());
  for (QComboBox* box : boxes) {
    // A change of an item makes the box show that item's text again: what
    // the user typed stays, and nobody hears of it.
    const QSignalBlocker quiet(box);
    const QString typed = box->currentText();
    for (int i = 0; i < box->count(); ++i) {
      const std::optional<std::uint16_t> address = NetworkAddressFromText(box->itemText(i).toStdString());
      const std::optional<std::string> name = address ? Network->NameAt(*address) : std::nullopt;
      const QVariant tip = name ? QVariant(QString::fromStdString(*name)) : QVariant();
      if (box->itemData(i, Qt::ToolTipRole) != tip) box->setItemData(i, tip, Qt::ToolTipRole);
    }
    if (box->currentText() != typed) box->setEditText(typed);
  }
}

void TForm1::SetForms(const MainWindowForms& forms) {
  forms_ = forms;
  if (forms_.config) {
    forms_.config->Attach(link_, image_, prompter_, [this] { ShowLocalStatus(); });
    forms_.config->SetNames([this](std::uint16_t address) { return Network->NameAt(address); });
  }
  if (forms_.mac)
    forms_.mac->Attach(link_, prompter_, [this](const QString& text) { MACAddressStaticText->setText(text); });
}

void TForm1::ResetPollControls(bool on) { PollIO->ResetPollControls(on); }

void TForm1::SetConnectedControls(bool connected) {
  connected_ = connected;
  ConnectButton->setText(connected ? "Disconnect" : "Connect");
  PageControl1->setEnabled(connected);
  // The tools talk to the radio in protocol mode: not while the terminal
  // holds the port.
  const bool tools = connected && !inTerminal_;
  for (QWidget* w : {static_cast<QWidget*>(ConfigButton), static_cast<QWidget*>(RefreshButton),
                     static_cast<QWidget*>(UpgradeButton)})
    w->setEnabled(tools);
  Diag1->setEnabled(tools);
  PacketBuilder1->setEnabled(tools);
  WriteMACAddress1->setEnabled(tools && forms_.mac);
  Network->SetConnected(tools);
}

// Marks a radio operation of this window as running; a second one started
// from an event handled while the first waits is ignored.
void TForm1::ConfigButtonClick() {
  if (forms_.config) forms_.config->Open(0);
}

void TForm1::About1Click() {
  if (forms_.about) forms_.about->exec();
}

void TForm1::PacketBuilder1Click() {
  if (auto* d = qobject_cast<QDialog*>(forms_.packetBuilder)) d->exec();
}

void TForm1::Diag1Click() {
  if (!Connected()) return;
  if (auto* d = qobject_cast<TDiagForm*>(forms_.diagnostics)) {
    d->SetDeviceModeSource([this] { return static_cast<std::uint8_t>(image_.Value(0, 0, 0, 1)); });
    d->exec();
  }
}

namespace {

// A text control (or the edit inside a spin or combo box) with selected text.
bool HasTextSelection(QObject* o) {
  if (auto* box = qobject_cast<QComboBox*>(o)) o = box->lineEdit();
  if (auto* spin = qobject_cast<QAbstractSpinBox*>(o)) o = spin->findChild<QLineEdit*>();
  if (auto* line = qobject_cast<QLineEdit*>(o)) return line->hasSelectedText();
  if (auto* text = qobject_cast<QTextEdit*>(o)) return text->textCursor().hasSelection();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(o)) return plain->textCursor().hasSelection();
  if (auto* label = qobject_cast<QLabel*>(o)) return label->hasSelectedText();
  if (auto* rows = qobject_cast<ReceivedColumn*>(o)) return rows->HasSelection();
  return false;
}

}  // namespace

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // Ctrl+C is Copy in a text control that has a selection, and Connect or
  // Disconnect everywhere else in this window; Ctrl+S is Save Settings
  // wherever the focus is. A text field must not take them otherwise, so
  // their shortcut check is left unclaimed; a selection claims Ctrl+C for
  // the field (read-only fields do not claim it themselves).
  if (event->type() == QEvent::ShortcutOverride && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    if (pressed == Connect1->shortcut() && HasTextSelection(watched)) {
      event->accept();
      return true;
    }
    if (pressed == Connect1->shortcut() || pressed == SaveSettings1->shortcut()) return true;
  }
  if (event->type() == QEvent::MouseButtonPress &&
      (watched == MACAddressLabel || watched == MACAddressStaticText || watched == LinkStatusLabel ||
       watched == LinkStatusStaticText)) {
    auto* press = static_cast<QMouseEvent*>(event);
    if (press->button() == Qt::LeftButton && (press->modifiers() & Qt::AltModifier)) {
      MACAddressStaticTextMouseDown();
      return true;
    }
  }
  if (event->type() == QEvent::ContextMenu && (watched == MACAddressLabel || watched == MACAddressStaticText)) {
    MACAddressContextMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::CloseProgram() { close(); }

void TForm1::ClearEventButtonClick() { Events->ClearEventButtonClick(); }

void TForm1::CopyDestinationsToPollTab(const QStringList& all) {
  PollIO->SetDestinations(all);
  ShowNamesInLists();
}

}  // namespace qmx

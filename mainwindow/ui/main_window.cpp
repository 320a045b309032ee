#include "mainwindow/ui/main_window.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QGuiApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>

#include "config/local_status.h"
#include "config/register_map.h"
#include "config/ui/device_config_form.h"
#include "config/ui/mac_form.h"
#include "link/number_text.h"
#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/ui/busy_cursor.h"
#include "link/radio_link.h"
#include "link/ui/comm_port_form.h"
#include "tools/byte_channel.h"
#include "tools/firmware_upgrade.h"
#include "tools/ui/firmware_form.h"
#include "link/workdir.h"
#include "mainwindow/settings_file.h"
#include "mainwindow/ui/events_tab.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "mainwindow/ui/received_column.h"
#include "mainwindow/ui/serial_tab.h"
#include "mainwindow/ui/title_font.h"
#include "mainwindow/ui/terminal_tab.h"
#include "tools/ui/about_form.h"
#include "tools/ui/diag_form.h"

namespace qmx {

namespace {

constexpr int kClientWidth = 951;
constexpr int kClientHeight = 553;
constexpr int kPanelWidth = 225;


}  // namespace

// Carries view events from the parser thread to the window, in order,
// through one queue: the first event into an empty queue posts one wake-up,
// and the user-interface thread then takes everything queued in one go, so
// that a flood of frames costs one pass per wake-up instead of one per frame.
// Under a flood (kFloodItems view events or more within kDrainGap), a
// wake-up that comes less than kDrainGap after the last pass waits for the
// rest of that gap: the views then change about 40 times a second, each time
// by many rows, which costs far less than a row or two a thousand times a
// second. Sparse events still show at once.
class TForm1::UiSink : public ViewSink {
 public:
  static constexpr std::chrono::milliseconds kDrainGap{25};
  static constexpr std::size_t kFloodItems = 16;

  explicit UiSink(TForm1* window) : window_(window) {
    pace_.setSingleShot(true);
    QObject::connect(&pace_, &QTimer::timeout, window, [this] { Drain(); });
  }
  void FrameReceived() override { Push(FrameMark{}); }
  void EventText(const EventBlock& block) override { Push(block); }
  void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) override {
    Push(SerialTab::ReceivedPacket{address, lqi, std::vector<std::uint8_t>(data.begin(), data.end())});
  }
  void IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) override {
    Push(IoUpdate{address, std::vector<std::uint8_t>(data.begin(), data.end())});
  }
  void RemoteJoined(std::uint16_t address) override { Push(Joined{address}); }

  // User-interface thread: applies every queued event, in order; runs of
  // received data and of event texts go to their view as one batch.
  void WakeUp() {
    if (pace_.isActive()) return;
    const auto since = std::chrono::steady_clock::now() - lastDrain_;
    if (since < kDrainGap && recentItems_ >= kFloodItems)
      pace_.start(std::chrono::duration_cast<std::chrono::milliseconds>(kDrainGap - since));
    else
      Drain();
  }

  void Drain() {
    const auto now = std::chrono::steady_clock::now();
    if (now - windowStart_ >= kDrainGap) {
      windowStart_ = now;
      recentItems_ = 0;
    }
    lastDrain_ = now;
    std::vector<Item> items;
    {
      std::lock_guard lock(mutex_);
      items.swap(queue_);
    }
    std::vector<SerialTab::ReceivedPacket> received;
    std::vector<EventBlock> events;
    auto flush = [&] {
      if (!received.empty()) window_->Serial->ShowReceivedBatch(received);
      if (!events.empty()) window_->Events->AppendEvents(events);
      received.clear();
      events.clear();
    };
    bool frames = false;
    for (Item& item : items) {
      if (auto* p = std::get_if<SerialTab::ReceivedPacket>(&item)) {
        if (!events.empty()) flush();
        received.push_back(std::move(*p));
      } else if (auto* e = std::get_if<EventBlock>(&item)) {
        if (!received.empty()) flush();
        events.push_back(std::move(*e));
      } else if (std::holds_alternative<FrameMark>(item)) {
        frames = true;
        continue;
      } else {
        flush();
        if (auto* io = std::get_if<IoUpdate>(&item))
          window_->ApplyIoEvent(io->address, io->data);
        else if (auto* j = std::get_if<Joined>(&item))
          window_->Serial->AddNetworkAddress(j->address);
      }
      ++recentItems_;
    }
    flush();
    if (frames) window_->Serial->FrameArrived();
  }

 private:
  struct FrameMark {};
  struct IoUpdate {
    std::uint16_t address;
    std::vector<std::uint8_t> data;
  };
  struct Joined {
    std::uint16_t address;
  };
  using Item = std::variant<FrameMark, EventBlock, SerialTab::ReceivedPacket, IoUpdate, Joined>;

  void Push(Item item) {
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      wake = queue_.empty();
      queue_.push_back(std::move(item));
    }
    if (!wake) return;
    QPointer<TForm1> target = window_;
    QMetaObject::invokeMethod(
        window_, [target] { if (target) target->sink_->WakeUp(); }, Qt::QueuedConnection);
  }

  TForm1* window_;
  QTimer pace_;
  std::chrono::steady_clock::time_point lastDrain_{};
  std::chrono::steady_clock::time_point windowStart_{};
  std::size_t recentItems_ = 0;  // view events drained since windowStart_
  std::mutex mutex_;
  std::vector<Item> queue_;
};

TForm1::TForm1(RadioLink& link, RadioImage& image, Prompter& prompter, WorkDir& dir, MainWindowForms forms,
               QWidget* parent)
    : QMainWindow(parent),
      link_(link),
      image_(image),
      prompter_(prompter),
      dir_(dir),
      forms_(forms),
      sink_(std::make_unique<UiSink>(this)) {
  setObjectName("TForm1");
  setWindowTitle("QMXDemo 2.0");
  BuildMenus();

  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  row->addWidget(BuildStatusPanel());
  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName("PageControl1");
  Serial = new SerialTab(link_.commands, prompter_);
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
  PageControl1->addTab(Serial, "Serial");
  PageControl1->addTab(PollIO, "Poll I/O");
  PageControl1->addTab(Events, "Events");
  PageControl1->addTab(Zavedo, "Zavedo");
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
  deviceWatcher_.Stop();
  link_.SetPortLostListener(nullptr);
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
  options->addSeparator();
  ObeyCTS = item(options, "ObeyCTS", "Obey CTS", true, false);

  QMenu* help = menuBar()->addMenu("&Help");
  About1 = item(help, "About1", "&About");

  connect(Connect1, &QAction::triggered, this, &TForm1::Connect1Click);
  connect(SaveSettings1, &QAction::triggered, this, &TForm1::SaveSettings1Click);
  connect(Exit1, &QAction::triggered, this, &TForm1::CloseProgram);
  connect(PacketBuilder1, &QAction::triggered, this, &TForm1::PacketBuilder1Click);
  connect(Diag1, &QAction::triggered, this, &TForm1::Diag1Click);
  connect(About1, &QAction::triggered, this, &TForm1::About1Click);
  connect(ShowCommErrors1, &QAction::toggled, this, [this](bool on) { link_.options.showCommErrors = on; });
  connect(LogData1, &QAction::toggled, this, [this](bool on) { link_.options.logData = on; });
  connect(ObeyCTS, &QAction::toggled, this, [this](bool on) { link_.options.obeyCts = on; });
}

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

void TForm1::SetForms(const MainWindowForms& forms) {
  forms_ = forms;
  if (forms_.config) forms_.config->Attach(link_, image_, prompter_, [this] { ShowLocalStatus(); });
  if (forms_.mac)
    forms_.mac->Attach(link_, prompter_, [this](const QString& text) { MACAddressStaticText->setText(text); });
}

void TForm1::SetStatus(const QString& text) { StatusBar1->setText(text); }
QString TForm1::StatusText() const { return StatusBar1->text(); }
bool TForm1::Connected() const { return connected_; }

std::array<QString, 8> TForm1::StatusValues() const {
  std::array<QString, 8> texts;
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = statusValues_[i]->text();
  return texts;
}

void TForm1::ShowLocalStatus() {
  const auto rows = StatusRows(FormatLocalStatus(image_, 0));
  for (std::size_t i = 0; i < rows.size(); ++i) statusValues_[i]->setText(QString::fromStdString(rows[i]));
}

void TForm1::ClearLocalStatus() {
  for (QLabel* value : statusValues_) value->clear();
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
}

// Marks a radio operation of this window as running; a second one started
// from an event handled while the first waits is ignored.
class TForm1::LinkBusy {
 public:
  explicit LinkBusy(bool& flag) : flag_(flag), taken_(!flag) { flag_ = true; }
  ~LinkBusy() {
    if (taken_) flag_ = false;
  }
  LinkBusy(const LinkBusy&) = delete;
  LinkBusy& operator=(const LinkBusy&) = delete;
  bool Taken() const { return taken_; }

 private:
  bool& flag_;
  bool taken_;
};

void TForm1::ConnectButtonClick() {
  LinkBusy guard(linkBusy_);
  if (!guard.Taken()) return;
  if (Connected()) {
    Disconnect();
    return;
  }
  StopWaitingForDevice();
  if (!forms_.port) return;
  const int result = forms_.port->exec();
  if (result == TCommPortForm::BootCode) OfferBootCodeUpgrade();
  if (result != QDialog::Accepted) return;
  ReadLocalRadio();
}

bool TForm1::ConnectTo(const QString& port, const QString& baud) {
  LinkBusy guard(linkBusy_);
  if (!guard.Taken() || Connected() || !forms_.port) return false;
  if (!forms_.port->OpenNamed(port, baud)) {
    if (forms_.port->result() == TCommPortForm::BootCode) OfferBootCodeUpgrade();
    return Connected();
  }
  ReadLocalRadio();
  return Connected();
}

void TForm1::ReadLocalRadio() {
  BankMask read = 0;
  {
    BusyCursor busy;
    read = ReadBanks(link_.commands, image_, kAllBanks, 0, 0);
  }
  if (read == kAllBanks) {
    ShowConnectedFromDialog();
  } else {
    link_.transport.StopComm();
    SetStatus("Disconnected.");
    prompter_.Message("Could not get data from radio.  Please try again.", "BANKALL Failed");
  }
}

void TForm1::ShowConnectedFromDialog() {
  if (const Result<LineSettings> line = link_.transport.GetPortSettings(); ShowPortFailure(prompter_, line))
    lastLine_ = *line;
  lastPortText_ = QString::fromStdString(EntryPortName(forms_.port->PortText().toStdString()));
  lastBaudText_ = forms_.port->BaudText();
  ShowConnected("Connected to");
}

void TForm1::OfferBootCodeUpgrade() {
  const std::string port = EntryPortName(forms_.port->PortText().toStdString());
  if (!prompter_.Question(BootCodeNotice(port) + " Program a firmware image now?", "Radio in Boot Code")) {
    link_.transport.StopComm();  // the radio is left as it is
    return;
  }
  if (UpgradeInBootCode(false)) {
    ShowConnectedFromDialog();
  } else if (link_.transport.IsOpen()) {
    CloseLink();
    ResetPollControls(false);
    SetStatus("Disconnected.");
  }
}

void TForm1::CloseLink() {
  SetConnectedControls(false);
  Serial->StopTransmitting();
  LeaveTerminalQuietly();
  PollIO->StopPolling();
  ClearLocalStatus();
  link_.transport.StopComm();
}

void TForm1::Pause(int ms) {
  if (ms <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void TForm1::Disconnect() {
  CloseLink();
  Pause(disconnectDelayMs_);
  ResetPollControls(false);
  SetStatus("Disconnected.");
}

// The radio read in full: the window in its connected state, and the port
// remembered for a reconnect.
void TForm1::ShowConnected(const char* verb) {
  lastPath_ = link_.transport.PortName();
  lastNode_ = NodeOf(lastPath_);
  ShowLocalStatus();
  SetConnectedControls(true);
  ResetPollControls(true);
  // The disconnect emptied the Poll I/O lists; the addresses known so far
  // are offered again.
  CopyDestinationsToPollTab(Serial->Destinations());
  SetStatus(QString("%1 local radio on %2 at %3").arg(verb, lastPortText_, lastBaudText_));
}

void TForm1::PortLost() {
  if (!Connected()) return;  // a search or a failed attempt: the dialog reports it
  CloseLink();
  ResetPollControls(false);
  if (WaitForDevice()) return;
  SetStatus("Disconnected.");
  prompter_.Message("The radio's serial port has gone away.  Please check the cable and connect again.",
                    "Port Lost");
}

// A device file that went away is waited for under the name that will bring
// it back (a USB adapter's by-id name, as it may return as another ttyUSBn);
// the simulated module has no file to wait for.
bool TForm1::WaitForDevice() {
  if (lastPath_.empty() || lastPath_.front() != '/') return false;
  const DeviceIdentity device = IdentifyDevice(lastPath_);
  const QPointer<TForm1> self(this);
  DeviceWatcher::Callbacks callbacks;
  callbacks.returned = [self] {
    QMetaObject::invokeMethod(
        self, [self] { if (self) self->DeviceReturned(); }, Qt::QueuedConnection);
  };
  callbacks.noAccess = [self] {
    QMetaObject::invokeMethod(
        self,
        [self] {
          if (self && !self->waitingFor_.empty())
            self->SetStatus(QString("Port lost.  %1 is back, but this user may not read and write it "
                                    "(Connect stops waiting)")
                                .arg(QString::fromStdString(self->waitingFor_)));
        },
        Qt::QueuedConnection);
  };
  if (!deviceWatcher_.Start(device.WatchName(), lastNode_, std::move(callbacks))) return false;
  waitingFor_ = device.WatchName();
  SetStatus(QString("Port lost.  Waiting for %1 to return (Connect stops waiting)")
                .arg(QString::fromStdString(waitingFor_)));
  return true;
}

void TForm1::StopWaitingForDevice() {
  deviceWatcher_.Stop();
  if (waitingFor_.empty()) return;
  waitingFor_.clear();
  SetStatus("Disconnected.");
}

// The device is back: the same port at the same line, protocol mode, and a
// fresh read of the radio, all without a message box; a device that does
// not answer is waited for again.
void TForm1::DeviceReturned() {
  if (waitingFor_.empty() || Connected()) return;
  LinkBusy guard(linkBusy_);
  if (!guard.Taken()) return;
  const std::string name = waitingFor_;
  waitingFor_.clear();
  bool ok = false;
  {
    BusyCursor busy;
    // Opened by the name waited for: a USB adapter may return as another
    // ttyUSBn, its by-id name follows it. A port that cannot be opened is
    // not shown: the device is waited for again.
    const Done opened = link_.transport.OpenCommPort(lastLine_, name, true);
    if (opened.status() != Status::CannotOpen) ShowPortFailure(prompter_, opened);
    ok = opened.ok();
    ok = ok && link_.commands.EnterProtocolMode(1000, 3) &&
         ReadBanks(link_.commands, image_, kAllBanks, 0, 0) == kAllBanks;
  }
  if (!ok) {
    link_.transport.StopComm();
    // This node did not answer: wait for the next one.
    lastNode_ = NodeOf(name);
    if (!WaitForDevice()) SetStatus("Disconnected.");
    return;
  }
  ShowConnected("Reconnected to");
}

void TForm1::RefreshButtonClick() {
  LinkBusy guard(linkBusy_);
  if (!guard.Taken()) return;
  std::optional<BusyCursor> busy(std::in_place);
  if (!link_.commands.EnterProtocolMode(1000, 3)) {
    prompter_.Message("Could not enter protocol mode.", "EnterProtocolMode Error");
    return;
  }
  if (ReadBanks(link_.commands, image_, kAllBanks, 0, 0) != kAllBanks) {
    prompter_.Message("Could not read data.  Please try again.", "Read Failed");
    return;
  }
  ShowLocalStatus();
  busy.reset();  // the success is reported with the normal cursor
  prompter_.Message("Refresh Successful.", "Refresh Successful");
}

void TForm1::ConfigButtonClick() {
  if (forms_.config) forms_.config->Open(0);
}

namespace {

// Disables a window's controls for as long as it lives; those disabled
// before stay disabled after.
class ControlsHeld {
 public:
  explicit ControlsHeld(QWidget* w) : w_(w) { w_->setEnabled(false); }
  ~ControlsHeld() { w_->setEnabled(true); }
  ControlsHeld(const ControlsHeld&) = delete;
  ControlsHeld& operator=(const ControlsHeld&) = delete;

 private:
  QWidget* w_;
};

}  // namespace

void TForm1::UpgradeButtonClick() {
  LinkBusy guard(linkBusy_);
  if (guard.Taken()) UpgradeInBootCode(true);
}

bool TForm1::UpgradeInBootCode(bool reset) {
  auto* upgrade = qobject_cast<TForm3*>(forms_.upgrade);
  if (!upgrade) return false;
  std::optional<BusyCursor> busy(std::in_place);
  LineSettings saved;
  if (const Result<LineSettings> line = link_.transport.GetPortSettings(); ShowPortFailure(prompter_, line))
    saved = *line;
  if (reset) (void)link_.commands.SoftwareReset();
  link_.parser.Stop();
  if (!ShowPortFailure(prompter_, link_.transport.OpenCommPort(kBootLine, link_.transport.PortName(), false))) {
    // The line is as it was: the frame parser takes the ring back.
    link_.parser.Start();
    return false;
  }

  // The boot code's dialogue reads the ring itself while the parser rests.
  RingChannel channel(link_.ring, [this](std::span<const std::uint8_t> bytes) { return link_.transport.WritePort(bytes); });
  bool found = false;
  {
    // Nothing else may use the link (or take the ring) meanwhile.
    const ControlsHeld held(this);
    FirmwareUpgrade search(channel, SteadyTime());
    search.SetPromptInterval(std::chrono::milliseconds(bootPromptIntervalMs_));
    RunOffThread([&] { found = search.FindBootPrompt(); });
  }
  if (!found) {
    SetStatus("No Radio Detected");
    // The port is closed: the window shows it, and the parser waits for the
    // next connection.
    CloseLink();
    ResetPollControls(false);
    link_.parser.Start();
    busy.reset();
    prompter_.Message("Could not detect radio.  Please try again.", "No Radio Detected");
    return false;
  }
  ConnectButton->setText("Disconnect");
  SetStatus("Radio Detected");
  busy.reset();
  upgrade->ShowFor(channel, prompter_, dir_);
  busy.emplace();
  return ReturnFromBootCode(saved);
}

bool TForm1::ReturnFromBootCode(const LineSettings& saved) {
  {
    const ControlsHeld held(this);
    Pause(1000);
  }
  if (!ShowPortFailure(prompter_, link_.transport.OpenCommPort(saved, link_.transport.PortName(), false))) {
    link_.parser.Start();
    return false;
  }
  link_.transport.ResetReceiveRing();
  link_.parser.Start();
  std::optional<BusyCursor> busy(std::in_place);
  if (!link_.commands.EnterProtocolMode(1000, 3)) {
    busy.reset();
    prompter_.Message("Could not enter protocol mode.", "EnterProtocolMode Error");
    return false;
  }
  const BankMask read = ReadBanks(link_.commands, image_, kAllBanks, 0, 0);
  ShowLocalStatus();
  busy.reset();
  if (read != kAllBanks)
    prompter_.Message("Could not communicate with radio.  Cycle power and try again.", "No communication");
  return read == kAllBanks;
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
    d->SetLocalIsBase(FormatLocalStatus(image_, 0).deviceMode == "Base");
    d->exec();
  }
}

void TForm1::MACAddressStaticTextMouseDown() {
  MACAddressStaticText->clear();
  if (!forms_.mac) return;
  forms_.mac->MACAddressEdit->clear();
  forms_.mac->exec();
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
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::CloseProgram() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
  // A window never shown has no place of its own to remember.
  if (isVisible()) {
    const QRect normal = isMaximized() ? normalGeometry() : geometry();
    SaveWindowGeometry(dir_, {normal.x(), normal.y(), normal.width(), normal.height(), isMaximized()});
  }
  StopWaitingForDevice();
  Zavedo->StopThreads();
  link_.parser.Stop();
  // A command still waiting (the window was closed from inside its wait)
  // fails at once instead of running out its time-outs.
  link_.transport.StopComm();
  event->accept();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!firstShow_) return;
  firstShow_ = false;
  RestoreGeometry();
  LoadSettingsFile();
  if (LogData1->isChecked()) link_.log.LogHeader();
}

// The place and size of the last run, when the file holds one that lies on
// a screen of this run; otherwise the designed size stays.
void TForm1::RestoreGeometry() {
  const std::optional<WindowGeometry> g = LoadWindowGeometry(dir_);
  if (!g) return;
  const QRect rect(g->x, g->y, g->width, g->height);
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (std::none_of(screens.begin(), screens.end(),
                   [&](const QScreen* s) { return s->availableGeometry().intersects(rect); }))
    return;
  setGeometry(QRect(rect.topLeft(), rect.size().expandedTo(minimumSizeHint())));
  if (g->maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

AppSettings TForm1::GatherSettings() const {
  AppSettings s;
  s.showCommErrors = ShowCommErrors1->isChecked();
  s.showSettingsInHex = ShowSettingsInHex1->isChecked();
  s.logData = LogData1->isChecked();
  s.hexMode = HexCheckBox->isChecked();
  s.scrollRealTime = ScrollRealTimeCheckBox->isChecked();
  // As UTF-8: the settings file turns it into one byte per character.
  s.intervalText = IntervalEdit->text().toStdString();
  s.transmitText = TransmitEdit->text().toStdString();
  s.dataInAscii = DataCheckBox->isChecked();
  s.appendCr = CRCheckBox->isChecked();
  if (forms_.port) {
    s.portIndex = static_cast<std::int8_t>(forms_.port->SelectedIndex(TCommPortForm::PortList));
    s.baudIndex = static_cast<std::int8_t>(forms_.port->SelectedIndex(TCommPortForm::BaudList));
    s.parityIndex = static_cast<std::int8_t>(forms_.port->SelectedIndex(TCommPortForm::ParityList));
    s.stopBitsIndex = static_cast<std::int8_t>(forms_.port->SelectedIndex(TCommPortForm::StopBitsList));
    s.autoDetectIndex = static_cast<std::int8_t>(forms_.port->SelectedIndex(TCommPortForm::AutoDetectList));
  }
  return s;
}

void TForm1::ApplySettings(const AppSettings& s) {
  ShowCommErrors1->setChecked(s.showCommErrors);
  ShowSettingsInHex1->setChecked(s.showSettingsInHex);
  LogData1->setChecked(s.logData);
  HexCheckBox->setChecked(s.hexMode);
  ScrollRealTimeCheckBox->setChecked(s.scrollRealTime);
  IntervalEdit->setText(QString::fromStdString(s.intervalText));
  TransmitEdit->setText(QString::fromStdString(s.transmitText).left(kMaxTransmitChars));
  DataCheckBox->setChecked(s.dataInAscii);
  CRCheckBox->setChecked(s.appendCr);
  RememberPortSelections(s);
}

void TForm1::RememberPortSelections(const AppSettings& s) {
  if (!forms_.port) return;
  forms_.port->SetRemembered(TCommPortForm::PortList, s.portIndex);
  forms_.port->SetRemembered(TCommPortForm::BaudList, s.baudIndex);
  forms_.port->SetRemembered(TCommPortForm::ParityList, s.parityIndex);
  forms_.port->SetRemembered(TCommPortForm::StopBitsList, s.stopBitsIndex);
  forms_.port->SetRemembered(TCommPortForm::AutoDetectList, s.autoDetectIndex);
}

void TForm1::LoadSettingsFile() {
  // Fields the file does not hold keep what the controls and the port
  // dialog have now.
  AppSettings s = GatherSettings();
  if (forms_.port) {
    s.portIndex = static_cast<std::int8_t>(forms_.port->Remembered(TCommPortForm::PortList));
    s.baudIndex = static_cast<std::int8_t>(forms_.port->Remembered(TCommPortForm::BaudList));
    s.parityIndex = static_cast<std::int8_t>(forms_.port->Remembered(TCommPortForm::ParityList));
    s.stopBitsIndex = static_cast<std::int8_t>(forms_.port->Remembered(TCommPortForm::StopBitsList));
    s.autoDetectIndex = static_cast<std::int8_t>(forms_.port->Remembered(TCommPortForm::AutoDetectList));
  }
  if (LoadSettings(dir_, s)) ApplySettings(s);
}

void TForm1::SaveSettings1Click() {
  const AppSettings s = GatherSettings();
  SaveSettings(dir_, s);
  RememberPortSelections(s);
}

void TForm1::ClearEventButtonClick() { Events->ClearEventButtonClick(); }

void TForm1::TabSelected(int index) {
  const MainTab to = static_cast<MainTab>(index);
  const TabChange change = PlanTabChange(currentTab_, to, CloseCheckBox->isChecked());
  if (!PageControl1Changing(change)) {
    const QSignalBlocker keep(PageControl1);
    PageControl1->setCurrentIndex(static_cast<int>(currentTab_));
    return;
  }
  currentTab_ = to;
  PageControl1Change(change);
}

bool TForm1::PageControl1Changing(const TabChange& change) {
  if (change.refused) return false;
  if (!change.leaveTerminal) return true;
  // No other tab change while the radio is being brought back.
  PageControl1->tabBar()->setEnabled(false);
  Zavedo->ReturnRing();
  {
    BusyCursor busy;
    if (link_.commands.EnterProtocolMode(1000, 3)) {
      if (ReadBanks(link_.commands, image_, kAllBanks, 0, 0) != kAllBanks)
        prompter_.Message("Could not communicate with radio.  Cycle power and try again.", "No communication");
      ShowLocalStatus();
      EndPause(true);
      PageControl1->tabBar()->setEnabled(true);
      return true;
    }
  }
  EndPause(false);
  prompter_.Message("Could not enter protocol mode.", "EnterProtocolMode Error");
  PageControl1->tabBar()->setEnabled(true);
  return true;  // the change still happens
}

void TForm1::PageControl1Change(const TabChange& change) {
  if (!change.showCollapseBox) CloseCheckBox->setChecked(false);
  CloseCheckBox->setVisible(change.showCollapseBox);
  if (!change.enterTerminal) return;
  // The tab bar stays off until the terminal has the port.
  PageControl1->tabBar()->setEnabled(false);
  // Nothing else writes protocol frames while the terminal holds the port:
  // the periodic work pauses, and protocol mode is left only once the
  // command it has under way has ended.
  inTerminal_ = true;
  SetConnectedControls(connected_);
  paused_ = {PollIO->PausePolling(), Serial->PauseTransmitting()};
  if (paused_.Any()) SetStatus(QString::fromStdString(PeriodicWorkText(paused_, kPausedForTerminal)));
  if (terminalEntry_.Enter(PeriodicCommandUnderWay())) EnterTerminal();
}

bool TForm1::PeriodicCommandUnderWay() const { return PollIO->CommandUnderWay() || Serial->CommandUnderWay(); }

void TForm1::PeriodicCommandEnded() {
  if (terminalEntry_.CommandEnded(PeriodicCommandUnderWay())) EnterTerminal();
}

void TForm1::EnterTerminal() {
  if (!link_.commands.ExitProtocolMode(1000, 3))
    prompter_.Message("Could not exit config mode", "ExitConfigMode Error");
  Zavedo->TakeRing();
  PageControl1->tabBar()->setEnabled(true);
  Zavedo->ZavedoRichEdit->setFocus();
}

// Protocol mode is back (or could not be had): the paused work resumes (or
// ends), the tools are offered again.
void TForm1::EndPause(bool protocolMode) {
  const PeriodicWork work = std::exchange(paused_, PeriodicWork{});
  inTerminal_ = false;
  SetConnectedControls(connected_);
  if (protocolMode || !work.poll)
    PollIO->ResumePolling();
  else
    PollIO->StopPolling();
  if (protocolMode || !work.transmit)
    Serial->ResumeTransmitting();
  else
    Serial->StopTransmitting();
  if (work.Any()) SetStatus(QString::fromStdString(PeriodicWorkText(work, protocolMode ? "resumed." : "stopped.")));
}

void TForm1::LeaveTerminalQuietly() {
  terminalEntry_.Cancel();
  paused_ = {};
  inTerminal_ = false;
  PageControl1->tabBar()->setEnabled(true);
  Zavedo->StopTransmitting();
  if (Zavedo->HasRing()) Zavedo->ReturnRing();
  const QSignalBlocker keep(PageControl1);
  PageControl1->setCurrentIndex(static_cast<int>(MainTab::Serial));
  currentTab_ = MainTab::Serial;
  CloseCheckBox->setChecked(false);
  CloseCheckBox->setVisible(false);
}

void TForm1::ApplyIoEvent(std::uint16_t address, const std::vector<std::uint8_t>& data) {
  PollIO->ApplyIoEvent(address, data);
}

void TForm1::CopyDestinationsToPollTab(const QStringList& all) { PollIO->SetDestinations(all); }

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

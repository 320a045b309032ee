#include "tools/ui/diag_form.h"

#include <QActionGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <chrono>

#include "link/failure_text.h"
#include "link/number_text.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "tools/ui/diag_chart.h"
#include "tools/ui/note_form.h"
#include "widgets/gauge.h"

namespace qmx {

namespace {

constexpr int kWheelStepPx = 20;
constexpr int kVisibleRows = 12;
// Widths of the table's five columns: Poll, Addr, Rx Percent, Tx Percent,
// Link Quality.
constexpr std::array<const char*, 5> kColumnTitles{"Poll", "Addr", "Rx Percent", "Tx Percent", "Link Quality"};

QLineEdit* NumberEdit(QWidget* parent, const char* name, const char* text) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(name);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance("0x0000") + 16);
  return edit;
}

QPushButton* Button(QWidget* parent, const char* name, const char* text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

// The cell texts of a number that may be missing: "" and "--" are nothing.
std::optional<int> CellValue(const std::string& cell) {
  if (cell.empty() || cell == "--") return std::nullopt;
  return std::stoi(cell);
}

}  // namespace

TDiagForm::TDiagForm(RadioLink& link, Prompter& prompter, DiagLog& log, QWidget* parent)
    : QDialog(parent),
      link_(link),
      prompter_(prompter),
      log_(log),
      scan_(table_, counters_, diag::CommandSender(link.commands), [this](const std::string& l) { log_.Write(l, true); }),
      poll_(diag::CommandSender(link.commands), [this](const std::string& l) { log_.Write(l, true); }) {
  setObjectName("TDiagForm");
  setWindowTitle("Diagnostics");

  auto* layout = new QVBoxLayout(this);
  BuildMenus();
  layout->setMenuBar(MainMenu1);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  BaseTabSheet = BuildBaseTab();
  RemoteTabSheet = BuildRemoteTab();
  PageControl1->addTab(BaseTabSheet, "Base RF Diag");
  PageControl1->addTab(RemoteTabSheet, "Remote RF Diag");
  layout->addWidget(PageControl1);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setSingleShot(true);
  Timer1->setTimerType(Qt::PreciseTimer);
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setSingleShot(true);
  Timer2->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, &TDiagForm::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &TDiagForm::Timer2Timer);

  FillTable();
  resize(860, 540);
  // The polling and the scan write frames by themselves: they end with the
  // connection (a disconnect, a lost device).
  writer_ = link_.session.AddWriter({LinkState::Protocol, {}, {},
                                     [this] {
                                       const bool was = polling_ || scanning_;
                                       if (polling_) StopPolling();
                                       if (scanning_) StopScan();
                                       return was;
                                     },
                                     {}});
}

TDiagForm::~TDiagForm() { link_.session.RemoveWriter(writer_); }

void TDiagForm::BuildMenus() {
  MainMenu1 = new QMenuBar(this);
  QMenu* file = MainMenu1->addMenu("File");
  Exit1 = file->addAction("E&xit");
  Exit1->setObjectName("Exit1");
  QMenu* options = MainMenu1->addMenu("Options");
  LogToFile1 = options->addAction("Log To File");
  LogToFile1->setObjectName("LogToFile1");
  LogToFile1->setCheckable(true);
  LogToFile1->setChecked(true);
  log_.SetLogToFile(true);
  InsertNote1 = options->addAction("Insert Note");
  InsertNote1->setObjectName("InsertNote1");
  QMenu* period = options->addMenu("Logging Period");
  auto* group = new QActionGroup(this);
  for (std::size_t i = 0; i < diag::kLogPeriods.size(); ++i) {
    QAction* item = period->addAction(diag::LogPeriodText(diag::kLogPeriods[i]));
    item->setCheckable(true);
    item->setActionGroup(group);
    item->setChecked(diag::kLogPeriods[i] == diag::LogPeriod::TenSeconds);
    LoggingPeriod[i] = item;
  }
  connect(Exit1, &QAction::triggered, this, &TDiagForm::Exit1Click);
  connect(LogToFile1, &QAction::toggled, this, [this](bool on) { log_.SetLogToFile(on); });
  connect(InsertNote1, &QAction::triggered, this, &TDiagForm::InsertNote1Click);
}

QWidget* TDiagForm::BuildBaseTab() {
  auto* tab = new QWidget;
  tab->setObjectName("BaseTabSheet");
  auto* layout = new QHBoxLayout(tab);
  auto* left = new QVBoxLayout;
  layout->addLayout(left);

  auto* numbers = new QHBoxLayout;
  PacketLengthEdit1 = NumberEdit(tab, "PacketLengthEdit1", "0x10");
  RefreshRateEdit = NumberEdit(tab, "RefreshRateEdit", "0x00");
  numbers->addWidget(new QLabel("Packet Length", tab));
  numbers->addWidget(PacketLengthEdit1);
  numbers->addSpacing(12);
  numbers->addWidget(new QLabel("Polling Delay", tab));
  numbers->addWidget(RefreshRateEdit);
  numbers->addWidget(new QLabel("ms", tab));
  numbers->addStretch(1);
  left->addLayout(numbers);

  auto* buttons = new QHBoxLayout;
  ClearButton = Button(tab, "ClearButton", "Reset Counters");
  ClearFieldButton = Button(tab, "ClearFieldButton", "Clear Table");
  TransmitButton = Button(tab, "TransmitButton", "Scan");
  buttons->addWidget(ClearButton);
  buttons->addWidget(ClearFieldButton);
  buttons->addWidget(TransmitButton);
  buttons->addStretch(1);
  left->addLayout(buttons);

  // The table: column titles over five side-by-side lists that scroll as one.
  const QFontMetrics fm = tab->fontMetrics();
  const int rowHeight = std::max(fm.height() + 4, 20);
  std::array<int, 5> widths{};
  for (std::size_t c = 0; c < widths.size(); ++c) widths[c] = fm.horizontalAdvance(kColumnTitles[c]) + 14;
  auto* titles = new QHBoxLayout;
  titles->setSpacing(0);
  for (std::size_t c = 0; c < kColumnTitles.size(); ++c) {
    auto* title = new QLabel(kColumnTitles[c], tab);
    title->setFixedWidth(widths[c]);
    title->setAlignment(Qt::AlignCenter);
    title->setFrameStyle(QFrame::Panel | QFrame::Raised);
    titles->addWidget(title);
  }
  titles->addSpacing(tab->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2);
  titles->addStretch(1);
  left->addLayout(titles);

  ScrollBox1 = new QScrollArea(tab);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* lists = new QWidget;
  auto* row = new QHBoxLayout(lists);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  std::array<QListWidget**, 5> targets{&PollCheckListBox, &AddrListBox, &RXPercentListBox, &TXPercentListBox,
                                     &LQIListBox};
  const std::array<const char*, 5> names{"PollCheckListBox", "AddrListBox", "RXPercentListBox", "TXPercentListBox",
                                         "LQIListBox"};
  for (std::size_t c = 0; c < targets.size(); ++c) {
    auto* list = new QListWidget(lists);
    list->setObjectName(names[c]);
    list->setFixedSize(widths[c], rowHeight * diag::kRows + 2);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setUniformItemSizes(true);
    list->setFocusPolicy(c == 0 ? Qt::StrongFocus : Qt::NoFocus);
    list->setSelectionMode(c == 0 ? QAbstractItemView::SingleSelection : QAbstractItemView::NoSelection);
    for (int r = 0; r < diag::kRows; ++r) {
      auto* item = new QListWidgetItem(list);
      item->setSizeHint(QSize(widths[c] - 4, rowHeight));
      item->setTextAlignment(Qt::AlignCenter);
      item->setFlags(c == 0 ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled);
    }
    list->viewport()->installEventFilter(this);
    row->addWidget(list);
    *targets[c] = list;
  }
  ScrollBox1->setWidget(lists);
  ScrollBox1->viewport()->installEventFilter(this);
  int tableWidth = 2 * ScrollBox1->frameWidth() + tab->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  for (int w : widths) tableWidth += w;
  ScrollBox1->setFixedWidth(tableWidth);
  ScrollBox1->setMinimumHeight(rowHeight * kVisibleRows);
  left->addWidget(ScrollBox1, 1);

  ClearAll1 = new QAction("Clear All", PollCheckListBox);
  ClearAll1->setObjectName("ClearAll1");
  PollCheckListBox->setContextMenuPolicy(Qt::ActionsContextMenu);
  PollCheckListBox->addAction(ClearAll1);

  ScanChart = new DiagBarChart(tab);
  ScanChart->setObjectName("ScanChart");
  layout->addWidget(ScanChart, 1);

  connect(ClearButton, &QPushButton::clicked, this, &TDiagForm::ClearButtonClick);
  connect(ClearFieldButton, &QPushButton::clicked, this, &TDiagForm::ClearFieldButtonClick);
  connect(TransmitButton, &QPushButton::clicked, this, &TDiagForm::TransmitButtonClick);
  TrackNumbers(PacketLengthEdit1, RefreshRateEdit, scanNumbers_);
  connect(ClearAll1, &QAction::triggered, this, &TDiagForm::ClearAll1Click);
  connect(PollCheckListBox, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const int r = PollCheckListBox->row(item);
    if (r >= 0 && r < diag::kRows) table_.rows[static_cast<std::size_t>(r)].checked = item->checkState() == Qt::Checked;
  });
  return tab;
}

QWidget* TDiagForm::BuildRemoteTab() {
  auto* tab = new QWidget;
  tab->setObjectName("RemoteTabSheet");
  auto* layout = new QVBoxLayout(tab);
  auto* grid = new QGridLayout;
  layout->addLayout(grid);

  auto gauge = [tab](const char* name, int max) {
    auto* g = new Gauge(tab);
    g->setObjectName(name);
    g->SetRange(0, max);
    g->SetForeColor(Qt::green);
    g->setMinimumWidth(220);
    return g;
  };
  SuccessRateGauge = gauge("SuccessRateGauge", 100);
  // The whole LQI byte: a gauge of 0 … 127 would stand full for every good
  // link. A share of 255 means nothing to the user: the value itself stands
  // beside the bar, in hex as everywhere else.
  LastLqiGauge = gauge("LastLqiGauge", 255);
  LastLqiGauge->SetShowText(false);
  LastLqiLabel = new QLabel(QString::fromStdString(HexText(0, 2)), tab);
  LastLqiLabel->setObjectName("LastLqiLabel");
  LastLqiLabel->setMinimumWidth(LastLqiLabel->fontMetrics().horizontalAdvance("0xWW"));
  grid->addWidget(new QLabel("Packet Success Rate", tab), 0, 0);
  grid->addWidget(SuccessRateGauge, 0, 1, 1, 3);
  grid->addWidget(new QLabel("Last LQI", tab), 1, 0);
  grid->addWidget(LastLqiGauge, 1, 1, 1, 3);
  grid->addWidget(LastLqiLabel, 1, 4);

  PollingDelayEdit = NumberEdit(tab, "PollingDelayEdit", "0x00");
  PacketLengthEdit = NumberEdit(tab, "PacketLengthEdit", "0x10");
  grid->addWidget(new QLabel("Polling Delay", tab), 2, 0);
  grid->addWidget(PollingDelayEdit, 2, 1);
  grid->addWidget(new QLabel("ms", tab), 2, 2);
  grid->addWidget(new QLabel("Packet Length", tab), 3, 0);
  grid->addWidget(PacketLengthEdit, 3, 1);
  grid->setColumnStretch(3, 1);

  auto* buttons = new QHBoxLayout;
  PollButton = Button(tab, "PollButton", "Start Polling");
  PollButton->setMinimumWidth(PollButton->fontMetrics().horizontalAdvance("Stop Polling") + 32);
  ResetButton = Button(tab, "ResetButton", "Reset");
  buttons->addWidget(PollButton);
  buttons->addWidget(ResetButton);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  PollChart = new DiagTimeChart(tab);
  PollChart->setObjectName("PollChart");
  layout->addWidget(PollChart, 1);

  connect(PollButton, &QPushButton::clicked, this, &TDiagForm::PollButtonClick);
  connect(ResetButton, &QPushButton::clicked, this, &TDiagForm::ResetButtonClick);
  TrackNumbers(PacketLengthEdit, PollingDelayEdit, pollNumbers_);
  return tab;
}

// ---------------------------------------------------------------------------
// Showing and closing

void TDiagForm::showEvent(QShowEvent* event) {
  FillTable();
  counters_ = {};
  constexpr std::uint8_t kRemoteMode = 0;
  const bool base = !deviceMode_ || deviceMode_() != kRemoteMode;
  PageControl1->setTabVisible(0, base);
  PageControl1->setTabVisible(1, !base);
  PageControl1->setCurrentIndex(base ? 0 : 1);
  QDialog::showEvent(event);
}

void TDiagForm::hideEvent(QHideEvent* event) {
  // A hide by the window system (minimizing) is no close.
  if (!event->spontaneous()) {
    StopPolling();
    StopScan();
  }
  QDialog::hideEvent(event);
}

void TDiagForm::Exit1Click() {
  StopPolling();
  StopScan();
  close();
}

void TDiagForm::InsertNote1Click() {
  if (!note_) return;
  note_->show();
  note_->raise();
  note_->activateWindow();
}

bool TDiagForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel) {
    // Over the table the wheel moves it 20 pixels a notch.
    QScrollBar* bar = ScrollBox1->verticalScrollBar();
    const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
    if (delta != 0) bar->setValue(bar->value() + (delta < 0 ? kWheelStepPx : -kWheelStepPx));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// The table

void TDiagForm::FillTable() {
  table_.Fill();
  for (int r = 0; r < diag::kRows; ++r) ShowRow(r);
  ScanChart->Clear();
}

void TDiagForm::ShowRow(int r) {
  const diag::ScanRow& row = table_.rows[static_cast<std::size_t>(r)];
  {
    const QSignalBlocker quiet(PollCheckListBox);
    PollCheckListBox->item(r)->setCheckState(row.checked ? Qt::Checked : Qt::Unchecked);
  }
  AddrListBox->item(r)->setText(QString::fromStdString(row.addr));
  RXPercentListBox->item(r)->setText(QString::fromStdString(row.rx));
  TXPercentListBox->item(r)->setText(QString::fromStdString(row.tx));
  LQIListBox->item(r)->setText(QString::fromStdString(row.lqi));
  ScanChart->SetRow(r, CellValue(row.rx), CellValue(row.lqi));
}

void TDiagForm::ClearButtonClick() { counters_ = {}; }

void TDiagForm::ClearFieldButtonClick() { FillTable(); }

void TDiagForm::ClearAll1Click() {
  table_.UncheckAll();
  for (int r = 0; r < diag::kRows; ++r) ShowRow(r);
}

// ---------------------------------------------------------------------------
// Poll and scan

diag::LogPeriod TDiagForm::Period() const {
  for (std::size_t i = 0; i < LoggingPeriod.size(); ++i)
    if (LoggingPeriod[i]->isChecked()) return diag::kLogPeriods[i];
  return diag::LogPeriod::TenSeconds;
}

void TDiagForm::TrackNumbers(QLineEdit* length, QLineEdit* delay, TypedNumbers& into) {
  const auto readLength = [length, &into] { into.length = diag::ReadPacketLength(length->text().toStdString()); };
  const auto readDelay = [delay, &into] { into.delayMs = diag::ReadPollingDelay(delay->text().toStdString()); };
  readLength();
  readDelay();
  connect(length, &QLineEdit::textChanged, this, readLength);
  connect(delay, &QLineEdit::textChanged, this, readDelay);
}

bool TDiagForm::LengthFits(const TypedNumbers& numbers) {
  if (!numbers.length) prompter_.Message(diag::kLengthRefused, diag::kLengthRefusedCaption);
  return numbers.length.has_value();
}

bool TDiagForm::EnterProtocolMode() {
  if (link_.session.EnterProtocolMode(kUsualReplyWait, false)) return true;
  ShowFailure(prompter_, FailureOf(Operation::EnterProtocolMode, Status::NoReply, Variant::TryAgain));
  return false;
}

void TDiagForm::StopPolling() {
  polling_ = false;
  Timer1->stop();
  PollButton->setText("Start Polling");
}

void TDiagForm::StopScan() {
  scanning_ = false;
  Timer2->stop();
  TransmitButton->setText("Scan");
}

void TDiagForm::PollButtonClick() {
  // Stopping never depends on the radio answering.
  if (polling_) {
    StopPolling();
    return;
  }
  if (!LengthFits(pollNumbers_) || !EnterProtocolMode()) return;
  poll_.Start();
  PollChart->Clear();
  polling_ = true;
  PollButton->setText("Stop Polling");
  Timer1->start(diag::kFirstWait);
}

void TDiagForm::ResetButtonClick() { poll_.RequestReset(); }

void TDiagForm::Timer1Timer() {
  if (!polling_ || inPollTick_) return;
  if (!LengthFits(pollNumbers_)) {
    StopPolling();
    return;
  }
  inPollTick_ = true;
  const diag::Poll::TickResult tick = poll_.Tick(*pollNumbers_.length, pollNumbers_.delayMs, Period());
  inPollTick_ = false;
  LastLqiGauge->SetValue(tick.lqi);
  LastLqiLabel->setText(QString::fromStdString(HexText(static_cast<std::uint32_t>(tick.lqi), 2)));
  SuccessRateGauge->SetValue(tick.successRate);
  PollChart->AddSample(std::chrono::steady_clock::now(), tick.successRate, tick.lqi);
  // Nothing more to measure once the port has gone (the main window says so).
  if (!link_.transport.IsOpen()) StopPolling();
  if (polling_) Timer1->start(tick.wait);
  emit PollTicked();
}

void TDiagForm::TransmitButtonClick() {
  if (scanning_) {
    StopScan();
    return;
  }
  if (!LengthFits(scanNumbers_) || !EnterProtocolMode()) return;
  scan_.Start();
  scanning_ = true;
  TransmitButton->setText("Stop");
  Timer2->start(diag::kFirstWait);
}

// The scan's step, run as the poll's tick is (Timer1Timer) on its own state and controls.
void TDiagForm::Timer2Timer() {
  if (!scanning_ || inScanStep_) return;
  if (!LengthFits(scanNumbers_)) {
    StopScan();
    return;
  }
  inScanStep_ = true;
  const diag::Scan::StepResult step = scan_.Step(*scanNumbers_.length, scanNumbers_.delayMs, Period());
  inScanStep_ = false;
  ShowRow(step.row);
  if (!link_.transport.IsOpen()) StopScan();
  if (scanning_) Timer2->start(step.wait);
  emit ScanStepped(step.row, step.sweepEnded);
}

}  // namespace qmx

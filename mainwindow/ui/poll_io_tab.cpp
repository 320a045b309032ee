#include "mainwindow/ui/poll_io_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "link/failure_text.h"
#include "link/command_layer.h"
#include "link/decoder.h"
#include "link/number_text.h"
#include "link/packet.h"
#include "link/prompter.h"
#include "link/ui/busy_cursor.h"
#include "widgets/gauge.h"

namespace qmx {

namespace {

// Every row of the captions and of the groups is this tall, so that they
// line up.
constexpr int kRowHeight = 22;
constexpr int kRowSpacing = 2;
constexpr int kGroupMargin = 3;
constexpr int kRows = 14;  // network address … PWM1
constexpr int kGpioRow = 3;
constexpr int kAdcRow = 9;
constexpr int kPwmRow = 12;

constexpr const char* kCaptions[kRows] = {
    "Network Address", "MAC Address",       "User Tag", "Switch 0 (GPIO0)",     "GPIO1", "LED 0 (GPIO2)", "LED 1 (GPIO3)",
    "GPIO4",           "GPIO5",             "Thermistor (ADC0)", "Potentiometer (ADC1)", "ADC2", "PWM0", "PWM1"};

QString Name(int n, const char* part) { return QString("Radio%1%2").arg(n).arg(part); }

// An edit of one row: at least `width` wide, wider as its group grows.
QLineEdit* MakeEdit(QWidget* parent, const QString& name, int width, bool readOnly) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setFixedHeight(kRowHeight);
  edit->setMinimumWidth(width);
  edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  edit->setReadOnly(readOnly);
  return edit;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const QString& name = {}) {
  auto* label = new QLabel(text, parent);
  if (!name.isEmpty()) label->setObjectName(name);
  label->setFixedHeight(kRowHeight);
  return label;
}

Gauge* MakeGauge(QWidget* parent, const QString& name, int maximum) {
  auto* gauge = new Gauge(parent);
  gauge->setObjectName(name);
  gauge->SetKind(Gauge::Kind::VerticalBar);
  gauge->SetRange(0, maximum);
  gauge->SetForeColor(QColor(0, 128, 0));
  gauge->SetShowText(false);
  gauge->setFixedWidth(18);
  gauge->setMinimumHeight(24);
  return gauge;
}

// A value label over a gauge over its caption.
QWidget* GaugeColumn(QWidget* parent, QLabel* value, Gauge* gauge, QLabel* caption) {
  auto* column = new QWidget(parent);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  for (QLabel* l : {value, caption}) l->setAlignment(Qt::AlignCenter);
  layout->addWidget(value);
  layout->addWidget(gauge, 1, Qt::AlignHCenter);
  layout->addWidget(caption);
  return column;
}

}  // namespace

PollIoTab::PollIoTab(CommandLayer& commands, RadioImage& image, Prompter& prompter, QWidget* parent)
    : QWidget(parent),
      commands_(commands),
      image_(image),
      prompter_(prompter),
      requests_(commands, image,
                {[this](int n, std::uint8_t lqi) { ShowReplyStrength(n, lqi); }, [this](int n) { ShowSuccessRate(n); },
                 [this] { ++commandsUnderWay_; },
                 [this] {
                   if (--commandsUnderWay_ == 0) emit CommandsEnded();
                 }}) {
  setObjectName("PollIO");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 4, 2, 0);
  // The captions and the four radios side by side; the last radio lies
  // mostly beyond the right edge until the status panel is collapsed.
  auto* scroll = new QScrollArea(this);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* strip = new QWidget(scroll);
  auto* row = new QHBoxLayout(strip);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  row->addWidget(BuildCaptions(), 0, Qt::AlignTop);
  // The groups share what the window gives beyond their first size.
  for (int n = 1; n <= kRemoteRadios; ++n) row->addWidget(BuildGroup(n), 1);
  scroll->setWidget(strip);
  layout->addWidget(scroll);

  RefreshTimer = new QTimer(this);
  RefreshTimer->setObjectName("RefreshTimer");
  RefreshTimer->setSingleShot(true);
  connect(RefreshTimer, &QTimer::timeout, this, &PollIoTab::RefreshTimerTimer);
  schedule_.SetDelay(RefreshEdit->text().toStdString());
  connect(RefreshUpDown, &QSpinBox::textChanged, this,
          [this](const QString& text) { schedule_.SetDelay(text.toStdString()); });
  connect(RefreshPollButton, &QPushButton::clicked, this, &PollIoTab::RefreshButton1Click);
  AlignCaptions();
}

PollIoTab::~PollIoTab() = default;

QWidget* PollIoTab::BuildCaptions() {
  captions_ = new QWidget(this);
  auto* column = new QVBoxLayout(captions_);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(kRowSpacing);
  for (const char* caption : kCaptions) column->addWidget(MakeLabel(captions_, caption));
  column->addSpacing(24);
  column->addWidget(new QLabel("Refresh Delay (sec)", captions_));
  // The edit is the up-down control's own: it changes only through it.
  RefreshUpDown = new QSpinBox(captions_);
  RefreshUpDown->setObjectName("RefreshUpDown");
  RefreshUpDown->setRange(0, 100);
  RefreshUpDown->setSingleStep(1);
  RefreshUpDown->setValue(1);
  RefreshUpDown->setFixedWidth(60);
  RefreshEdit = RefreshUpDown->findChild<QLineEdit*>();
  RefreshEdit->setObjectName("RefreshEdit");
  RefreshEdit->setReadOnly(true);
  RefreshPollButton = new QPushButton("Start", captions_);
  RefreshPollButton->setObjectName("RefreshPollButton");
  column->addWidget(RefreshUpDown);
  column->addWidget(RefreshPollButton, 0, Qt::AlignLeft);
  return captions_;
}

QGroupBox* PollIoTab::BuildGroup(int n) {
  RemoteRadioRow& r = Row(n);
  auto* group = new QGroupBox(QString("Radio %1").arg(n), this);
  group->setObjectName(Name(n, "GroupBox"));
  RadioGroupBox[static_cast<std::size_t>(n - 1)] = group;
  auto* grid = new QGridLayout(group);
  grid->setContentsMargins(kGroupMargin, kGroupMargin, kGroupMargin, kGroupMargin);
  grid->setVerticalSpacing(kRowSpacing);
  grid->setHorizontalSpacing(2);

  const QFontMetrics fm(font());
  const int valueWidth = fm.horizontalAdvance("0x0000") + 10;
  // The MAC address is the widest text: a slightly smaller face keeps the
  // four groups side by side at the window's first size.
  QFont macFont = font();
  macFont.setPixelSize(std::max(9, QFontInfo(font()).pixelSize() - 2));
  const int wideWidth = QFontMetrics(macFont).horizontalAdvance("00:00:00:00:00:00:00:00") + 8;

  r.networkAddress = new QComboBox(group);
  r.networkAddress->setObjectName(Name(n, "NetworkAddressComboBox"));
  r.networkAddress->setEditable(true);
  r.networkAddress->setInsertPolicy(QComboBox::NoInsert);
  r.networkAddress->setFixedHeight(kRowHeight);
  r.networkAddress->setMinimumWidth(wideWidth);
  r.mac = MakeEdit(group, Name(n, "MACAddressEdit"), wideWidth, true);
  r.mac->setFont(macFont);
  r.userTag = MakeEdit(group, Name(n, "UserTagEdit"), wideWidth, true);
  grid->addWidget(r.networkAddress, 0, 0, 1, 2);
  grid->addWidget(r.mac, 1, 0, 1, 2);
  grid->addWidget(r.userTag, 2, 0, 1, 2);
  for (int i = 0; i < 6; ++i) {
    const auto u = static_cast<std::size_t>(i);
    r.gpio[u] = MakeEdit(group, Name(n, QString("GPIO%1Edit").arg(i).toLatin1()), valueWidth, false);
    r.gpioDirection[u] = MakeLabel(group, "", Name(n, QString("GPIO%1DirStaticText").arg(i).toLatin1()));
    r.gpioDirection[u]->setMinimumWidth(fm.horizontalAdvance("(Output)") + 4);
    grid->addWidget(r.gpio[u], kGpioRow + i, 0);
    connect(r.gpio[u], &QLineEdit::textChanged, this, [this, n, u](const QString& text) {
      gpioValue_[static_cast<std::size_t>(n - 1)][u] = TextToInt(text.toStdString(), 0);
    });
    grid->addWidget(r.gpioDirection[u], kGpioRow + i, 1);
  }
  for (int a = 0; a < 3; ++a) {
    const auto u = static_cast<std::size_t>(a);
    r.adc[u] = MakeEdit(group, Name(n, QString("ADC%1Edit").arg(a).toLatin1()), valueWidth, true);
    grid->addWidget(r.adc[u], kAdcRow + a, 0);
  }
  r.pwm0 = MakeEdit(group, Name(n, "PWM0Edit"), valueWidth, false);
  r.pwm1 = MakeEdit(group, Name(n, "PWM1Edit"), valueWidth, false);
  grid->addWidget(r.pwm0, kPwmRow, 0);
  grid->addWidget(MakeLabel(group, "(8 bit)"), kPwmRow, 1);
  grid->addWidget(r.pwm1, kPwmRow + 1, 0);
  grid->addWidget(MakeLabel(group, "(16 bit)"), kPwmRow + 1, 1);

  r.rssiGauge = MakeGauge(group, Name(n, "RSSICGauge"), 255);
  r.rssiValue = new QLabel("0", group);
  r.rssiValue->setObjectName(Name(n, "RSSIValueLabel"));
  r.percentGauge = MakeGauge(group, Name(n, "PercentCGauge"), 100);
  r.percentValue = new QLabel("0", group);
  r.percentValue->setObjectName(Name(n, "PercentValueLabel"));
  r.percentLabel = new QLabel("%", group);
  r.percentLabel->setObjectName(Name(n, "PercentLabel"));
  auto* gauges = new QHBoxLayout;
  gauges->setSpacing(2);
  gauges->addWidget(GaugeColumn(group, r.rssiValue, r.rssiGauge, new QLabel("RSSI", group)));
  gauges->addWidget(GaugeColumn(group, r.percentValue, r.percentGauge, r.percentLabel));
  // The gauges beside the analog inputs, whose rows have nothing on the
  // right: the group stays narrow enough for four side by side.
  grid->addLayout(gauges, kAdcRow, 1, 3, 1);

  r.pollRadio = new QCheckBox("Poll Radio", group);
  r.pollRadio->setObjectName(Name(n, "PollRadioCheckBox"));
  r.pollRadio->setChecked(true);
  r.config = new QPushButton("Config", group);
  r.config->setObjectName(Name(n, "ConfigButton"));
  grid->addWidget(r.pollRadio, kRows, 0, 1, 2);
  grid->addWidget(r.config, kRows + 1, 0, 1, 2, Qt::AlignLeft);
  grid->setRowStretch(kRows + 2, 1);
  grid->setColumnStretch(0, 1);

  connect(r.networkAddress, &QComboBox::editTextChanged, this, [this, n] { NetworkAddressComboBoxChange(n); });
  connect(r.networkAddress, &QComboBox::currentIndexChanged, this, [this, n] { NetworkAddressComboBoxChange(n); });
  connect(r.config, &QPushButton::clicked, this, [this, n] { ConfigButtonClick(n); });
  for (QObject* o : std::initializer_list<QObject*>{r.networkAddress, r.networkAddress->lineEdit(), r.pwm0, r.pwm1})
    o->installEventFilter(this);
  return group;
}

// The captions start where the groups' first rows do.
void PollIoTab::AlignCaptions() {
  const int top = RadioGroupBox[0]->contentsMargins().top() + kGroupMargin;
  captions_->layout()->setContentsMargins(0, top, 0, 0);
}

void PollIoTab::showEvent(QShowEvent* event) {
  AlignCaptions();
  QWidget::showEvent(event);
}

int PollIoTab::CollapsedGrowth() const { return RadioGroupBox[3]->width(); }

bool PollIoTab::eventFilter(QObject* watched, QEvent* event) {
  const bool dblClick = event->type() == QEvent::MouseButtonDblClick;
  const bool enter = event->type() == QEvent::KeyPress && (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                                                           static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter);
  if (!dblClick && !enter) return QWidget::eventFilter(watched, event);
  for (int n = 1; n <= kRemoteRadios; ++n) {
    const RemoteRadioRow& r = Row(n);
    if (watched == r.networkAddress || watched == r.networkAddress->lineEdit()) {
      ReadRadio(n);
      return true;
    }
    if (watched == r.pwm0) {
      PWM0EditWrite(n);
      return true;
    }
    if (watched == r.pwm1) {
      PWM1EditWrite(n);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void PollIoTab::NoteAddress(int n) {
  const std::string text = Row(n).networkAddress->currentText().toStdString();
  const std::optional<std::uint16_t> address = RowAddress(text);
  address_[static_cast<std::size_t>(n - 1)] = address.value_or(0);
  addressUsable_[static_cast<std::size_t>(n - 1)] = address.has_value();
  addressText_[static_cast<std::size_t>(n - 1)] = text;
}

// The selected item, or -1 while the text was typed by hand.
int PollIoTab::SelectedIndex(int n) const {
  const QComboBox* box = RemoteRadioControls.at(static_cast<std::size_t>(n - 1)).networkAddress;
  const int index = box->currentIndex();
  return index >= 0 && box->itemText(index) == box->currentText() ? index : -1;
}

void PollIoTab::NetworkAddressComboBoxChange(int n) {
  NoteAddress(n);
  int& remembered = remembered_[static_cast<std::size_t>(n - 1)];
  const int index = SelectedIndex(n);
  if (index == remembered) return;
  remembered = index;
  // Text half typed (or emptied) is no address: nothing is read, and no
  // message interrupts the typing; Enter reads and says why not.
  if (AddressUsable(n)) ReadRadio(n);
}

bool PollIoTab::AddressUsable(int n) const { return addressUsable_.at(static_cast<std::size_t>(n - 1)); }

bool PollIoTab::AddressOrSay(int n) {
  if (AddressUsable(n)) return true;
  prompter_.Message(NetworkAddressProblem(addressText_.at(static_cast<std::size_t>(n - 1))), kNetworkAddressCaption);
  return false;
}

BankMask PollIoTab::Read(int n, BankMask mask) { return requests_.Read(n, Address(n), mask); }

void PollIoTab::ReadRadio(int n) {
  if (!AddressOrSay(n)) return;
  BusyCursor busy;
  if (Read(n, kReadOneMask) == kReadOneMask) {
    if (enabled_) ShowRemoteRadio(n);
  } else {
    ShowFailure(prompter_, FailureOf(Operation::CheckParameters));
  }
}

void PollIoTab::ConfigButtonClick(int n) {
  if (!AddressOrSay(n)) return;
  BankMask read = 0;
  {
    BusyCursor busy;
    read = Read(n, kAllBanks);
  }
  if (read != kAllBanks) {
    ShowFailure(prompter_, FailureOf(Operation::ReadBanks));
    return;
  }
  if (openConfig_) openConfig_(n, Address(n));
}

void PollIoTab::WriteRemote(int n, const RemoteWrite& write) {
  if (AddressOrSay(n)) (void)requests_.Write(n, Address(n), write);
}

void PollIoTab::PWM0EditWrite(int n) {
  WriteRemote(n, Pwm0Write(TextToInt(Row(n).pwm0->text().toStdString(), 0)));
}

void PollIoTab::PWM1EditWrite(int n) {
  WriteRemote(n, Pwm1Write(TextToInt(Row(n).pwm1->text().toStdString(), 0)));
}

void PollIoTab::ShowRemoteRadio(int n) {
  const RemoteRadioTexts t = FormatRemoteRadio(image_, n);
  RemoteRadioRow& r = Row(n);
  r.userTag->setText(QString::fromLatin1(t.userTag.data(), static_cast<qsizetype>(t.userTag.size())));
  r.mac->clear();
  r.mac->setText(QString::fromStdString(t.mac));
  for (std::size_t i = 0; i < 6; ++i) {
    output_[static_cast<std::size_t>(n - 1)][i] = t.output[i];
    r.gpioDirection[i]->setText(DirectionText(t.output[i]));
    r.gpio[i]->setReadOnly(!t.output[i]);
  }
  for (std::size_t a = 0; a < 3; ++a) r.adc[a]->setText(QString::fromStdString(t.adc[a]));
  r.pwm0->setText(QString::fromStdString(t.pwm0));
  r.pwm1->setText(QString::fromStdString(t.pwm1));
  r.pwm1->setEnabled(t.pwm1Enabled && enabled_);
  // Output lines too: what the user typed there went out before this read.
  for (std::size_t i = 0; i < 6; ++i) r.gpio[i]->setText(QString::fromStdString(t.gpio[i]));
}

void PollIoTab::ShowReplyStrength(int n, std::uint8_t strength) {
  if (n < 1 || n > kRemoteRadios) return;
  Row(n).rssiGauge->SetValue(strength);
  Row(n).rssiValue->setNum(strength);
}

void PollIoTab::ShowSuccessRate(int n) {
  if (n < 1 || n > kRemoteRadios) return;
  const RemoteLinkStats& stats = requests_.Stats(n);
  const std::optional<int> rate = SuccessRate(stats.attempts, stats.successes);
  if (!rate) return;
  Row(n).percentGauge->SetValue(*rate);
  Row(n).percentValue->setNum(Row(n).percentGauge->Value());
}

void PollIoTab::ResetPollControls(bool on) {
  enabled_ = on;
  if (!on) StopPolling();
  for (int n = 1; n <= kRemoteRadios; ++n) {
    RemoteRadioRow& r = Row(n);
    for (Gauge* g : {r.rssiGauge, r.percentGauge}) g->SetValue(0);
    for (QLabel* l : {r.rssiValue, r.percentValue}) l->setText("0");
    std::vector<QWidget*> switched{r.mac, r.networkAddress, r.pwm0, r.pwm1, r.pollRadio, r.config};
    switched.insert(switched.end(), r.gpio.begin(), r.gpio.end());
    for (QWidget* w : switched) w->setEnabled(on);
    if (on) continue;
    r.mac->clear();
    {
      const QSignalBlocker quiet(r.networkAddress);
      r.networkAddress->clear();
      r.networkAddress->setCurrentIndex(-1);
      r.networkAddress->clearEditText();
    }
    const auto u = static_cast<std::size_t>(n - 1);
    remembered_[u] = -1;
    address_[u] = 0;
    addressUsable_[u] = false;
    addressText_[u].clear();
    output_[u] = {};
    r.userTag->clear();
    for (QLineEdit* e : r.gpio) e->clear();
    for (QLabel* l : r.gpioDirection) l->clear();
    for (QLineEdit* e : r.adc) e->clear();
    r.pwm0->clear();
    r.pwm1->clear();
  }
  for (QWidget* w : {static_cast<QWidget*>(RefreshEdit), static_cast<QWidget*>(RefreshPollButton),
                     static_cast<QWidget*>(RefreshUpDown)})
    w->setEnabled(on);
}

void PollIoTab::ApplyIoEvent(std::uint16_t address, std::span<const std::uint8_t> data) {
  const std::optional<int> n = MatchIoEvent(addressText_, address);
  if (!n) return;
  ApplyIoData(image_, *n, data);
  ShowRemoteRadio(*n);
}

void PollIoTab::TakeRadio(int n, std::uint16_t address) {
  RemoteRadioRow& r = Row(n);
  r.pollRadio->setChecked(true);
  if (AddressUsable(n) && Address(n) == address) return;
  const QString text = QString::fromStdString(NetworkAddressText(address));
  {
    // One read, whether the address is on the list or not.
    const QSignalBlocker quiet(r.networkAddress);
    if (const int index = r.networkAddress->findText(text); index >= 0)
      r.networkAddress->setCurrentIndex(index);
    else
      r.networkAddress->setEditText(text);
  }
  NoteAddress(n);
  remembered_[static_cast<std::size_t>(n - 1)] = SelectedIndex(n);
  ReadRadio(n);
}

void PollIoTab::SetDestinations(const QStringList& all) {
  for (const RemoteRadioRow& r : RemoteRadioControls) {
    // The list only grows: the chosen item keeps its index, the text stays.
    const QSignalBlocker quiet(r.networkAddress);
    const QString text = r.networkAddress->currentText();
    const int index = r.networkAddress->currentIndex();
    r.networkAddress->clear();
    r.networkAddress->addItems(all);
    r.networkAddress->setCurrentIndex(index < r.networkAddress->count() ? index : -1);
    r.networkAddress->setEditText(text);
  }
}

void PollIoTab::SetConfigButtonsEnabled(bool on) {
  for (const RemoteRadioRow& r : RemoteRadioControls) r.config->setEnabled(on && enabled_);
}

void PollIoTab::StopPolling() {
  schedule_.Abandon();
  RefreshTimer->stop();
  RefreshPollButton->setText("Start");
  SetConfigButtonsEnabled(true);
}

bool PollIoTab::PausePolling() {
  if (!schedule_.Pause()) return false;
  RefreshTimer->stop();
  return true;
}

void PollIoTab::ResumePolling() {
  if (const auto ms = schedule_.Resume()) RefreshTimer->start(*ms);
}

void PollIoTab::RefreshButton1Click() {
  if (!schedule_.Running()) {
    std::array<bool, kRemoteRadios> ticked{};
    for (int n = 1; n <= kRemoteRadios; ++n) ticked[static_cast<std::size_t>(n - 1)] = Row(n).pollRadio->isChecked();
    if (const std::optional<int> bad = BadPolledAddress(addressText_, ticked)) {
      prompter_.Message("Radio " + std::to_string(*bad) + ": " +
                            NetworkAddressProblem(addressText_[static_cast<std::size_t>(*bad - 1)]),
                        kNetworkAddressCaption);
      return;
    }
    SetConfigButtonsEnabled(false);
    RefreshTimer->setInterval(schedule_.Start());
    RefreshPollButton->setText("Stop");
    emit StatusChanged("Starting automatic refresh...");
    RefreshTimer->start();
  } else {
    schedule_.Stop();
    RefreshPollButton->setText("Start");
    RefreshTimer->stop();
    emit StatusChanged("Automatic refresh stopped.");
    SetConfigButtonsEnabled(true);
  }
}

void PollIoTab::RefreshTimerTimer() {
  RefreshTimer->stop();
  PollCycleHooks hooks;
  hooks.polled = [this](int n) {
    // Empty text is not polled; text changed into no address meanwhile is
    // skipped too.
    return AddressUsable(n) && Row(n).pollRadio->isChecked();
  };
  hooks.address = [this](int n) { return Address(n); };
  hooks.outputValue = [this](int n, int line) -> std::optional<std::int32_t> {
    const auto u = static_cast<std::size_t>(n - 1);
    const auto i = static_cast<std::size_t>(line);
    if (!output_[u][i]) return std::nullopt;
    return gpioValue_[u][i];
  };
  hooks.polling = [this](int n) { emit StatusChanged(QString("Polling radio %1....").arg(n)); };
  hooks.read = [this](int n) { ShowRemoteRadio(n); };
  const std::optional<PollCycleEnd> end = RunPollCycle(schedule_, requests_, hooks);
  if (!end) return;  // the cycle in progress re-arms
  // While the automatic refresh runs, the line says so rather than that
  // polling is over.
  if (end->complete) emit StatusChanged(end->rearmMs ? "Polling complete.  Automatic refresh running." : "Polling complete.");
  if (end->rearmMs) RefreshTimer->start(*end->rearmMs);
}

}  // namespace qmx

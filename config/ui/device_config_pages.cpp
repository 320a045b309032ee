#include "config/ui/device_config_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/config_baselines.h"
#include "config/settings_model.h"

namespace qmx {
namespace {

using F = StatusValue::Format;

constexpr StatusValue kStatusValues[] = {
    // "Status"
    {"MAC Address", "MACAddressStaticText", 2, 0, 8, F::Mac},
    {"Current Network Address", "CurrentNwkAddrStaticText", 2, 8, 2},
    {"Current PAN ID", "CurrentPANIDStaticText", 2, 10, 2},
    {"Current Channel", "CurrentChannelStaticText", 2, 12, 1},
    {"Link Status", "LinkStatusStaticText", 2, 13, 1},
    {"Hardware Version", "HardwareVersionStaticText", 2, 14, 1},
    {"Firmware Version", "FirmwareVersionStaticText", 2, 15, 1},
    {"Firmware Build", "FirmwareBuildStaticText", 2, 16, 2},
    {"RSSI Idle", "RSSIIdleStaticText", 2, 19, 1},
    {"RSSI Last", "RSSILastStaticText", 2, 20, 1},
    // "I/O Peripherals"
    {"ADC0", "ADC0ValueEdit", 5, 6, 2},
    {"ADC1", "ADC1ValueEdit", 5, 8, 2},
    {"ADC2", "ADC2ValueEdit", 5, 10, 2},
    {"Module Voltage", "ADCBatteryEdit", 5, 12, 2},
    {"Temperature", "TemperatureEdit", 5, 14, 1},
    // "Diag"
    {"System Uptime", "SystemUptimeStaticText", 16, 0, 4},
    {"Rx Packet Count", "RxPktCountStaticText", 16, 4, 4},
    {"Tx Packet Count", "TxPckCountStaticText", 16, 8, 4},
    {"Tx Retries", "TxRetriesStaticText", 16, 12, 2},
    {"Tx Relays", "TxRelaysStaticText", 16, 14, 2},
    {"Tx Data Count", "TxDataCntStaticText", 16, 16, 2},
    {"Rx Data Count", "RxDataCntStaticText", 16, 18, 2},
    {"Lease Renewal Count", "LeaseRenewalCntStaticText", 16, 32, 2},
    {"Duplicate Count", "DuplicateCntStaticText", 16, 34, 2},
    {"Current Relay Address", "CurrentRelayAddrStaticText", 16, 36, 2},
    {"CTS On/Off Count", "CTSOnOffCountStaticText", 16, 38, 2},
    {"RF Buffer Overflow", "RFBufferOverflowStaticText", 16, 40, 1},
    {"UART Buffer Overflow", "UARTBufferOverflowStaticText", 16, 41, 1},
    {"Link Failures", "LinkFailuresStaticText", 16, 48, 1},
    {"Secure Failures", "SecureFailuresStaticText", 16, 49, 1},
    {"Max Backoffs", "MaxBackoffsStaticText", 16, 50, 2},
    {"Comm Errors", "CommErrorsStaticText", 16, 52, 1},
    {"Build Date/Time", "BuildDateTimeStaticText", 16, 53, 19, F::Chars},
    // "Debug"
    {"Crystal Frequency", "CrystalFreqStaticText", 16, 73, 2, F::Decimal},
};

const Setting& Find(const char* key) {
  const Setting* s = FindSetting(key);
  if (!s) throw std::logic_error(std::string("no setting ") + key);
  return *s;
}

// Control `n` of a setting: named as the settings table names it, and
// handed to the form.
template <class W>
W* Bind(ConfigPages& pages, const Setting& s, int n, W* w) {
  w->setObjectName(QString::fromStdString(ControlNames(s).at(static_cast<std::size_t>(n))));
  auto& controls = pages.controls[&s];
  if (controls.size() <= static_cast<std::size_t>(n)) controls.resize(static_cast<std::size_t>(n) + 1);
  controls[static_cast<std::size_t>(n)] = w;
  return w;
}

// Width of `text` in the widget's font plus the frame and margins of an edit.
int EditWidth(QWidget* w, const QString& text) { return w->fontMetrics().horizontalAdvance(text) + 16; }

QLineEdit* Edit(QWidget* parent, const QString& name, const QString& widest) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setFixedWidth(EditWidth(e, widest));
  return e;
}

QLineEdit* HexEdit(QWidget* parent, ConfigPages& pages, const char* key) {
  const Setting& s = Find(key);
  return Bind(pages, s, 0, Edit(parent, {}, "0x" + QString(s.digits, 'D')));
}

// A list whose items carry their codes.
QComboBox* Combo(QWidget* parent, std::span<const SettingItem> items) {
  auto* c = new QComboBox(parent);
  for (const auto& item : items) c->addItem(item.text, item.code);
  c->setPlaceholderText("N/A");
  c->setCurrentIndex(-1);
  c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  return c;
}
QComboBox* Combo(QWidget* parent, ConfigPages& pages, const Setting& s) {
  return Bind(pages, s, 0, Combo(parent, s.items));
}

QCheckBox* Check(QWidget* parent, const QString& name, const QString& caption) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  return c;
}

QLabel* Label(QWidget* parent, const QString& text) { return new QLabel(text, parent); }

// label | control rows in a grid, from `row` on.
void Row(QGridLayout* grid, int row, const QString& label, QWidget* control, int column = 0) {
  grid->addWidget(Label(grid->parentWidget(), label), row, column);
  grid->addWidget(control, row, column + 1, Qt::AlignLeft);
}

QGridLayout* Grid(QWidget* w) {
  auto* g = new QGridLayout(w);
  g->setHorizontalSpacing(12);
  g->setVerticalSpacing(6);
  return g;
}

// Pushes everything up and left.
void Settle(QGridLayout* grid) {
  grid->setRowStretch(grid->rowCount(), 1);
  grid->setColumnStretch(grid->columnCount(), 1);
}

QWidget* Value(QWidget* parent, const StatusValue& v) {
  QWidget* w = nullptr;
  if (v.bank == 5) {
    auto* e = Edit(parent, v.control, "0xDDDD");
    e->setReadOnly(true);
    w = e;
  } else {
    auto* l = new QLabel(parent);
    l->setObjectName(v.control);
    l->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    l->setMargin(1);
    const QString widest = v.format == F::Mac     ? "DD:DD:DD:DD:DD:DD:DD:DD"
                           : v.format == F::Chars ? QString(19, 'D')
                                                  : "0x" + QString(v.span * 2, 'D');
    l->setMinimumWidth(EditWidth(l, widest));
    w = l;
  }
  return w;
}

// The rows of the status values of one bank (and register range), in
// `columns` columns of label and value.
void StatusRows(QGridLayout* grid, std::uint8_t bank, int firstReg, int lastReg, int columns = 1) {
  std::vector<const StatusValue*> rows;
  for (const StatusValue& v : kStatusValues)
    if (v.bank == bank && v.reg >= firstReg && v.reg <= lastReg) rows.push_back(&v);
  const int perColumn = (static_cast<int>(rows.size()) + columns - 1) / columns;
  for (int i = 0; i < static_cast<int>(rows.size()); ++i)
    Row(grid, i % perColumn, rows[static_cast<std::size_t>(i)]->label,
        Value(grid->parentWidget(), *rows[static_cast<std::size_t>(i)]), 2 * (i / perColumn));
}

// A pair of exclusive radio buttons in a row of their own; `on` is the second.
QRadioButton* Pair(QWidget* parent, ConfigPages& pages, const QString& offName, const QString& offText,
                   const Setting& s, int n, const QString& onText) {
  auto* box = new QWidget(parent);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  auto* off = new QRadioButton(offText, box);
  off->setObjectName(offName);
  auto* on = Bind(pages, s, n, new QRadioButton(onText, box));
  row->addWidget(off);
  row->addWidget(on);
  pages.partners.insert(on, off);
  return on;
}

QWidget* TransceiverPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  Row(g, 0, "Device Mode", Combo(page, pages, Find("device-mode")));
  Row(g, 1, "Initial PAN ID", HexEdit(page, pages, "initial-pan-id"));
  Row(g, 2, "Sleep Mode", Combo(page, pages, Find("sleep-mode")));
  Row(g, 3, "Wake Duration", HexEdit(page, pages, "wake-duration"));
  Row(g, 4, "TX Power", HexEdit(page, pages, "tx-power"));
  Row(g, 5, "User Tag", Bind(pages, Find("user-tag"), 0, Edit(page, {}, QString(20, 'D'))));
  pages.reset = new QPushButton("Reset", page);
  pages.reset->setObjectName("ResetButton");
  pages.defaults = new QPushButton("Defaults", page);
  pages.defaults->setObjectName("DefaultButton");
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  buttons->addWidget(pages.reset);
  buttons->addWidget(pages.defaults);
  buttons->addStretch(1);
  g->addLayout(buttons, 6, 0, 1, 2);
  Settle(g);
  return page;
}

QWidget* SystemPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  g->addWidget(Bind(pages, Find("security-mode"), 0, Check(page, {}, "Enable Encryption")), 0, 0, 1, 2);
  auto* key = Bind(pages, Find("security-key"), 0, Edit(page, {}, QString(18, 'D')));
  key->setMaxLength(16);
  key->setEchoMode(QLineEdit::Password);  // typed, loaded from a profile or not: never in clear
  Row(g, 1, "Security Key", key);
  Row(g, 2, "ARQ Attempt Limit", HexEdit(page, pages, "arq-attempt-limit"));
  Row(g, 3, "Broadcast Attempts", HexEdit(page, pages, "broadcast-attempts"));
  Row(g, 4, "Lease Period", HexEdit(page, pages, "lease-period"));
  Row(g, 5, "Relay Scan Rate Normal", HexEdit(page, pages, "relay-scan-rate-normal"));
  Row(g, 6, "Relay Scan Rate Fast", HexEdit(page, pages, "relay-scan-rate-fast"));
  g->setRowStretch(7, 1);
  auto* group = new QGroupBox("Channel List", page);
  auto* list = Bind(pages, Find("channel-list"), 0, new QListWidget(group));
  for (int c = 11; c <= 26; ++c) {
    auto* item = new QListWidgetItem(QString("Channel %1   (%2 MHz)").arg(c).arg(2350 + 5 * c), list);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(Qt::Unchecked);
  }
  list->setMinimumWidth(list->sizeHintForColumn(0) + 30);
  list->setMinimumHeight(list->sizeHintForRow(0) * 16 + 2 * list->frameWidth());
  (new QVBoxLayout(group))->addWidget(list);
  g->addWidget(group, 0, 2, 8, 1);
  g->setColumnStretch(3, 1);
  return page;
}

QWidget* StatusPage(QWidget* parent) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  StatusRows(g, 2, 0, 255);
  Settle(g);
  return page;
}

QWidget* SerialPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  Row(g, 0, "Baud Rate", Combo(page, pages, Find("serial-baud-rate")));
  const Setting& format = Find("serial-parity");
  Row(g, 1, "Parity", Combo(page, pages, format));
  Row(g, 2, "Stop Bits", Bind(pages, format, 1, Combo(page, Find("serial-stop-bits").items)));
  Settle(g);
  return page;
}

QWidget* ProtocolPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  Row(g, 0, "Protocol Mode", Combo(page, pages, Find("protocol-mode")));
  Row(g, 1, "TX Timeout", HexEdit(page, pages, "tx-timeout"));
  Row(g, 2, "Minimum Packet Length", HexEdit(page, pages, "minimum-packet-length"));
  // Shown as the radio holds it; Apply never writes it.
  auto* announce = Bind(pages, Find("startup-announce"), 0, Check(page, {}, "Startup Announce Enable"));
  announce->setEnabled(false);
  g->addWidget(announce, 3, 0, 1, 2);
  Row(g, 4, "Escape Sequence", Combo(page, pages, Find("escape-sequence")));
  Row(g, 5, "Transparent Default Addr", HexEdit(page, pages, "transparent-default-address"));
  Settle(g);
  return page;
}

QWidget* PeripheralsPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* outer = new QHBoxLayout(page);
  auto* gpio = new QGroupBox("GPIO", page);
  auto* g = Grid(gpio);
  for (int n = 0; n < kPinCount; ++n) {
    g->addWidget(Label(gpio, QString("GPIO%1").arg(n)), n, 0);
    auto* direction = new QLabel("Input", gpio);
    direction->setObjectName(QString("GPIO%1StaticText").arg(n));
    direction->setMinimumWidth(direction->fontMetrics().horizontalAdvance("Output") + 4);
    g->addWidget(direction, n, 1);
    const Setting& pin = Find(("gpio" + std::to_string(n) + "-level").c_str());
    auto* on = Pair(gpio, pages, QString("GPIO%10RadioButton").arg(n), "0", pin, 0, "1");
    on->parentWidget()->setObjectName(QString("GPIO%1Panel").arg(n));
    g->addWidget(on->parentWidget(), n, 2);
    pages.levelPanels[static_cast<std::size_t>(n)] = on->parentWidget();
    pages.directionLabels[static_cast<std::size_t>(n)] = direction;
  }
  Settle(g);
  outer->addWidget(gpio);
  auto* right = new QVBoxLayout;
  auto* analog = new QGroupBox("Analog Inputs", page);
  auto* a = Grid(analog);
  StatusRows(a, 5, 0, 255);
  right->addWidget(analog);
  auto* pwm = new QGroupBox("PWM Outputs", page);
  auto* p = Grid(pwm);
  Row(p, 0, "PWM0", HexEdit(pwm, pages, "pwm0-value"));
  Row(p, 1, "PWM1", HexEdit(pwm, pages, "pwm1-value"));
  right->addWidget(pwm);
  right->addStretch(1);
  outer->addLayout(right);
  outer->addStretch(1);
  return page;
}

QWidget* GpioSetupPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* outer = new QVBoxLayout(page);
  auto* pins = new QGroupBox("GPIO Setup", page);
  auto* g = Grid(pins);
  const Setting& direction = Find("gpio-direction");
  const Setting& init = Find("gpio-init");
  const Setting& edge = Find("gpio-edge-trigger");
  const Setting& sleepDirection = Find("gpio-sleep-direction");
  const Setting& sleepState = Find("sleep-io-state");
  int column = 1;
  for (const char* heading : {"Direction", "Init", "Edge Interrupt", "Sleep Direction", "Sleep State"})
    g->addWidget(Label(pins, heading), 0, column++);
  for (int n = 0; n < kPinCount; ++n) {
    const int row = n + 1;
    g->addWidget(Label(pins, QString("GPIO%1").arg(n)), row, 0);
    g->addWidget(Pair(pins, pages, QString("GPIO%1InputRadioButton").arg(n), "Input", direction, n, "Output")
                     ->parentWidget(),
                 row, 1);
    auto* level = Bind(pages, init, n, Edit(pins, {}, "DD"));
    level->setMaxLength(1);
    g->addWidget(level, row, 2);
    if (n < edge.digits) g->addWidget(Bind(pages, edge, n, Check(pins, {}, "Enabled")), row, 3);
    g->addWidget(Pair(pins, pages, QString("GPIOSleepInputRadioButton%1").arg(n), "Input", sleepDirection, n,
                      "Output")
                     ->parentWidget(),
                 row, 4);
    auto* state = Bind(pages, sleepState, n, Edit(pins, {}, "DD"));
    state->setMaxLength(1);
    g->addWidget(state, row, 5);
  }
  g->addWidget(Bind(pages, Find("use-sleep-io-states"), 0, Check(pins, {}, "Use Sleep I/O States")), kPinCount + 1, 4,
               1, 2);
  g->setColumnStretch(6, 1);
  outer->addWidget(pins);
  auto* alt = new QGroupBox("GPIO Alt Function", page);
  auto* a = Grid(alt);
  const Setting& alternate = Find("gpio-alternate-functions");
  const char* captions[] = {"Enable ADC_REF (GPIO0)", "Reserved (GPIO01)",   "Enable PWM1 (GPIO2)",
                            "Enable RS-485 (GPIO3)",  "Enable CTS (GPIO4)", "Enable RTS (GPIO5)"};
  for (int n = 0; n < kPinCount; ++n)
    a->addWidget(Bind(pages, alternate, n, Check(alt, {}, captions[n])), n / 3, n % 3);
  a->setColumnStretch(3, 1);
  outer->addWidget(alt);
  outer->addStretch(1);
  return page;
}

QWidget* ReportingPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* outer = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  auto* values = new QWidget(page);
  auto* g = Grid(values);
  g->setContentsMargins(0, 0, 0, 0);
  Row(g, 0, "PWM0 Init", HexEdit(values, pages, "pwm0-init"));
  Row(g, 1, "PWM1 Init", HexEdit(values, pages, "pwm1-init"));
  Row(g, 2, "ADC Mode", Combo(values, pages, Find("adc-mode")));
  Row(g, 3, "ADC Sample Interval", HexEdit(values, pages, "adc-sample-interval"));
  Row(g, 4, "I/O Reporting Interval", HexEdit(values, pages, "io-reporting-interval"));
  Row(g, 5, "I/O Report Address", HexEdit(values, pages, "io-report-address"));
  g->addWidget(Bind(pages, Find("binding-enable"), 0, Check(values, {}, "Enable Binding")), 6, 0, 1, 2);
  left->addWidget(values);

  auto* thresholds = new QGroupBox("ADC Thresholds", page);
  auto* t = Grid(thresholds);
  t->addWidget(Label(thresholds, "Low"), 0, 1);
  t->addWidget(Label(thresholds, "High"), 0, 2);
  for (int n = 0; n < 3; ++n) {
    t->addWidget(Label(thresholds, QString("ADC%1").arg(n)), n + 1, 0);
    const std::string adc = "adc" + std::to_string(n);
    t->addWidget(HexEdit(thresholds, pages, (adc + "-threshold-low").c_str()), n + 1, 1);
    t->addWidget(HexEdit(thresholds, pages, (adc + "-threshold-high").c_str()), n + 1, 2);
  }
  left->addWidget(thresholds);
  left->addStretch(1);
  outer->addLayout(left);

  auto* right = new QVBoxLayout;
  auto* trigger = new QGroupBox("I/O Report Trigger", page);
  auto* tr = new QVBoxLayout(trigger);
  const Setting& triggers = Find("io-report-trigger");
  const char* captions[] = {"GPIO0 Edge",       "GPIO1 Edge",     "GPIO2 Edge",     "GPIO3 Edge",
                            "Periodic Report Timer", "ADC0 Threshold", "ADC1 Threshold", "ADC2 Threshold"};
  for (int n = 0; n < triggers.digits; ++n) tr->addWidget(Bind(pages, triggers, n, Check(trigger, {}, captions[n])));
  right->addWidget(trigger);

  auto* mode = new QGroupBox("I/O Report Mode", page);
  auto* m = new QVBoxLayout(mode);
  const Setting& reportMode = Find("io-report-mode");
  auto* event = Bind(pages, reportMode, 0, new QRadioButton("Event Messaging", mode));
  auto* registration = new QRadioButton("Registration Messaging", mode);
  registration->setObjectName("RegistrationRadioButton");
  m->addWidget(event);
  m->addWidget(registration);
  m->addWidget(Bind(pages, reportMode, 1, Check(mode, {}, "Enable Local  Reporting")));
  right->addWidget(mode);
  right->addStretch(1);
  outer->addLayout(right);
  outer->addStretch(1);
  return page;
}

QWidget* DiagPage(QWidget* parent) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  StatusRows(g, 16, 0, 72, 2);
  Settle(g);
  return page;
}

QWidget* DebugPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  StatusRows(g, 16, 73, 255);
  auto make = [page](const char* name, const char* caption) {
    auto* b = new QPushButton(caption, page);
    b->setObjectName(name);
    return b;
  };
  pages.fcc1 = make("FCC1Button", "FCC1");
  pages.fcc4 = make("Button1", "FCC4");
  pages.fcc2 = make("FCC2Button", "FCC2");
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  for (QPushButton* b : {pages.fcc1, pages.fcc4, pages.fcc2}) buttons->addWidget(b);
  buttons->addStretch(1);
  g->addLayout(buttons, 1, 0, 1, 2);
  Settle(g);
  return page;
}

}  // namespace

std::span<const StatusValue> StatusValues() { return kStatusValues; }

ConfigPages BuildConfigPages(QWidget* parent) {
  ConfigPages p;
  p.titles = {"Transceiver Setup", "System", "Status", "Serial", "Protocol", "I/O Peripherals",
              "I/O Setup", "I/O Setup", "Diag", "Debug"};
  p.pages = {TransceiverPage(parent, p), SystemPage(parent, p),   StatusPage(parent),
             SerialPage(parent, p),      ProtocolPage(parent, p), PeripheralsPage(parent, p),
             GpioSetupPage(parent, p),   ReportingPage(parent, p), DiagPage(parent),
             DebugPage(parent, p)};
  return p;
}

}  // namespace qmx

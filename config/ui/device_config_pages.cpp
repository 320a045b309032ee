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
#include <initializer_list>
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

QLineEdit* HexEdit(QWidget* parent, ConfigPages& pages, const Setting& s) {
  return Bind(pages, s, 0, Edit(parent, {}, "0x" + QString(s.digits, 'D')));
}
QLineEdit* HexEdit(QWidget* parent, ConfigPages& pages, const char* key) { return HexEdit(parent, pages, Find(key)); }

// The user tag's edit, or the key's: the key, typed or loaded from a profile,
// never shows in clear.
QLineEdit* TextEdit(QWidget* parent, ConfigPages& pages, const Setting& s) {
  const bool key = s.encoding == Encoding::Key;
  auto* e = Bind(pages, s, 0, Edit(parent, {}, QString(key ? 18 : 20, 'D')));
  if (key) {
    e->setMaxLength(16);
    e->setEchoMode(QLineEdit::Password);
  }
  return e;
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

// The settings in the order given, a row each: label and control; a check
// box spans both columns with the label as its text (disabled when it is
// shown only). Other kinds of control are left to their page.
void SettingRows(QGridLayout* g, ConfigPages& pages, const std::vector<const Setting*>& settings) {
  QWidget* page = g->parentWidget();
  int row = 0;
  const Setting* format = nullptr;  // the lists of a Shared row belong to it
  for (const Setting* setting : settings) {
    const Setting& s = *setting;
    switch (s.kind) {
      case ControlKind::Edit:
        Row(g, row++, s.label, HexEdit(page, pages, s));
        break;
      case ControlKind::SerialFormat:
        format = &s;
        [[fallthrough]];
      case ControlKind::List:
        Row(g, row++, s.label, Combo(page, pages, s));
        break;
      case ControlKind::Shared:
        Row(g, row++, s.label, Bind(pages, *format, 1, Combo(page, s.items)));
        break;
      case ControlKind::Text:
        Row(g, row++, s.label, TextEdit(page, pages, s));
        break;
      case ControlKind::Check: {
        auto* check = Bind(pages, s, 0, Check(page, {}, s.label));
        if (!s.failure) check->setEnabled(false);  // shown as the radio holds it; Apply never writes it
        g->addWidget(check, row++, 0, 1, 2);
        break;
      }
      default:
        break;
    }
  }
}

// The settings of `bank`, in table order.
std::vector<const Setting*> OfBank(std::uint8_t bank) {
  std::vector<const Setting*> out;
  for (const Setting& s : Settings())
    if (s.address.bank == bank) out.push_back(&s);
  return out;
}

std::vector<const Setting*> Named(std::initializer_list<const char*> keys) {
  std::vector<const Setting*> out;
  for (const char* key : keys) out.push_back(&Find(key));
  return out;
}

QWidget* TransceiverPage(QWidget* parent, ConfigPages& pages) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  SettingRows(g, pages, OfBank(0));
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
  SettingRows(g, pages, OfBank(1));
  g->setRowStretch(7, 1);
  const Setting& channels = Find("channel-list");
  auto* group = new QGroupBox(channels.label, page);
  auto* list = Bind(pages, channels, 0, new QListWidget(group));
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

// A page of nothing but one bank's setting rows: Serial (bank 3) and
// Protocol (bank 4).
QWidget* BankPage(QWidget* parent, ConfigPages& pages, std::uint8_t bank) {
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  SettingRows(g, pages, OfBank(bank));
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
  SettingRows(p, pages, Named({"pwm0-value", "pwm1-value"}));
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
  const Setting& useSleepStates = Find("use-sleep-io-states");
  g->addWidget(Bind(pages, useSleepStates, 0, Check(pins, {}, useSleepStates.label)), kPinCount + 1, 4, 1, 2);
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
  SettingRows(g, pages,
              Named({"pwm0-init", "pwm1-init", "adc-mode", "adc-sample-interval", "io-reporting-interval",
                     "io-report-address", "binding-enable"}));
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
             BankPage(parent, p, 3),     BankPage(parent, p, 4),  PeripheralsPage(parent, p),
             GpioSetupPage(parent, p),   ReportingPage(parent, p), DiagPage(parent),
             DebugPage(parent, p)};
  return p;
}

}  // namespace qmx

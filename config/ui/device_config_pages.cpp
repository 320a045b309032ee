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
#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
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

// Control `n` of a setting: named as the settings table names it, and
// handed to the form.
template <class W>
W* Bind(ConfigPages& pages, const Setting& s, std::size_t n, W* w) {
  w->setObjectName(QString::fromStdString(ControlNames(s).at(n)));
  auto& controls = pages.controls[&s];
  if (controls.size() <= n) controls.resize(n + 1);
  controls[n] = w;
  return w;
}

[[noreturn]] void NoPlaceFor(const Setting& s) {
  throw std::logic_error(std::string("the configuration dialog has no place for ") + s.key);
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
  if (s.kind != ControlKind::Edit) NoPlaceFor(s);
  return Bind(pages, s, 0, Edit(parent, {}, "0x" + QString(s.digits, 'D')));
}

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
// Control `n` of a setting as a check box with its caption.
QCheckBox* Check(QWidget* parent, ConfigPages& pages, const Setting& s, std::size_t n) {
  return Bind(pages, s, n, Check(parent, {}, ControlCaption(s, n)));
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

// Control `n` of a setting of paired buttons, after the other button of its
// pair, side by side in a panel of their own; returns the control.
QRadioButton* Pair(QWidget* parent, ConfigPages& pages, const Setting& s, std::size_t n) {
  const auto partners = PartnerNames(s);
  if (n >= partners.size()) NoPlaceFor(s);
  auto* box = new QWidget(parent);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  auto* off = new QRadioButton(s.partnerCaption, box);
  off->setObjectName(QString::fromStdString(partners[n]));
  auto* on = Bind(pages, s, n, new QRadioButton(ControlCaption(s, n), box));
  row->addWidget(off);
  row->addWidget(on);
  pages.partners.insert(on, off);
  return on;
}

// The rows of a page or group box in table order, a row each: label and
// control; a check box spans both columns with the label as its text
// (disabled when it is shown only). Returns the first row after them.
int SettingRows(QGridLayout* g, ConfigPages& pages, const std::vector<const Setting*>& settings) {
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
        if (!format) NoPlaceFor(s);
        Row(g, row++, s.label, Bind(pages, *format, 1, Combo(page, s.items)));
        break;
      case ControlKind::Text:
        Row(g, row++, s.label, TextEdit(page, pages, s));
        break;
      case ControlKind::Check: {
        auto* check = Check(page, pages, s, 0);
        if (s.shownOnly) check->setEnabled(false);  // shown as the radio holds it; Apply never writes it
        g->addWidget(check, row++, 0, 1, 2);
        break;
      }
      default:
        NoPlaceFor(s);
    }
  }
  return row;
}

// The rows of a page that stand in one group box (or in none), in table
// order.
struct Box {
  const char* title = nullptr;
  std::vector<const Setting*> rows;
};

bool SameGroup(const char* a, const char* b) { return a == b || (a && b && std::string_view(a) == b); }

// The boxes of `page` in the order of their first rows in the table: the
// `N` boxes the page lays out.
template <std::size_t N>
std::array<Box, N> BoxesOf(Page page) {
  std::vector<Box> boxes;
  for (const Setting& s : Settings()) {
    if (s.page != page) continue;
    auto box = std::find_if(boxes.begin(), boxes.end(), [&](const Box& b) { return SameGroup(b.title, s.group); });
    if (box == boxes.end()) box = boxes.insert(boxes.end(), Box{s.group, {}});
    box->rows.push_back(&s);
  }
  if (boxes.size() != N)
    throw std::logic_error("a page of the configuration dialog has " + std::to_string(boxes.size()) +
                           " boxes of settings, not " + std::to_string(N));
  std::array<Box, N> out;
  std::move(boxes.begin(), boxes.end(), out.begin());
  return out;
}

// The one row of a box.
const Setting& OnlyRow(const Box& box) {
  if (box.rows.size() != 1) NoPlaceFor(*box.rows.back());
  return *box.rows.front();
}

QWidget* TransceiverPage(QWidget* parent, ConfigPages& pages) {
  const auto [own] = BoxesOf<1>(Page::TransceiverSetup);
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  const int below = SettingRows(g, pages, own.rows);
  pages.reset = new QPushButton("Reset", page);
  pages.reset->setObjectName("ResetButton");
  pages.defaults = new QPushButton("Defaults", page);
  pages.defaults->setObjectName("DefaultButton");
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  buttons->addWidget(pages.reset);
  buttons->addWidget(pages.defaults);
  buttons->addStretch(1);
  g->addLayout(buttons, below, 0, 1, 2);
  Settle(g);
  return page;
}

QWidget* SystemPage(QWidget* parent, ConfigPages& pages) {
  const auto [own, channelBox] = BoxesOf<2>(Page::System);
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  const int below = SettingRows(g, pages, own.rows);
  g->setRowStretch(below, 1);
  const Setting& channels = OnlyRow(channelBox);
  if (channels.kind != ControlKind::Channels) NoPlaceFor(channels);
  auto* group = new QGroupBox(channelBox.title, page);
  auto* list = Bind(pages, channels, 0, new QListWidget(group));
  for (int c = 11; c <= 26; ++c) {
    auto* item = new QListWidgetItem(QString("Channel %1   (%2 MHz)").arg(c).arg(2350 + 5 * c), list);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(Qt::Unchecked);
  }
  list->setMinimumWidth(list->sizeHintForColumn(0) + 30);
  list->setMinimumHeight(list->sizeHintForRow(0) * 16 + 2 * list->frameWidth());
  (new QVBoxLayout(group))->addWidget(list);
  g->addWidget(group, 0, 2, below + 1, 1);
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

// A page of label | control rows only.
QWidget* RowsPage(QWidget* parent, ConfigPages& pages, Page which) {
  const auto [own] = BoxesOf<1>(which);
  auto* page = new QWidget(parent);
  auto* g = Grid(page);
  SettingRows(g, pages, own.rows);
  Settle(g);
  return page;
}

QWidget* PeripheralsPage(QWidget* parent, ConfigPages& pages) {
  const auto [levels, pwmBox] = BoxesOf<2>(Page::Peripherals);
  if (levels.rows.size() > kPinCount) NoPlaceFor(*levels.rows.back());
  auto* page = new QWidget(parent);
  auto* outer = new QHBoxLayout(page);
  auto* gpio = new QGroupBox(levels.title, page);
  auto* g = Grid(gpio);
  // A row per pin: its direction as the radio reported it, and its level's
  // "0" / "1" buttons.
  for (std::size_t n = 0; n < levels.rows.size(); ++n) {
    const Setting& pin = *levels.rows[n];
    const int row = static_cast<int>(n);
    g->addWidget(Label(gpio, pin.label), row, 0);
    auto* direction = new QLabel("Input", gpio);
    direction->setObjectName(QString("GPIO%1StaticText").arg(n));
    direction->setMinimumWidth(direction->fontMetrics().horizontalAdvance("Output") + 4);
    g->addWidget(direction, row, 1);
    auto* on = Pair(gpio, pages, pin, 0);
    on->parentWidget()->setObjectName(QString("GPIO%1Panel").arg(n));
    g->addWidget(on->parentWidget(), row, 2);
    pages.levelPanels[n] = on->parentWidget();
    pages.directionLabels[n] = direction;
  }
  Settle(g);
  outer->addWidget(gpio);
  auto* right = new QVBoxLayout;
  auto* analog = new QGroupBox("Analog Inputs", page);
  auto* a = Grid(analog);
  StatusRows(a, 5, 0, 255);
  right->addWidget(analog);
  auto* pwm = new QGroupBox(pwmBox.title, page);
  auto* p = Grid(pwm);
  SettingRows(p, pages, pwmBox.rows);
  right->addWidget(pwm);
  right->addStretch(1);
  outer->addLayout(right);
  outer->addStretch(1);
  return page;
}

// A column per setting of pins (headed by its label), a row per pin; a
// whole-byte check box stands below the pins, under the columns of the
// settings after it.
void PinTable(QGroupBox* box, ConfigPages& pages, const std::vector<const Setting*>& rows) {
  auto* g = Grid(box);
  std::vector<const Setting*> columns;
  for (const Setting* s : rows)
    if (s->kind == ControlKind::Buttons || s->kind == ControlKind::Levels) columns.push_back(s);
  for (std::size_t c = 0; c < columns.size(); ++c)
    g->addWidget(Label(box, columns[c]->label), 0, static_cast<int>(c) + 1);
  for (int n = 0; n < kPinCount; ++n) {
    const int row = n + 1;
    const auto bit = static_cast<std::size_t>(n);
    g->addWidget(Label(box, QString("GPIO%1").arg(n)), row, 0);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const Setting& s = *columns[c];
      const int column = static_cast<int>(c) + 1;
      if (n >= s.digits) continue;
      if (s.kind == ControlKind::Levels) {
        auto* level = Bind(pages, s, bit, Edit(box, {}, "DD"));
        level->setMaxLength(1);
        g->addWidget(level, row, column);
      } else if (bit < PartnerNames(s).size()) {
        g->addWidget(Pair(box, pages, s, bit)->parentWidget(), row, column);
      } else {
        g->addWidget(Check(box, pages, s, bit), row, column);
      }
    }
  }
  int before = 0;  // columns of the settings before the check box
  for (const Setting* s : rows) {
    if (s->kind == ControlKind::Check) {
      const int after = static_cast<int>(columns.size()) - before;
      if (after == 0) NoPlaceFor(*s);
      g->addWidget(Check(box, pages, *s, 0), kPinCount + 1, before + 1, 1, after);
    } else if (std::find(columns.begin(), columns.end(), s) != columns.end()) {
      ++before;
    } else {
      NoPlaceFor(*s);
    }
  }
  g->setColumnStretch(static_cast<int>(columns.size()) + 1, 1);
}

// A check box per bit of each row, in rows of `perRow`.
void CheckGrid(QGroupBox* box, ConfigPages& pages, const std::vector<const Setting*>& rows, int perRow) {
  auto* g = Grid(box);
  int at = 0;
  for (const Setting* s : rows) {
    if (s->kind != ControlKind::ByteOfBoxes && s->kind != ControlKind::Buttons) NoPlaceFor(*s);
    for (std::size_t n = 0; n < ControlNames(*s).size(); ++n, ++at)
      g->addWidget(Check(box, pages, *s, n), at / perRow, at % perRow);
  }
  g->setColumnStretch(perRow, 1);
}

QWidget* GpioSetupPage(QWidget* parent, ConfigPages& pages) {
  const auto [pinBox, altBox] = BoxesOf<2>(Page::GpioSetup);
  auto* page = new QWidget(parent);
  auto* outer = new QVBoxLayout(page);
  auto* pins = new QGroupBox(pinBox.title, page);
  PinTable(pins, pages, pinBox.rows);
  outer->addWidget(pins);
  auto* alt = new QGroupBox(altBox.title, page);
  CheckGrid(alt, pages, altBox.rows, 3);
  outer->addWidget(alt);
  outer->addStretch(1);
  return page;
}

QWidget* ReportingPage(QWidget* parent, ConfigPages& pages) {
  const auto [own, thresholdBox, triggerBox, modeBox] = BoxesOf<4>(Page::Reporting);
  auto* page = new QWidget(parent);
  auto* outer = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  auto* values = new QWidget(page);
  auto* g = Grid(values);
  g->setContentsMargins(0, 0, 0, 0);
  SettingRows(g, pages, own.rows);
  left->addWidget(values);

  // Each ADC's low and high threshold, side by side.
  auto* thresholds = new QGroupBox(thresholdBox.title, page);
  auto* t = Grid(thresholds);
  t->addWidget(Label(thresholds, "Low"), 0, 1);
  t->addWidget(Label(thresholds, "High"), 0, 2);
  for (std::size_t i = 0; i < thresholdBox.rows.size(); ++i) {
    const int row = static_cast<int>(i / 2) + 1;
    if (i % 2 == 0) t->addWidget(Label(thresholds, QString("ADC%1").arg(i / 2)), row, 0);
    t->addWidget(HexEdit(thresholds, pages, *thresholdBox.rows[i]), row, static_cast<int>(i % 2) + 1);
  }
  left->addWidget(thresholds);
  left->addStretch(1);
  outer->addLayout(left);

  auto* right = new QVBoxLayout;
  auto* trigger = new QGroupBox(triggerBox.title, page);
  auto* tr = new QVBoxLayout(trigger);
  const Setting& triggers = OnlyRow(triggerBox);
  if (triggers.kind != ControlKind::Buttons) NoPlaceFor(triggers);
  for (std::size_t n = 0; n < ControlNames(triggers).size(); ++n) tr->addWidget(Check(trigger, pages, triggers, n));
  right->addWidget(trigger);

  // "Event Messaging" over its other button, then the local reporting box.
  auto* mode = new QGroupBox(modeBox.title, page);
  auto* m = new QVBoxLayout(mode);
  const Setting& reportMode = OnlyRow(modeBox);
  if (reportMode.kind != ControlKind::ReportMode) NoPlaceFor(reportMode);
  const auto others = PartnerNames(reportMode);
  for (std::size_t n = 0; n < ControlNames(reportMode).size(); ++n) {
    if (n >= others.size()) {
      m->addWidget(Check(mode, pages, reportMode, n));
      continue;
    }
    m->addWidget(Bind(pages, reportMode, n, new QRadioButton(ControlCaption(reportMode, n), mode)));
    auto* other = new QRadioButton(reportMode.partnerCaption, mode);
    other->setObjectName(QString::fromStdString(others[n]));
    m->addWidget(other);
  }
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
  p.pages = {TransceiverPage(parent, p),
             SystemPage(parent, p),
             StatusPage(parent),
             RowsPage(parent, p, Page::Serial),
             RowsPage(parent, p, Page::Protocol),
             PeripheralsPage(parent, p),
             GpioSetupPage(parent, p),
             ReportingPage(parent, p),
             DiagPage(parent),
             DebugPage(parent, p)};
  return p;
}

}  // namespace qmx

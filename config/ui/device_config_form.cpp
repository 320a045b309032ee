#include "config/ui/device_config_form.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "config/config_report.h"
#include "config/local_status.h"
#include "config/profile.h"
#include "config/ui/device_config_pages.h"
#include "link/failure_text.h"
#include "link/number_text.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/ui/busy_cursor.h"
#include "link/ui/window_fit.h"
#include "widgets/palette_colour.h"
#include "widgets/status_bar.h"

namespace qmx {
namespace {

// A list's selection kept over a code that no item names (ControlValues::kept).
constexpr char kKeptProperty[] = "keptSelection";

BankMask BankBit(std::uint8_t bank) {
  const auto info = FindBank(bank);
  return info ? info->maskBit : 0;
}

// Text fields are 8-bit characters.
QString FromBytes(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }
std::string ToBytes(const QString& text) { return text.toLatin1().toStdString(); }

QString StatusText(const StatusValue& v, std::span<const std::uint8_t> slot) {
  const auto bytes = slot.subspan(ImageOffset(v.bank, v.reg), v.span);
  const std::uint32_t value = LittleEndian(bytes);
  switch (v.format) {
    case StatusValue::Format::Hex:
      return QString::fromStdString(HexText(value, v.span * 2));
    case StatusValue::Format::Mac:
      return QString::fromStdString(MacText(bytes));
    case StatusValue::Format::Chars:
      return FromBytes(std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), std::uint8_t{0})));
    case StatusValue::Format::Decimal:
      return QString::number(value);
  }
  return {};
}

}  // namespace

TDeviceConfigForm::TDeviceConfigForm(QWidget* parent) : QDialog(parent) {
  setObjectName("TDeviceConfigForm");
  setWindowTitle("Device Config");
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  ConfigPages pages = BuildConfigPages(PageControl1);
  for (std::size_t i = 0; i < pages.pages.size(); ++i) PageControl1->addTab(pages.pages[i], pages.titles[i]);
  // Every tab in view, none behind scroll arrows.
  PageControl1->tabBar()->setUsesScrollButtons(false);
  PageControl1->tabBar()->setExpanding(false);
  peripherals_ = pages.pages[5];
  partner_ = pages.partners;
  levelPanels_ = pages.levelPanels;
  directionLabels_ = pages.directionLabels;
  ResetButton = pages.reset;
  DefaultButton = pages.defaults;
  FCC1Button = pages.fcc1;
  FCC2Button = pages.fcc2;
  Button1 = pages.fcc4;

  // Made in the order they stand, after the pages: the tab order.
  SaveProfileButton = new QPushButton("&Save Profile...", this);
  SaveProfileButton->setObjectName("SaveProfileButton");
  LoadProfileButton = new QPushButton("&Load Profile...", this);
  LoadProfileButton->setObjectName("LoadProfileButton");
  OKButton = new QPushButton("&Apply", this);
  OKButton->setObjectName("OKButton");
  CancelButton = new QPushButton("&Cancel", this);
  CancelButton->setObjectName("CancelButton");
  RefreshButton = new QPushButton("&Refresh", this);
  RefreshButton->setObjectName("RefreshButton");
  StatusBar1 = MakeStatusBar(this);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {SaveProfileButton, LoadProfileButton}) buttons->addWidget(b);
  buttons->addStretch(1);
  for (QPushButton* b : {OKButton, CancelButton, RefreshButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PageControl1, 1);
  layout->addLayout(buttons);
  layout->addWidget(StatusBar1);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed border
  // Enter in an edit presses no button: the first one would be "Reset".
  for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);

  TakeControls(pages);

  connect(OKButton, &QPushButton::clicked, this, &TDeviceConfigForm::SendConfiguration);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(RefreshButton, &QPushButton::clicked, this, &TDeviceConfigForm::RefreshButtonClick);
  connect(SaveProfileButton, &QPushButton::clicked, this, &TDeviceConfigForm::SaveProfileButtonClick);
  connect(LoadProfileButton, &QPushButton::clicked, this, &TDeviceConfigForm::LoadProfileButtonClick);
  connect(ResetButton, &QPushButton::clicked, this, &TDeviceConfigForm::ResetButtonClick);
  connect(DefaultButton, &QPushButton::clicked, this, &TDeviceConfigForm::DefaultButtonClick);
  connect(FCC1Button, &QPushButton::clicked, this, [this] { FccButtonClick(1); });
  connect(FCC2Button, &QPushButton::clicked, this, [this] { FccButtonClick(2); });
  connect(Button1, &QPushButton::clicked, this, [this] { FccButtonClick(4); });
  connect(PageControl1, &QTabWidget::currentChanged, this, &TDeviceConfigForm::PageControl1Change);
}

void TDeviceConfigForm::TakeControls(const ConfigPages& pages) {
  // Every setting's controls, as the pages made them.
  for (const Setting* s : DialogSettings()) {
    const auto made = pages.controls.find(s);
    if (made == pages.controls.end() || made->second.size() != ControlNames(*s).size() ||
        std::find(made->second.begin(), made->second.end(), nullptr) != made->second.end())
      throw std::logic_error(std::string("configuration dialog lacks controls of ") + s->key);
    controls_.push_back(made->second);
  }
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    // Any change of the user tag or key text, by the user or by a fill,
    // marks it edited; a fill marks it not edited afterwards.
    if (DialogSettings()[i]->kind == ControlKind::Text) {
      auto* edit = static_cast<QLineEdit*>(controls_[i][0]);
      connect(edit, &QLineEdit::textChanged, edit, [edit] { edit->setModified(true); });
    }
    // An item the user picks is a value of the setting's lists again.
    for (QWidget* w : controls_[i])
      if (auto* combo = qobject_cast<QComboBox*>(w))
        connect(combo, &QComboBox::activated, this, [this, i] {
          for (QWidget* c : controls_[i]) c->setProperty(kKeptProperty, false);
        });
  }
}

TDeviceConfigForm::~TDeviceConfigForm() = default;

void TDeviceConfigForm::Attach(RadioLink& link, RadioImage& image, Prompter& prompter,
                               std::function<void()> localStatus) {
  link_ = &link;
  image_ = &image;
  prompter_ = &prompter;
  line_ = std::make_unique<TransportLinePort>(link.transport);
  localStatus_ = std::move(localStatus);
}

int TDeviceConfigForm::Open(int index, std::uint16_t address) {
  RadioIndex = index;
  NetworkAddress = index == 0 ? 0 : address;
  return exec();
}

void TDeviceConfigForm::showEvent(QShowEvent* event) {
  if (image_) FillFromImage(kAllBanks);
  PageControl1->setCurrentIndex(0);
  ShowRadioStatus();
  adjustSize();  // to the values just filled in
  CentreOverParent(*this);
  QDialog::showEvent(event);
}

ControlValues TDeviceConfigForm::Gather(std::size_t setting) const {
  ControlValues v;
  for (QWidget* w : controls_[setting]) {
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      v.states.push_back(combo->currentIndex() < 0 ? kNoItem : combo->currentData().toInt());
      v.kept = v.kept || combo->property(kKeptProperty).toBool();
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      v.texts.push_back(ToBytes(edit->text()));
      v.edited = v.edited || edit->isModified();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      v.states.push_back(button->isChecked() ? 1 : 0);
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
      std::int32_t mask = 0;
      for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked) mask |= 1 << i;
      v.states.push_back(mask);
    }
  }
  return v;
}

void TDeviceConfigForm::Show(std::size_t setting, const ControlValues& values) {
  std::size_t state = 0, text = 0;
  for (QWidget* w : controls_[setting]) {
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      const std::int32_t code = values.states.at(state++);
      combo->setCurrentIndex(code == kNoItem ? -1 : combo->findData(code));
      combo->setProperty(kKeptProperty, values.kept);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setText(FromBytes(values.texts.at(text++)));
      edit->setModified(values.edited);  // after the text: setting it marked it edited
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      SetChecked(button, values.states.at(state++) != 0);
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
      const std::int32_t mask = values.states.at(state++);
      for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState((mask >> i) & 1 ? Qt::Checked : Qt::Unchecked);
    }
  }
}

void TDeviceConfigForm::SetChecked(QAbstractButton* button, bool on) {
  if (on) {
    button->setChecked(true);
  } else if (QAbstractButton* other = partner_.value(button)) {
    other->setChecked(true);
  } else if (button->isChecked()) {
    // An exclusive button may be left with neither of its pair checked.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
  }
}

int TDeviceConfigForm::FillFromImage(BankMask mask) {
  if (!image_) return 1;
  const auto slot = image_->Slot(RadioIndex);
  for (const BankInfo& bank : kBanks)
    if (mask & bank.maskBit)
      std::copy_n(slot.begin() + static_cast<std::ptrdiff_t>(bank.offset), bank.length,
                  baseline_.begin() + static_cast<std::ptrdiff_t>(bank.offset));
  const auto settings = DialogSettings();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    if (!(mask & BankBit(settings[i]->address.bank))) continue;
    Show(i, FillControls(*settings[i], slot, Gather(i)));
    Mark(i, false);
  }
  FillStatus(mask);
  // The "I/O Peripherals" tab follows the directions just filled in, also
  // while it is the tab in view.
  if (mask & BankBit(6)) ShowPinDirections();
  return 1;
}

void TDeviceConfigForm::FillStatus(BankMask mask) {
  const auto slot = image_->Slot(RadioIndex);
  for (const StatusValue& v : StatusValues()) {
    if (!(mask & BankBit(v.bank))) continue;
    const QString text = StatusText(v, slot);
    QWidget* w = PageControl1->findChild<QWidget*>(v.control);
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(text);
  }
}

void TDeviceConfigForm::PageControl1Change() {
  if (PageControl1->currentWidget() == peripherals_) ShowPinDirections();
}

void TDeviceConfigForm::ShowPinDirections() {
  if (!image_) return;
  // The directions the radio reported, not those of the unapplied controls.
  const std::uint32_t outputs = image_->Value(RadioIndex, 6, 0, 1);
  for (std::size_t n = 0; n < levelPanels_.size(); ++n) {
    const bool output = (outputs >> n) & 1;
    static_cast<QLabel*>(directionLabels_[n])->setText(output ? "Output" : "Input");
    levelPanels_[n]->setEnabled(output);
  }
}

bool TDeviceConfigForm::ReadRadio() {
  BusyCursor busy;
  const Result<BankMask> read = EnterProtocolModeAndReadAll(*link_, *image_, NetworkAddress, RadioIndex);
  if (!ShowFailure(*prompter_, read.During(Operation::EnterProtocolMode))) return false;
  if (*read != kAllBanks) {
    ShowFailure(*prompter_, FailureOf(Operation::ReadRadio));
    return false;
  }
  FillFromImage(kAllBanks);
  if (localStatus_) localStatus_();
  return true;
}

void TDeviceConfigForm::RefreshButtonClick() {
  if (!Ready()) return;
  guard_.Run([this] {
    if (ReadRadio()) prompter_->Message("Refresh Successful.", "Refresh Successful");
  });
}

std::vector<ControlValues> TDeviceConfigForm::GatherAll() const {
  std::vector<ControlValues> shown;
  for (std::size_t i = 0; i < controls_.size(); ++i) shown.push_back(Gather(i));
  return shown;
}

std::vector<ConfigWrite> TDeviceConfigForm::Changes() const { return ChangedSettings(GatherAll(), baseline_); }

std::vector<ConfigWrite> TDeviceConfigForm::ShownWrites() const {
  std::vector<ConfigWrite> out;
  const auto shown = GatherAll();
  for (std::size_t i = 0; i < shown.size(); ++i)
    out.push_back({DialogSettings()[i], WriteData(*DialogSettings()[i], shown[i])});
  return out;
}

void TDeviceConfigForm::SendConfiguration() {
  if (!Ready()) return;
  guard_.Run([this] {
    BusyCursor busy;
    const auto settings = DialogSettings();
    ApplyConfiguration(link_->commands, *prompter_, *line_, Target(), Changes(), [&](const ConfigWrite& done) {
      Settle(baseline_, done);
      const auto at = std::find(settings.begin(), settings.end(), done.setting);
      if (at == settings.end()) return;
      const auto i = static_cast<std::size_t>(at - settings.begin());
      for (QWidget* w : controls_[i])
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setModified(false);
      Mark(i, false);
    });
    if (profileLoaded_ && MarkedControls() == 0) {
      profileLoaded_ = false;
      ShowRadioStatus();
    }
  });
}

void TDeviceConfigForm::done(int result) {
  if (guard_.Running()) return;  // the dialog closes once the operation has ended
  QDialog::done(result);
}

namespace {
constexpr char kProfileFilter[] = "Profiles (*.qmxprofile *.txt);;All files (*)";
constexpr char kMarkedProperty[] = "profileMarked";

double Contrast(const QColor& a, const QColor& b) { return ContrastRatio(Rgb(a), Rgb(b)); }

// The look of a control whose value a loaded profile changed: the palette's
// base tinted with its highlight colour as strongly as the palette's text
// stays readable on it (4.5:1), on light and dark palettes alike. A palette
// whose text is hard to read on its own base gets black or white text.
QString MarkStyle(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Base);
  const QColor tint = palette.color(QPalette::Highlight);
  QColor text = palette.color(QPalette::Text);
  const auto mixed = [&](int percent) {
    const auto channel = [&](int from, int to) { return from + (to - from) * percent / 100; };
    return QColor(channel(base.red(), tint.red()), channel(base.green(), tint.green()),
                  channel(base.blue(), tint.blue()));
  };
  int percent = 50;
  while (percent > 10 && Contrast(mixed(percent), text) < kReadableContrast) percent -= 5;
  const QColor background = mixed(percent);
  if (Contrast(background, text) < kReadableContrast)
    text = IsDark(Rgb(background)) ? QColor(Qt::white) : QColor(Qt::black);
  return QString("background-color: %1; color: %2;").arg(background.name(), text.name());
}

FileRequest ProfileFile(const char* caption) {
  FileRequest request;
  request.caption = caption;
  request.filter = kProfileFilter;
  return request;
}
}  // namespace

void TDeviceConfigForm::ShowRadioStatus() {
  if (RadioIndex == 0) {
    StatusBar1->setText("Local radio");
    return;
  }
  QString text = QString("Poll I/O radio %1 at %2").arg(RadioIndex).arg(QString::fromStdString(HexText(NetworkAddress, 4)));
  if (const std::optional<std::string> name = nameAt_ ? nameAt_(NetworkAddress) : std::nullopt)
    text += "  (" + QString::fromStdString(*name) + ")";
  StatusBar1->setText(text);
}

void TDeviceConfigForm::Mark(std::size_t setting, bool on) {
  const QString marked = on ? MarkStyle(palette()) : QString();
  for (QWidget* w : controls_[setting]) {
    if (w->property(kMarkedProperty).toBool() == on) continue;
    w->setProperty(kMarkedProperty, on);
    w->setStyleSheet(marked);
  }
}

int TDeviceConfigForm::MarkedControls() const {
  int n = 0;
  for (const auto& widgets : controls_)
    for (const QWidget* w : widgets) n += w->property(kMarkedProperty).toBool() ? 1 : 0;
  return n;
}

void TDeviceConfigForm::SaveProfileButtonClick() {
  if (!Ready()) return;
  const std::string file = prompter_->SaveFileName(ProfileFile("Save Profile"));
  if (file.empty()) return;
  // What the radio holds as last read, not unapplied edits.
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << FormatProfile(image_->Slot(RadioIndex), ProfileTimestamp());
  out.close();
  if (!out) ShowFailure(*prompter_, FailureOf(Operation::SaveProfile, Status::FileError, Variant::Plain, file));
}

void TDeviceConfigForm::LoadProfileButtonClick() {
  if (!Ready()) return;
  const std::string file = prompter_->OpenFileName(ProfileFile("Load Profile"));
  if (file.empty()) return;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    ShowFailure(*prompter_, FailureOf(Operation::LoadProfile, Status::FileError, Variant::Plain, file));
    return;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ProfileError error;
  const auto profile = ParseProfile(text, error);
  if (!profile) {
    ShowFailure(*prompter_, FailureOf(Operation::LoadProfile, Status::BadInput, Variant::Plain,
                                      std::to_string(error.line) + ": " + error.text));
    return;
  }
  // The controls show the profile where it differs from the radio, so Apply
  // writes exactly those settings.
  const auto slot = image_->Slot(RadioIndex);
  const std::vector<std::uint8_t> after = ProfileImage(slot, *profile);
  const auto differences = DiffProfile(slot, *profile);
  const auto settings = DialogSettings();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const Setting& s = *settings[i];
    const bool differs = std::any_of(differences.begin(), differences.end(), [&](const ProfileDifference& d) {
      return d.setting->address.bank == s.address.bank && d.setting->address.reg == s.address.reg;
    });
    if (!differs) continue;
    ControlValues values = FillControls(s, after, Gather(i));
    if (s.encoding == Encoding::Key) {
      const auto key = std::find_if(profile->begin(), profile->end(),
                                    [&](const SettingText& v) { return v.setting == &s; });
      values.texts = {key->text};
    }
    values.edited = true;  // the user tag and key are written when edited
    Show(i, values);
    Mark(i, true);
  }
  profileLoaded_ = !differences.empty();
  StatusBar1->setText(differences.empty()
                          ? QString("Profile loaded: the radio already holds its settings")
                          : QString("Profile loaded: %1 setting(s) differ from the radio; review them, then Apply")
                                .arg(differences.size()));
}

void TDeviceConfigForm::ResetButtonClick() {
  if (!Ready()) return;
  guard_.Run([this] {
    BusyCursor busy;
    (void)ResetRadio(link_->commands, Target());
  });
}

void TDeviceConfigForm::DefaultButtonClick() {
  if (!Ready()) return;
  guard_.Run([this] {
    // Every setting goes at once: nothing is sent unless the user agrees.
    if (!prompter_->Question("Replace all settings of the radio with the factory defaults?", "Factory Defaults"))
      return;
    DefaultsOutcome outcome;
    {
      BusyCursor busy;
      outcome = DefaultRadio(link_->commands, *prompter_, *line_, Target());
    }
    // The radio holds the defaults now, reset or not: the controls show
    // them, not the values they replaced.
    if (outcome == DefaultsOutcome::NotReset || outcome == DefaultsOutcome::Done) ReadRadio();
  });
}

void TDeviceConfigForm::FccButtonClick(int mode) {
  if (!Ready()) return;
  guard_.Run([this, mode] {
    BusyCursor busy;
    SetFccModeShown(link_->commands, *prompter_, Target(), mode);
  });
}

}  // namespace qmx

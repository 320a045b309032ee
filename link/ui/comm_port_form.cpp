#include "link/ui/comm_port_form.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/ui/busy_cursor.h"
#include "link/radio_link.h"
#include "link/ui/window_fit.h"

namespace qmx {

namespace {

// 9600 baud, 8N1: the line a module leaves the factory with.
const LineSettings kFactoryLine{9600, 8, parity::None, stopbits::One, false};

// The baud rate list's position of `baud`, or -1.
int BaudIndex(std::uint32_t baud) {
  const auto* at = std::find(std::begin(kBaudRates), std::end(kBaudRates), baud);
  return at == std::end(kBaudRates) ? -1 : static_cast<int>(at - std::begin(kBaudRates));
}

QComboBox* MakeList(const QStringList& items, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->addItems(items);
  return box;
}

}  // namespace

TCommPortForm::TCommPortForm(RadioLink& link, Prompter& prompter, QWidget* parent)
    : QDialog(parent), link_(link), prompter_(prompter) {
  setObjectName("TCommPortForm");
  setWindowTitle("Comm Port Settings");
  listPorts_ = [] { return ListSerialPorts(); };
  probe_ = [](const std::string& path) { return ProbePort(path); };

  QStringList bauds;
  for (std::uint32_t b : kBaudRates) bauds << QString::number(b);
  CommPortComboBox = new QComboBox(this);
  CommPortComboBox->setEditable(true);  // a pty or an unusual device can be typed in
  CommPortComboBox->setInsertPolicy(QComboBox::NoInsert);
  CommPortComboBox->setMinimumContentsLength(14);
  BaudrateComboBox = MakeList(bauds, this);
  ParityComboBox = MakeList({"NONE", "EVEN", "ODD"}, this);
  StopBitsComboBox = MakeList({"1", "2"}, this);
  AutoDetectComboBox = MakeList({"FALSE", "TRUE"}, this);
  // The designed selections (the port list is filled when the dialog shows).
  BaudrateComboBox->setCurrentIndex(tags_[BaudList]);
  CommPortComboBox->setObjectName("CommPortComboBox");
  BaudrateComboBox->setObjectName("BaudrateComboBox");
  ParityComboBox->setObjectName("ParityComboBox");
  StopBitsComboBox->setObjectName("StopBitsComboBox");
  AutoDetectComboBox->setObjectName("AutoDetectComboBox");

  auto* grid = new QGridLayout;
  const std::pair<const char*, QComboBox*> rows[] = {{"Comm Port", CommPortComboBox},
                                                      {"Baudrate", BaudrateComboBox},
                                                      {"Parity", ParityComboBox},
                                                      {"Stop Bits", StopBitsComboBox},
                                                      {"Auto Detect", AutoDetectComboBox}};
  int row = 0;
  for (const auto& [label, box] : rows) {
    auto* l = new QLabel(label, this);
    l->setBuddy(box);
    grid->addWidget(l, row, 0);
    grid->addWidget(box, row, 1);
    ++row;
  }
  grid->setColumnStretch(1, 1);

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKButton);
  buttons->addWidget(CancelButton);
  buttons->addStretch(1);

  StatusBar1 = new QLabel(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setAlignment(Qt::AlignCenter);
  StatusBar1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  StatusBar1->setMinimumWidth(StatusBar1->fontMetrics().horizontalAdvance("Checking for QMX Device...") + 24);

  // Shown only when this user may not open the serial ports at all.
  PermissionLabel = new QLabel(this);
  PermissionLabel->setObjectName("PermissionLabel");
  PermissionLabel->setWordWrap(true);
  PermissionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  PermissionLabel->setFixedWidth(StatusBar1->minimumWidth() + 60);
  PermissionLabel->hide();

  auto* outer = new QVBoxLayout(this);
  outer->addLayout(grid);
  outer->addWidget(PermissionLabel);
  outer->addSpacing(6);
  outer->addLayout(buttons);
  outer->addSpacing(4);
  outer->addWidget(StatusBar1);
  outer->setSizeConstraint(QLayout::SetFixedSize);  // fixed border
  KeepCaptionWhole(*this);
  SetStatus("Select Settings");

  connect(OKButton, &QPushButton::clicked, this, &TCommPortForm::OKButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TCommPortForm::CancelButtonClick);
}

void TCommPortForm::SetPortSource(std::function<std::vector<PortInfo>()> list,
                                  std::function<bool(const std::string&)> probe) {
  listPorts_ = std::move(list);
  probe_ = std::move(probe);
}

int TCommPortForm::SelectedIndex(List list) const {
  // Until the dialog shows again, a remembered selection is what it stands
  // for: saving the settings must not replace it with a stale one (or, before
  // the first showing, with an empty port list's "none").
  // The port list is built here just to see where its selection will be;
  // building it opens no device.
  if (list == PortList && pending_[list])
    return PortIndexToShow(BuildPortList(listPorts_ ? listPorts_() : std::vector<PortInfo>{}, {}, offerSim_));
  if (list >= 0 && list < ListCount && pending_[list]) return tags_[list];
  switch (list) {
    case PortList: return CommPortComboBox->currentIndex();
    case BaudList: return BaudrateComboBox->currentIndex();
    case ParityList: return ParityComboBox->currentIndex();
    case StopBitsList: return StopBitsComboBox->currentIndex();
    case AutoDetectList: return AutoDetectComboBox->currentIndex();
    case ListCount: break;
  }
  return -1;
}

QString TCommPortForm::PortText() const { return CommPortComboBox->currentText(); }
QString TCommPortForm::BaudText() const { return BaudrateComboBox->currentText(); }
QString TCommPortForm::StatusText() const { return StatusBar1->text(); }
void TCommPortForm::SetStatus(const QString& text) { StatusBar1->setText(text); }

int TCommPortForm::FillPortList() {
  const std::vector<PortInfo> ports = listPorts_ ? listPorts_() : std::vector<PortInfo>{};
  entries_ = BuildPortList(ports, probe_, offerSim_);
  const std::string hint = permissionHint_ ? permissionHint_(ports) : std::string();
  PermissionLabel->setText(QString::fromStdString(hint));
  if (PermissionLabel->isVisibleTo(this) != !hint.empty()) {
    PermissionLabel->setVisible(!hint.empty());
    layout()->activate();  // the fixed-size dialog grows or shrinks now, not after the next event
  }
  CommPortComboBox->clear();
  for (const PortEntry& e : entries_) {
    CommPortComboBox->addItem(QString::fromStdString(e.text));
    CommPortComboBox->setItemData(CommPortComboBox->count() - 1, QString::fromStdString(e.tooltip), Qt::ToolTipRole);
  }
  return static_cast<int>(entries_.size());
}

int TCommPortForm::PortIndexToShow(const std::vector<PortEntry>& entries) const {
  if (portRemembered_ && !(preferSim_ && offerSim_)) return tags_[PortList];
  return DefaultPortIndex(entries, preferSim_);
}

void TCommPortForm::showEvent(QShowEvent* event) {
  ApplySelections();
  // Whatever the last showing ended with is over.
  SetStatus("Select Settings");
  QDialog::showEvent(event);
}

std::array<QComboBox*, TCommPortForm::ListCount> TCommPortForm::Lists() const {
  return {CommPortComboBox, BaudrateComboBox, ParityComboBox, StopBitsComboBox, AutoDetectComboBox};
}

void TCommPortForm::accept() {
  // Shown again, the dialog shows the connection as it was made (the line
  // a search found, Auto Detect as chosen).
  const auto lists = Lists();
  for (int i = 0; i < ListCount; ++i)
    if (lists[i]->currentIndex() >= 0) tags_[i] = lists[i]->currentIndex();
  if (CommPortComboBox->currentIndex() >= 0) portRemembered_ = true;
  QDialog::accept();
}

void TCommPortForm::ApplySelections() {
  FillPortList();
  const auto lists = Lists();
  for (int i = 0; i < ListCount; ++i) {
    const int tag = i == PortList ? PortIndexToShow(entries_) : tags_[i];
    lists[i]->setCurrentIndex(tag >= 0 && tag < lists[i]->count() ? tag : -1);
    pending_[i] = false;
  }
  if (typedPort_ && !typedPort_->empty()) {
    CommPortComboBox->setCurrentIndex(-1);
    CommPortComboBox->setEditText(QString::fromStdString(*typedPort_));
  }
}

bool TCommPortForm::OpenNamed(const QString& port, const QString& baud) {
  ApplySelections();
  const std::string name = port.trimmed().toStdString();
  const auto entry = std::find_if(entries_.begin(), entries_.end(), [&name](const PortEntry& e) {
    return EntryPortName(e.text) == name || e.path == name;
  });
  if (entry != entries_.end()) {
    CommPortComboBox->setCurrentIndex(static_cast<int>(entry - entries_.begin()));
  } else {
    CommPortComboBox->setCurrentIndex(-1);
    CommPortComboBox->setEditText(port.trimmed());
  }
  if (!baud.isEmpty()) {
    bool number = false;
    const int index = BaudIndex(baud.toUInt(&number));
    if (!number || index < 0) return false;
    BaudrateComboBox->setCurrentIndex(index);
  }
  AutoDetectComboBox->setCurrentIndex(kAutoDetectOff);
  setResult(QDialog::Rejected);
  ConnectChoice();
  return result() == QDialog::Accepted;
}

std::optional<std::string> TCommPortForm::TypedPort() const {
  const int index = CommPortComboBox->currentIndex();
  const std::string text = CommPortComboBox->currentText().trimmed().toStdString();
  if (index >= 0 && static_cast<std::size_t>(index) < entries_.size() && entries_[static_cast<std::size_t>(index)].text == text)
    return std::nullopt;
  return text;
}

std::string TCommPortForm::SelectedPortPath() const {
  if (auto typed = TypedPort()) return PortPath(EntryPortName(*typed));
  return entries_[static_cast<std::size_t>(CommPortComboBox->currentIndex())].path;
}

LineSettings TCommPortForm::SelectedLine() const {
  return SettingsFromSelection(BaudrateComboBox->currentIndex(), ParityComboBox->currentIndex(),
                               StopBitsComboBox->currentIndex());
}

void TCommPortForm::Choose(const std::string& path, const LineSettings& line) {
  choice_ = PortChoice{path, line, EntryPortName(PortText().trimmed().toStdString())};
}

int TCommPortForm::TryPortSettings(const std::string& path, const LineSettings& line, bool open) {
  attempts_.emplace_back(path, line);
  // A port that cannot be opened or set up is explained to the user (busy,
  // missing, not permitted); there is no radio to ask.
  const PortChoice choice{path, line, EntryPortName(PortText().trimmed().toStdString())};
  if (!ShowPortFailure(prompter_, link_.session.Open(choice, open))) return 2;
  // One request, no retry, no boot-code check: the search decides where
  // to look for the boot code.
  return link_.session.EnterProtocolMode({attemptTimeoutMs_, 0}, false) ? 0 : 1;
}

void TCommPortForm::StopPort() { link_.session.Close(); }

bool TCommPortForm::AutoDetectRadio() {
  // What to search, and where each candidate stands in the list (-1: typed).
  std::vector<PortEntry> candidates;
  std::vector<int> listIndex;
  if (auto typed = TypedPort(); typed && !typed->empty()) {
    PortEntry entry;
    entry.text = *typed;
    entry.path = PortPath(EntryPortName(*typed));
    candidates.push_back(std::move(entry));
    listIndex.push_back(-1);
  } else {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].IsSim()) continue;
      candidates.push_back(entries_[i]);
      listIndex.push_back(static_cast<int>(i));
    }
  }
  DetectSteps steps;
  steps.selectPort = [this, &listIndex](int index) {
    if (listIndex.front() < 0) return;  // a typed path stays as typed
    CommPortComboBox->setCurrentIndex(index < 0 ? -1 : listIndex[static_cast<std::size_t>(index)]);
  };
  steps.selectLine = [this](int parityIndex, int baudIndex, int stopIndex) {
    ParityComboBox->setCurrentIndex(parityIndex);
    BaudrateComboBox->setCurrentIndex(baudIndex);
    StopBitsComboBox->setCurrentIndex(stopIndex);
  };
  steps.tryPort = [this](const std::string& path, const LineSettings& line, bool open, bool& opened) {
    const int tried = TryPortSettings(path, line, open);
    // A port that could not be opened or take the line is closed, whether
    // or not its reading thread has ended yet.
    opened = tried != 2 && link_.transport.IsOpen();
    return tried == 0;
  };
  steps.cancelled = [this] { return cancelRequest_; };
  steps.stopPort = [this] { StopPort(); };
  steps.bootCode = [this](const std::string& path) {
    // A port closed by a line it could not take is opened again for it.
    if (!link_.transport.IsOpen() && !ShowPortFailure(prompter_, link_.session.Open({path, kFactoryLine, path})))
      return false;
    return BootCodeAnswers();
  };
  int bootEntry = -1;
  if (qmx::AutoDetectRadio(candidates, steps, &bootEntry)) {
    Choose(attempts_.back().first, attempts_.back().second);
    return true;
  }
  if (bootEntry >= 0 && !cancelRequest_)
    bootCodeFound_ = ReopenInBootCode(candidates[static_cast<std::size_t>(bootEntry)],
                                      listIndex[static_cast<std::size_t>(bootEntry)]);
  return false;
}

bool TCommPortForm::ReopenInBootCode(const PortEntry& entry, int listIndex) {
  if (listIndex >= 0) CommPortComboBox->setCurrentIndex(listIndex);
  // The line a module starts from with fresh firmware, as it leaves the
  // factory; the boot code itself listens at its own line anyway.
  BaudrateComboBox->setCurrentIndex(BaudIndex(kFactoryLine.baudRate));
  ParityComboBox->setCurrentIndex(0);
  StopBitsComboBox->setCurrentIndex(0);
  Choose(entry.path, kFactoryLine);
  return ShowPortFailure(prompter_, link_.session.Open(choice_));
}

void TCommPortForm::OKButtonClick() { ConnectChoice(); }

void TCommPortForm::ConnectChoice() {
  if (busy_) return;  // a search is already running
  busy_ = true;
  cancelRequest_ = false;
  bootCodeFound_ = false;
  attempts_.clear();
  BusyCursor cursor(Qt::BusyCursor);
  SetStatus("Checking for QMX Device...");
  if (AutoDetectComboBox->currentIndex() == kAutoDetectOn) {
    if (AutoDetectRadio() && !cancelRequest_) {
      busy_ = false;
      accept();
      return;
    }
    if (bootCodeFound_ && !cancelRequest_) {
      busy_ = false;
      done(BootCode);
      return;
    }
    ShowFailure(prompter_, FailureOf(Operation::FindRadio, Status::NoReply, Variant::Dialog));
    SetStatus("Could not find radio");
    StopPort();
  } else {
    const LineSettings line = SelectedLine();
    // A typed path is shown again the next time, whatever the outcome.
    typedPort_ = TypedPort();
    Choose(SelectedPortPath(), line);
    const int tried = TryPortSettings(choice_.path, line, true);
    if (tried == 0 && !cancelRequest_) {
      busy_ = false;
      accept();
      return;
    }
    // No radio answered on a port that opened: its module may have been
    // left in its boot code.
    if (tried == 1 && !cancelRequest_ && BootCodeAnswers()) {
      busy_ = false;
      done(BootCode);
      return;
    }
    StopPort();
    // A dialog cancelled while it waited has nothing more to say; a port
    // that did not open has had its own box.
    if (!cancelRequest_) {
      if (tried != 2)
        ShowFailure(prompter_, FailureOf(Operation::LineSettings, Status::BadInput, Variant::Dialog));
      SetStatus("Could not find radio");
    }
  }
  busy_ = false;
}

void TCommPortForm::CancelButtonClick() { reject(); }

void TCommPortForm::reject() {
  cancelRequest_ = true;
  QDialog::reject();
}

}  // namespace qmx

#include "tools/ui/firmware_form.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>
#include <optional>
#include <thread>

#include "link/radio_link.h"
#include "link/prompter.h"
#include "link/ui/busy_cursor.h"
#include "tools/ui/firmware_info_form.h"
#include "link/workdir.h"
#include "tools/firmware_upgrade.h"
#include "widgets/palette_colour.h"
#include "widgets/status_bar.h"

namespace qmx {

namespace {

// The radio waits at its boot code's prompt: the first step is the file.
constexpr const char* kStartText = "Click Select File";
// The port went away while the window was open.
constexpr const char* kLostText = "Port lost.  Close this window.";

// Code loads, with "BIN" added to a name typed without an extension and
// "*.bin" in the name field at first; the dialogs open in the working
// directory.
FileRequest FirmwareFile(const char* caption, const WorkDir* dir) {
  return {caption, "Code Loads (*.bin);;All files (*.*)", dir ? dir->Dir().string() : std::string(), "BIN", "*.bin"};
}

}  // namespace

void RunOffThread(const std::function<void()>& work) {
  QEventLoop loop;
  std::thread worker([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
}

std::function<bool()> BootCodeProbe(RadioLink& link, Clock::duration interval) {
  link.session.SetBootProbeInterval(interval);
  return [&link] { return link.session.BootCodeAnswers(); };
}

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setObjectName("TForm3");
  setWindowTitle("Upgrade Firmware");

  auto* menu = new QMenuBar(this);
  QMenu* file = menu->addMenu("&File");
  UpgradeFirmware1 = file->addAction("Upgrade Firmware");
  UpgradeFirmware1->setObjectName("UpgradeFirmware1");
  UpgradeFirmware1->setShortcut(QKeySequence("Ctrl+U"));
  file->addSeparator();
  Exit1 = file->addAction("E&xit");
  Exit1->setObjectName("Exit1");
  connect(Exit1, &QAction::triggered, this, &TForm3::Exit1Click);

  SetButton = new QPushButton("Select File", this);
  FilenameEdit = new QLineEdit(this);
  FilenameEdit->setReadOnly(true);
  FilenameEdit->setMinimumWidth(360);
  SetButton->setMinimumWidth(160);
  LoadButton = new QPushButton("Program Device", this);
  VerifyButton = new QPushButton("Verify Firmware", this);
  SaveButton = new QPushButton("Save Image to File", this);
  LoadButton->setMinimumWidth(160);
  Gauge = new QProgressBar(this);
  Gauge->setTextVisible(false);
  Gauge->setRange(0, 100);
  Gauge->setValue(0);
  StyleGauge();
  StatusBar1 = MakeStatusBar(this, kStartText);
  SetButton->setObjectName("SetButton");
  FilenameEdit->setObjectName("FilenameEdit");
  LoadButton->setObjectName("LoadButton");
  VerifyButton->setObjectName("VerifyButton");
  SaveButton->setObjectName("SaveButton");
  Gauge->setObjectName("Gauge");

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menu);
  layout->addWidget(SetButton, 0, Qt::AlignHCenter);
  layout->addWidget(new QLabel("Firmware Filename", this));
  layout->addWidget(FilenameEdit);
  layout->addWidget(LoadButton, 0, Qt::AlignHCenter);
  auto* pair = new QHBoxLayout;
  pair->addWidget(VerifyButton);
  pair->addWidget(SaveButton);
  layout->addLayout(pair);
  layout->addWidget(new QLabel("Progress", this));
  layout->addWidget(Gauge);
  layout->addSpacing(6);
  layout->addWidget(StatusBar1);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(SetButton, &QPushButton::clicked, this, &TForm3::SetButtonClick);
  connect(LoadButton, &QPushButton::clicked, this, &TForm3::LoadButtonClick);
  connect(VerifyButton, &QPushButton::clicked, this, &TForm3::VerifyButtonClick);
  connect(SaveButton, &QPushButton::clicked, this, &TForm3::SaveButtonClick);
  SetToolButtons(false);
}

TForm3::~TForm3() = default;

void TForm3::StyleGauge() {
  // A green bar (red after a failure) on the palette's base, lifted on a
  // dark one.
  const QColor base = palette().color(QPalette::Base);
  const QColor bar = failed_ ? QColor(0xC0, 0x00, 0x00) : QColor(0x00, 0xA0, 0x00);
  Gauge->setStyleSheet(QString("QProgressBar { border: 1px solid gray; background: %1; height: 16px; }"
                               "QProgressBar::chunk { background: %2; }")
                           .arg(base.name(), ShownOn(bar, base).name()));
}

void TForm3::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) StyleGauge();
}

TForm2& TForm3::Info() {
  if (info_) return *info_;
  if (!ownInfo_) ownInfo_ = std::make_unique<TForm2>(this);
  return *ownInfo_;
}

void TForm3::ShowInformation() {
  TForm2& info = Info();
  info.Label2->setText("Verifying Firmware");
  info.Label1->setText(VerifyingDots::kStart);
  // The information window belongs to the main window and would open
  // centred over it, under this modal window. Made transient for this one,
  // the window system keeps it on top.
  info.winId();
  info.windowHandle()->setTransientParent(windowHandle());
  info.show();
  info.raise();
}

int TForm3::ShowFor(ByteChannel& channel, Prompter& prompter, WorkDir& dir) {
  return ShowFor([&channel] { return &channel; }, prompter, dir);
}

int TForm3::ShowFor(std::function<ByteChannel*()> enter, Prompter& prompter, WorkDir& dir) {
  enter_ = std::move(enter);
  channel_ = nullptr;
  prompter_ = &prompter;
  dir_ = &dir;
  FilenameEdit->clear();
  Gauge->setValue(0);
  failed_ = false;
  StyleGauge();
  lost_ = false;
  SetStatus(kStartText);
  SetToolButtons(false);
  SetButton->setEnabled(true);
  return exec();
}

void TForm3::SetToolButtons(bool on) {
  for (QPushButton* b : {LoadButton, SaveButton, VerifyButton, SetButton}) b->setEnabled(on && !lost_);
  UpgradeFirmware1->setEnabled(!FilenameEdit->text().isEmpty() && !lost_);
}

void TForm3::PortLost() {
  lost_ = true;
  SetToolButtons(false);
  SetStatus(kLostText);
}

void TForm3::SetStatus(const QString& text) { StatusBar1->setText(text); }
QString TForm3::StatusText() const { return StatusBar1->text(); }

void TForm3::Report(const UpgradeOutcome& outcome, bool buttonsAfter) {
  if (!outcome.message.empty()) prompter_->Message(outcome.message, outcome.caption);
  failed_ = !outcome.ok();
  StyleGauge();
  // A whole transfer shows as a full bar; a failure keeps what it reached.
  if (outcome.ok()) Gauge->setValue(Gauge->maximum());
  SetStatus(QString::fromStdString(lost_ ? kLostText : outcome.status));
  if (buttonsAfter) SetToolButtons(true);
}

template <typename Op>
void TForm3::RunOperation(Op operation) {
  FirmwareUpgrade::Hooks hooks;
  // Each hook runs on the worker thread and hands its step to this window.
  auto post = [this](std::function<void()> step) { QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection); };
  hooks.gaugeMaximum = [this, post](std::size_t m) { post([this, m] { Gauge->setMaximum(static_cast<int>(m)); }); };
  hooks.gauge = [this, post](std::size_t v) { post([this, v] { Gauge->setValue(static_cast<int>(std::min<std::size_t>(v, Gauge->maximum()))); }); };
  auto dots = std::make_shared<VerifyingDots>();
  hooks.verifyingBegins = [this, post] { post([this] { ShowInformation(); }); };
  hooks.verifyingStep = [this, post, dots] {
    post([this, dots] { Info().Label1->setText(QString::fromStdString(dots->Step(Info().Label1->text().toStdString()))); });
  };
  hooks.verifyingEnds = [this, post] { post([this] { Info().hide(); }); };

  if (!channel_ && enter_) channel_ = enter_();
  if (!channel_) {
    // No boot code to talk to: the window closes, its caller says why.
    done(QDialog::Rejected);
    return;
  }
  busy_ = true;
  failed_ = false;
  StyleGauge();
  UpgradeOutcome outcome;
  FirmwareUpgrade upgrade(*channel_, *clock_, hooks);
  // The boot code stays at its prompt after programming: a Verify or Save
  // may follow; closing the window leaves it.
  upgrade.SetLeaveAfterProgram(false);
  RunOffThread([&] { outcome = operation(upgrade); });
  // The hooks' last steps, before the result is shown.
  QCoreApplication::sendPostedEvents(this);
  busy_ = false;
  Report(outcome);
}

void TForm3::SetButtonClick() {
  const std::string name = prompter_ ? prompter_->OpenFileName(FirmwareFile("Open", dir_)) : std::string();
  if (name.empty()) return;
  FilenameEdit->setText(QString::fromStdString(name));
  SetToolButtons(true);
  SetStatus("File Selected");
}

void TForm3::LoadButtonClick() {
  SetStatus("Programming Device...");
  const auto file = ReadFirmwareFile(FilenameEdit->text().toStdString());
  if (!file) {
    Report(UpgradeOutcome::Failure(Done::From(file).During(Operation::ReadFile), "Programming Failed"), false);
    return;
  }
  if (auto refused = RefuseToProgram(file->size())) {
    // Refused before anything is sent.
    Report(*refused, false);
    return;
  }
  BusyCursor busy;
  SetToolButtons(false);
  RunOperation([&file](FirmwareUpgrade& u) { return u.Program(*file); });
}

void TForm3::VerifyButtonClick() {
  SetToolButtons(false);
  SetStatus("Downloading Image...");
  BusyCursor busy;
  const auto file = ReadFirmwareFile(FilenameEdit->text().toStdString());
  if (!file) {
    Report(UpgradeOutcome::Failure(Done::From(file).During(Operation::ReadFile), "Verification Failed"));
    return;
  }
  RunOperation([&file](FirmwareUpgrade& u) { return u.Verify(*file); });
}

void TForm3::SaveButtonClick() {
  const std::string name = prompter_ ? prompter_->SaveFileName(FirmwareFile("Save As", dir_)) : std::string();
  if (name.empty()) return;
  // A name without a folder goes to the working directory.
  std::filesystem::path target = name;
  if (target.is_relative() && dir_) target = dir_->Dir() / target;
  SetToolButtons(false);
  SetStatus("Saving Image...");
  BusyCursor busy;
  RunOperation([&target](FirmwareUpgrade& u) { return u.Save(target); });
}

void TForm3::closeEvent(QCloseEvent* event) {
  // An operation owns the line until it ends.
  if (busy_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TForm3::done(int result) {
  if (busy_) return;
  // "E" CR once a showing, when the boot code was entered; a lost port has
  // no radio behind it to leave.
  if (channel_ && !lost_) FirmwareUpgrade(*channel_, *clock_).Leave();
  channel_ = nullptr;
  enter_ = nullptr;
  QDialog::done(result);
}

}  // namespace qmx

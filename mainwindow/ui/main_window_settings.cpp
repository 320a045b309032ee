// The main window's remembered state: its place and size, and the settings
// file's fields gathered from and applied to its controls.
#include "mainwindow/ui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>
#include <functional>

#include "link/radio_link.h"
#include "link/ui/comm_port_form.h"
#include "link/workdir.h"
#include "mainwindow/ui/serial_tab.h"
#include "mainwindow/ui/terminal_tab.h"

namespace qmx {

namespace {

// The port dialog's five list indexes into the settings, as `index` gives
// them.
void TakePortIndexes(AppSettings& s, const std::function<int(TCommPortForm::List)>& index) {
  s.portIndex = static_cast<std::int8_t>(index(TCommPortForm::PortList));
  s.baudIndex = static_cast<std::int8_t>(index(TCommPortForm::BaudList));
  s.parityIndex = static_cast<std::int8_t>(index(TCommPortForm::ParityList));
  s.stopBitsIndex = static_cast<std::int8_t>(index(TCommPortForm::StopBitsList));
  s.autoDetectIndex = static_cast<std::int8_t>(index(TCommPortForm::AutoDetectList));
}

}  // namespace

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
  if (forms_.port) TakePortIndexes(s, [this](TCommPortForm::List l) { return forms_.port->SelectedIndex(l); });
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
  if (forms_.port) TakePortIndexes(s, [this](TCommPortForm::List l) { return forms_.port->Remembered(l); });
  if (LoadSettings(dir_, s)) ApplySettings(s);
}

void TForm1::SaveSettings1Click() {
  const AppSettings s = GatherSettings();
  SaveSettings(dir_, s);
  RememberPortSelections(s);
}

}  // namespace qmx

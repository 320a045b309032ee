// The main window's connection: Connect and Disconnect, the first read of
// the local radio, Refresh, and the wait for a lost device to return.
#include "mainwindow/ui/main_window.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "config/register_map.h"
#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/ui/busy_cursor.h"
#include "link/ui/comm_port_form.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "mainwindow/ui/serial_tab.h"
#include "tools/ui/firmware_form.h"

namespace qmx {
namespace {

// How soon a device's return that found the link busy is taken up again.
constexpr int kBusyRetryMs = 200;

}  // namespace

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
  if (result == TCommPortForm::BootCode) OfferBootCodeUpgrade(forms_.port->Choice().label);
  if (result != QDialog::Accepted) return;
  ReadLocalRadio();
}

bool TForm1::ConnectTo(const QString& port, const QString& baud) {
  LinkBusy guard(linkBusy_);
  if (!guard.Taken() || Connected() || !forms_.port) return false;
  if (!forms_.port->OpenNamed(port, baud)) {
    if (forms_.port->result() == TCommPortForm::BootCode) OfferBootCodeUpgrade(forms_.port->Choice().label);
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
    ShowFailure(prompter_, FailureOf(Operation::ReadBanks));
  }
}

void TForm1::ShowConnectedFromDialog() {
  if (const Result<LineSettings> line = link_.transport.GetPortSettings(); ShowPortFailure(prompter_, line))
    lastLine_ = *line;
  const PortChoice& choice = forms_.port->Choice();
  lastPortText_ = QString::fromStdString(choice.label);
  lastBaudText_ = QString::number(choice.line.baudRate);
  ShowConnected("Connected to");
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
  SetStatus(ConnectedText(verb));
}

QString TForm1::ConnectedText(const char* verb) const {
  return QString("%1 local radio on %2 at %3").arg(verb, lastPortText_, lastBaudText_);
}

void TForm1::PortLost() {
  if (upgradeShown_) {
    // The upgrade window holds the port: it shows the loss and is closed
    // by the user; the rest follows then.
    upgradePortLost_ = true;
    if (auto* upgrade = qobject_cast<TForm3*>(forms_.upgrade)) upgrade->PortLost();
    return;
  }
  if (!Connected()) return;  // a search or a failed attempt: the dialog reports it
  CloseLink();
  ResetPollControls(false);
  if (WaitForDevice()) return;
  SetStatus("Disconnected.");
  ShowFailure(prompter_, FailureOf(Operation::PortLost));
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
// fresh read of the radio, all without a message box; a radio back in its
// boot code is offered an upgrade, as Connect offers it; a device that does
// not answer is waited for again.
void TForm1::DeviceReturned() {
  if (waitingFor_.empty() || Connected()) return;
  LinkBusy guard(linkBusy_);
  if (!guard.Taken()) {
    // Another operation holds the link (its box may still be open): the
    // return is taken up once it ends, not lost.
    QTimer::singleShot(kBusyRetryMs, this, [this] { DeviceReturned(); });
    return;
  }
  const std::string name = waitingFor_;
  waitingFor_.clear();
  bool ok = false;
  bool bootCode = false;
  {
    BusyCursor busy;
    // Opened by the name waited for: a USB adapter may return as another
    // ttyUSBn, its by-id name follows it. A port that cannot be opened is
    // not shown: the device is waited for again.
    const Done opened = link_.transport.OpenCommPort(lastLine_, name, true);
    if (opened.status() != Status::CannotOpen) ShowPortFailure(prompter_, opened);
    ok = opened.ok();
    if (ok) {
      const Result<BankMask> read = EnterProtocolModeAndReadAll(link_.commands, image_);
      ok = read && *read == kAllBanks;
      bootCode = !read && bootCodeProbe_ && bootCodeProbe_();
    }
  }
  if (bootCode) {
    OfferBootCodeUpgrade(name, true);
    return;
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
  Result<BankMask> read = Result<BankMask>::Fail(Status::NoReply);
  {
    // The link is held for the read only: the box that reports it leaves
    // the link free (for a device that returns meanwhile, say).
    LinkBusy guard(linkBusy_);
    if (!guard.Taken()) return;
    BusyCursor busy;
    read = EnterProtocolModeAndReadAll(link_.commands, image_);
    if (read && *read == kAllBanks) ShowLocalStatus();
  }
  if (!read) {
    ShowFailure(prompter_, FailureOf(Operation::EnterProtocolMode));
    return;
  }
  if (*read != kAllBanks) {
    ShowFailure(prompter_, FailureOf(Operation::ReadRadio));
    return;
  }
  prompter_.Message("Refresh Successful.", "Refresh Successful");
}

}  // namespace qmx

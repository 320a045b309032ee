// The main window's connection: Connect and Disconnect, the first read of
// the local radio, Refresh, and the wait for a lost device to return.
#include "mainwindow/ui/main_window.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "config/register_map.h"
#include "link/failure_text.h"
#include "link/link_session.h"
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

const std::string& TForm1::WaitingForDevice() const { return link_.session.WaitingFor(); }

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
    ShowConnected("Connected to");
  } else {
    link_.session.Close();
    SetStatus("Disconnected.");
    ShowFailure(prompter_, FailureOf(Operation::ReadBanks));
  }
}

void TForm1::CloseLink() {
  SetConnectedControls(false);
  // Every writer stops, the terminal's ring goes back and the port closes.
  link_.session.Close();
  LeaveTerminalQuietly();
  ClearLocalStatus();
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
  link_.session.Disconnect();
  SetStatus(QString::fromStdString(link_.session.StateText()));
}

// The radio read in full: the window in its connected state.
void TForm1::ShowConnected(const char* verb) {
  ShowLocalStatus();
  SetConnectedControls(true);
  ResetPollControls(true);
  // The disconnect emptied the Poll I/O lists; the addresses known so far
  // are offered again.
  CopyDestinationsToPollTab(Serial->Destinations());
  SetStatus(ConnectedText(verb));
}

QString TForm1::ConnectedText(const char* verb) const {
  const PortChoice& port = link_.session.Port();
  return QString("%1 local radio on %2 at %3")
      .arg(verb, QString::fromStdString(port.label), QString::number(port.line.baudRate));
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
  link_.session.Disconnect();
  SetStatus("Disconnected.");
  ShowFailure(prompter_, FailureOf(Operation::PortLost));
}

// The session waits for the device under the name that will bring it back;
// its return is taken up on this thread.
bool TForm1::WaitForDevice() {
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
          if (self && !self->WaitingForDevice().empty())
            self->SetStatus(QString("Port lost.  %1 is back, but this user may not read and write it "
                                    "(Connect stops waiting)")
                                .arg(QString::fromStdString(self->WaitingForDevice())));
        },
        Qt::QueuedConnection);
  };
  if (!link_.session.WaitForDevice(std::move(callbacks))) return false;
  SetStatus(QString::fromStdString(link_.session.StateText()));
  return true;
}

void TForm1::StopWaitingForDevice() {
  if (WaitingForDevice().empty()) return;
  link_.session.Disconnect();
  SetStatus(QString::fromStdString(link_.session.StateText()));
}

// The device is back: the session reconnects it at the same line and the
// radio is read afresh, all without a message box; a radio back in its
// boot code is offered an upgrade, as Connect offers it; a device that does
// not answer is waited for again.
void TForm1::DeviceReturned() {
  if (WaitingForDevice().empty() || Connected()) return;
  LinkBusy guard(linkBusy_);
  if (!guard.Taken()) {
    // Another operation holds the link (its box may still be open): the
    // return is taken up once it ends, not lost.
    QTimer::singleShot(kBusyRetryMs, this, [this] { DeviceReturned(); });
    return;
  }
  const std::string name = WaitingForDevice();
  Done back;
  {
    BusyCursor busy;
    back = link_.session.Reconnect([this] { return ReadBanks(link_.commands, image_, kAllBanks, 0, 0) == kAllBanks; });
  }
  // A port that cannot be opened is not shown: the device is waited for
  // again. A write that failed has had its box from the link.
  if (back.status() != Status::CannotOpen && back.status() != Status::WriteFailed) ShowPortFailure(prompter_, back);
  if (link_.session.State() == LinkState::BootCode) {
    OfferBootCodeUpgrade(name, true);
    return;
  }
  if (!back) {
    if (!WaitForDevice()) {
      link_.session.Disconnect();
      SetStatus("Disconnected.");
    }
    return;
  }
  ShowConnected("Reconnected to");
}

void TForm1::RefreshButtonClick() {
  Done entered;
  BankMask read = 0;
  {
    // The link is held for the read only: the box that reports it leaves
    // the link free (for a device that returns meanwhile, say).
    LinkBusy guard(linkBusy_);
    if (!guard.Taken()) return;
    BusyCursor busy;
    entered = link_.session.EnterProtocolMode(kUsualReplyWait, false);
    if (entered) read = ReadBanks(link_.commands, image_, kAllBanks, 0, 0);
    if (read == kAllBanks) ShowLocalStatus();
  }
  if (!entered) {
    ShowFailure(prompter_, FailureOf(Operation::EnterProtocolMode));
    return;
  }
  if (read != kAllBanks) {
    ShowFailure(prompter_, FailureOf(Operation::ReadRadio));
    return;
  }
  prompter_.Message("Refresh Successful.", "Refresh Successful");
}

}  // namespace qmx

// The main window's way into the module's boot code for the upgrade window
// and back (the steps themselves are the boot session's), and the offer to
// program a radio that the port dialog found in its boot code.
#include "mainwindow/ui/main_window.h"

#include <QPushButton>
#include <chrono>
#include <optional>
#include <utility>

#include "config/register_map.h"
#include "link/failure_text.h"
#include "link/link_session.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/ui/busy_cursor.h"
#include "link/ui/comm_port_form.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "mainwindow/ui/serial_tab.h"
#include "tools/firmware_upgrade.h"
#include "tools/ui/firmware_form.h"

namespace qmx {

namespace {

// Disables a window's controls for as long as it lives; those disabled
// before stay disabled after.
class ControlsHeld {
 public:
  explicit ControlsHeld(QWidget* w) : w_(w) { w_->setEnabled(false); }
  ~ControlsHeld() { w_->setEnabled(true); }
  ControlsHeld(const ControlsHeld&) = delete;
  ControlsHeld& operator=(const ControlsHeld&) = delete;

 private:
  QWidget* w_;
};

}  // namespace

void TForm1::OfferBootCodeUpgrade(const std::string& port, bool returned) {
  if (!prompter_.Question(BootCodeNotice(port) + " Program a firmware image now?", "Radio in Boot Code")) {
    link_.session.Close();  // the radio is left as it is
    if (returned) SetStatus(QString::fromStdString(BootCodeNotice(port)));
    return;
  }
  if (UpgradeInBootCode(false)) {
    if (returned)
      ShowConnected("Reconnected to");
    else
      ShowConnected("Connected to");
  } else if (link_.session.State() != LinkState::Closed) {
    CloseLink();
    ResetPollControls(false);
    SetStatus("Disconnected.");
  }
}

void TForm1::UpgradeButtonClick() {
  LinkBusy guard(linkBusy_);
  if (!guard.Taken()) return;
  const bool read = UpgradeInBootCode(true);
  // The boot code's words end with the window.
  if (Connected())
    SetStatus(read ? ConnectedText("Connected to") : QString("Radio not read after the upgrade.  Refresh tries again."));
}

bool TForm1::UpgradeInBootCode(bool reset) {
  auto* upgrade = qobject_cast<TForm3*>(forms_.upgrade);
  if (!upgrade) return false;
  LinkSession& session = link_.session;
  // The radio is taken into its boot code only when the window's first
  // operation starts; until then it stays in protocol mode.
  bool entered = false;
  bool notFound = false;
  auto enter = [&]() -> ByteChannel* {
    Done in;
    {
      BusyCursor busy;
      // Nothing else may use the link (or take the ring) meanwhile.
      const ControlsHeld held(this);
      in = session.EnterBootCode(reset);
    }
    if (in.status() != Status::NoReply && !ShowPortFailure(prompter_, in)) return nullptr;
    entered = true;
    if (!in) {
      notFound = true;
      return nullptr;
    }
    ConnectButton->setText("Disconnect");
    SetStatus("Radio Detected");
    return &session.BootChannel();
  };
  // The periodic work would write frames into the boot code's dialogue.
  session.HoldWriters();
  upgradeShown_ = true;
  upgrade->ShowFor(enter, prompter_, dir_);
  upgradeShown_ = false;
  const bool lost = std::exchange(upgradePortLost_, false);
  if (lost || notFound) {
    if (entered) session.AbandonBootCode();  // the port closed, the parser waiting for the next connection
    if (lost && Connected()) {
      // The port went while the window was open: nothing to bring back. The
      // loss is handled now as at any other time.
      PortLost();
    } else {
      CloseLink();
      ResetPollControls(false);
      SetStatus(notFound ? "No Radio Detected" : "Disconnected.");
      if (notFound) ShowFailure(prompter_, FailureOf(Operation::FindRadio));
    }
    return false;
  }
  // Never entered, the boot code has nothing to give back: a connected
  // radio is still in protocol mode, one found in its boot code stays there.
  if (!entered) {
    session.ReleaseWriters();
    return Connected();
  }
  BusyCursor busy;
  return ReturnFromBootCode();
}

bool TForm1::ReturnFromBootCode() {
  std::optional<ControlsHeld> held(std::in_place, this);
  BankMask read = 0;
  const Done back = link_.session.LeaveBootCode([&] {
    held.reset();
    std::optional<BusyCursor> busy(std::in_place);
    read = ReadBanks(link_.commands, image_, kAllBanks, 0, 0);
    ShowLocalStatus();
    busy.reset();
    if (read != kAllBanks)
      ShowFailure(prompter_, FailureOf(Operation::BootCode));
    return read == kAllBanks;
  });
  held.reset();
  if (back.status() != Status::NoReply && !ShowPortFailure(prompter_, back)) return false;
  if (!back) {
    ShowFailure(prompter_, FailureOf(Operation::EnterProtocolMode));
    return false;
  }
  return read == kAllBanks;
}

}  // namespace qmx

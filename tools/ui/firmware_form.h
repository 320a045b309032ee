// The firmware upgrade window ("Upgrade Firmware"): picks an image file and
// programs it, verifies the module's image against it, or saves the
// module's image to a file. The main window opens it once the boot code's
// prompt was found; the work itself is FirmwareUpgrade's, run on a worker
// thread while this window stays responsive.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "link/clock.h"
#include "tools/firmware_upgrade.h"

class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace qmx {

class ByteChannel;
class RadioLink;
class Prompter;
class WorkDir;
class TForm2;
class FirmwareUpgrade;

// Runs `work` on a thread of its own while this thread's event loop keeps
// the windows alive; returns when it is done.
void RunOffThread(const std::function<void()>& work);

// The port dialog's boot-code probe: the link session's check of the open
// port (off this thread, when the session's owner runs its waits so), with
// `interval` between two 0x03.
std::function<bool()> BootCodeProbe(RadioLink& link, Clock::duration interval = kBootProbeInterval);

class TForm3 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  // The information window shown during the wait after programming; the
  // window makes its own when none is given.
  void SetInformationWindow(TForm2* info) { info_ = info; }
  // The clock of the boot code's dialogue (the steady clock unless a test
  // gives its own).
  void SetClock(TimeSource& clock) { clock_ = &clock; }

  // Shows the window modally in its starting state: only "Select File"
  // enabled, the gauge empty, the first status text. The radio is taken into
  // its boot code only when the first operation starts: `enter` does it and
  // gives the channel of the boot code's dialogue (the parser stopped, the
  // line at 38400 8N1), or nothing when the boot code did not answer; the
  // window then closes at once, and its caller tells why. The radio stays in
  // its boot code after programming, for a Verify or a Save; closing the
  // window sends "E" CR when the boot code was entered, nothing otherwise.
  int ShowFor(std::function<ByteChannel*()> enter, Prompter& prompter, WorkDir& dir);
  // The same over a boot code entered already.
  int ShowFor(ByteChannel& channel, Prompter& prompter, WorkDir& dir);
  // The port went away: nothing can reach the radio any more. The window
  // says so, offers only closing, and closes without a word to the radio.
  void PortLost();

  // Off, or on unless the port was lost.
  void SetToolButtons(bool on);
  QString StatusText() const;

  QPushButton* SetButton;
  QLineEdit* FilenameEdit;
  QPushButton* LoadButton;
  QPushButton* VerifyButton;
  QPushButton* SaveButton;
  QProgressBar* Gauge;
  QLabel* StatusBar1;
  QAction* UpgradeFirmware1;
  QAction* Exit1;

 public slots:
  void SetButtonClick();
  void LoadButtonClick();
  void VerifyButtonClick();
  void SaveButtonClick();
  void Exit1Click() { close(); }

 protected:
  void done(int result) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetStatus(const QString& text);
  // The progress gauge's colours, from the palette: green, or red after a
  // failure.
  void StyleGauge();
  // Runs `operation` off the user-interface thread with the progress hooks
  // wired to the gauge and the information window.
  template <typename Op>
  void RunOperation(Op operation);
  void Report(const struct UpgradeOutcome& outcome, bool buttonsAfter = true);
  TForm2& Info();
  // "Verifying Firmware" / "Please Wait", over this window.
  void ShowInformation();

  std::function<ByteChannel*()> enter_;
  ByteChannel* channel_ = nullptr;
  Prompter* prompter_ = nullptr;
  WorkDir* dir_ = nullptr;
  TimeSource* clock_ = &SteadyTime();
  TForm2* info_ = nullptr;
  std::unique_ptr<TForm2> ownInfo_;
  bool busy_ = false;
  bool lost_ = false;   // the port went away during this showing
  bool failed_ = false;  // the last operation failed: the gauge shows it
};

}  // namespace qmx

// "Comm Port Settings": the user picks a serial port and line settings, or
// lets the dialog search for the radio. It hands out the choice (Choice())
// and shows the search's progress; every attempt to open a port and reach
// the radio is the link session's. It closes with OK only when the port is
// open and the radio has answered in protocol mode.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "link/link_session.h"
#include "link/port_access.h"
#include "link/port_detect.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace qmx {

class RadioLink;
class Prompter;

class TCommPortForm : public QDialog {
  Q_OBJECT

 public:
  // The five lists whose selections the dialog remembers.
  enum List { PortList, BaudList, ParityList, StopBitsList, AutoDetectList, ListCount };
  // The dialog's result when no radio answered protocol mode but a module's
  // boot code did: the port is open (at the line tried, or after Auto Detect
  // at 9600 8N1), its module without working firmware.
  static constexpr int BootCode = 2;

  TCommPortForm(RadioLink& link, Prompter& prompter, QWidget* parent = nullptr);

  // Where the port list comes from (tests replace the system's list).
  void SetPortSource(std::function<std::vector<PortInfo>()> list, std::function<bool(const std::string&)> probe);
  // What to tell a user who may not open the listed ports (the system's
  // check by default; empty: nothing).
  void SetPermissionHintSource(std::function<std::string(const std::vector<PortInfo>&)> hint) {
    permissionHint_ = std::move(hint);
  }
  // Offer the built-in simulated module (default on).
  void SetOfferSim(bool offer) { offerSim_ = offer; }
  // Select the simulated module whenever the dialog shows.
  void SetPreferSim(bool prefer) { preferSim_ = prefer; }
  // Time-out of one attempt to reach the radio (1000 ms).
  void SetAttemptTimeoutMs(double ms) { attemptTimeoutMs_ = ms; }
  // How to tell whether the open port, whose radio did not answer protocol
  // mode, has a module in its boot code (the port's line as it was
  // afterwards). None: never asked.
  void SetBootCodeProbe(std::function<bool()> probe) { bootCodeProbe_ = std::move(probe); }

  // Remembered selection of each list, applied each time the dialog shows.
  // Until a port position is remembered (the settings file sets one), the
  // port list preselects DefaultPortIndex(): positions in a list of devices
  // that come and go mean little before the user has saved one.
  int Remembered(List list) const { return tags_[list]; }
  void SetRemembered(List list, int index) {
    tags_[list] = index;
    pending_[list] = true;
    if (list == PortList) portRemembered_ = true;
  }
  // The list's selection as the dialog shows it, or, when a remembered
  // selection was set since the dialog was last shown, as it will show it
  // (before the first showing: the designed selections).
  int SelectedIndex(List list) const;

  // Rebuilds the port list; returns the number of entries.
  int FillPortList();
  // 0 when the radio answered at these settings, 2 when the port could not
  // be opened or set up (the transport has told the user why), 1 otherwise.
  int TryPortSettings(const std::string& path, const LineSettings& line, bool open);
  // Searches a typed port path alone, else every port of the system (the
  // simulated module only when typed).
  bool AutoDetectRadio();
  // The Auto Detect list's entries.
  static constexpr int kAutoDetectOff = 0;
  static constexpr int kAutoDetectOn = 1;

  // What OK does, without showing the dialog, for a port named at start:
  // `port` is an entry's port name ("SIM", "ttyUSB0") or a device path, and
  // `baud` one of the baud rate list's entries (empty: the selection the
  // dialog would show). Auto Detect is off for it. True when the radio
  // answered; otherwise the dialog's messages have been shown, or result()
  // is BootCode.
  bool OpenNamed(const QString& port, const QString& baud);

  // What the last OK (or OpenNamed) connected to; valid after the dialog
  // was accepted or ended with BootCode.
  const PortChoice& Choice() const { return choice_; }
  QString PortText() const;
  QString BaudText() const;
  QString StatusText() const;
  const std::vector<PortEntry>& Entries() const { return entries_; }
  // Every attempt of the last search or connection: (port path, settings).
  const std::vector<std::pair<std::string, LineSettings>>& Attempts() const { return attempts_; }

  QComboBox* CommPortComboBox;
  QComboBox* BaudrateComboBox;
  QComboBox* ParityComboBox;
  QComboBox* StopBitsComboBox;
  QComboBox* AutoDetectComboBox;
  QPushButton* OKButton;
  QPushButton* CancelButton;
  QLabel* StatusBar1;
  QLabel* PermissionLabel;

 public slots:
  void OKButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;
  void accept() override;

 private:
  std::array<QComboBox*, ListCount> Lists() const;
  void SetStatus(const QString& text);
  // Fills the port list and selects in each list what it remembers.
  void ApplySelections();
  void StopPort();
  // What OK does: the choice of the lists, searched for or tried.
  void ConnectChoice();
  bool BootCodeAnswers() const { return bootCodeProbe_ && bootCodeProbe_(); }
  // After a search that found a port's boot code and no radio: that port
  // opened again at the factory line, shown in the lists.
  bool ReopenInBootCode(const PortEntry& entry, int listIndex);
  // The port text as typed, when it is not the selected entry's.
  std::optional<std::string> TypedPort() const;
  std::string SelectedPortPath() const;
  // The line of the baud rate, parity and stop bits lists' selections.
  LineSettings SelectedLine() const;
  // The port as the lists show it now, opened at `path` and `line`.
  void Choose(const std::string& path, const LineSettings& line);
  int PortIndexToShow(const std::vector<PortEntry>& entries) const;

  RadioLink& link_;
  Prompter& prompter_;
  std::function<std::vector<PortInfo>()> listPorts_;
  std::function<bool(const std::string&)> probe_;
  std::function<std::string(const std::vector<PortInfo>&)> permissionHint_ = SerialPermissionHint;
  bool offerSim_ = true;
  bool preferSim_ = false;
  double attemptTimeoutMs_ = 1000.0;
  std::function<bool()> bootCodeProbe_;
  bool bootCodeFound_ = false;  // the last search ended at a boot code
  int tags_[ListCount] = {0, 3, 0, 0, 0};
  bool pending_[ListCount] = {true, true, true, true, true};
  bool portRemembered_ = false;
  bool cancelRequest_ = false;  // the Cancel button's tag
  bool busy_ = false;
  // The port path typed for the last OK (or --port), shown again instead
  // of a list entry; empty when a list entry was chosen.
  std::optional<std::string> typedPort_;
  std::vector<PortEntry> entries_;
  std::vector<std::pair<std::string, LineSettings>> attempts_;
  PortChoice choice_;
};

}  // namespace qmx

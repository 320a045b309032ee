// The main window's Poll I/O tab: four groups, "Radio 1" to "Radio 4", each
// tied to one remote radio by its network address, that show the radio's
// identity, I/O lines, analog inputs, PWM outputs, signal strength and
// success rate; reading a radio once, polling all four periodically, writing
// outputs and PWM values. The decisions live in mainwindow/poll_io_logic.h;
// this class shows and gathers.
#pragma once

#include <QStringList>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "config/register_map.h"
#include "mainwindow/poll_cycle.h"
#include "mainwindow/poll_io_logic.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

namespace qmx {

class CommandLayer;
class Gauge;
class Prompter;

// The controls of one remote radio's group, in the order of the tab's
// control table; the gauges and the RSSI label follow.
struct RemoteRadioRow {
  QComboBox* networkAddress = nullptr;
  QLineEdit* mac = nullptr;
  QLineEdit* userTag = nullptr;
  std::array<QLineEdit*, 6> gpio{};
  std::array<QLabel*, 6> gpioDirection{};
  std::array<QLineEdit*, 3> adc{};
  QLineEdit* pwm0 = nullptr;
  QLineEdit* pwm1 = nullptr;
  QCheckBox* pollRadio = nullptr;
  QPushButton* config = nullptr;
  QLabel* percentValue = nullptr;
  QLabel* percentLabel = nullptr;
  Gauge* rssiGauge = nullptr;
  QLabel* rssiValue = nullptr;
  Gauge* percentGauge = nullptr;
};

class PollIoTab : public QWidget {
  Q_OBJECT

 public:
  PollIoTab(CommandLayer& commands, RadioImage& image, Prompter& prompter, QWidget* parent = nullptr);
  ~PollIoTab() override;

  // Opens the configuration dialog on a slot (1 … 4) at its network address.
  void SetConfigOpener(std::function<void(RadioIndex, std::uint16_t)> open) { openConfig_ = std::move(open); }

  // Radio number n is 1 … 4 in all of these.
  void ShowRemoteRadio(int n);
  void ShowReplyStrength(int n, std::uint8_t strength);
  void ShowSuccessRate(int n);
  // Enables the tab's controls (connect), or disables and empties them
  // (window creation, disconnect), which also stops the automatic poll.
  void ResetPollControls(bool on);
  // An I/O event from a remote radio.
  void ApplyIoEvent(std::uint16_t address, std::span<const std::uint8_t> data);
  // Each radio's address text as last typed or chosen, radio 1 first.
  const std::array<std::string, kRemoteRadios>& AddressTexts() const { return addressText_; }
  // Radio n is to be the radio at `address`, polled: its "Poll Radio" is
  // ticked and, unless it holds that address already, the address goes
  // into its box and the radio is read once.
  void TakeRadio(int n, std::uint16_t address);
  // Replaces the lists of the four address boxes; what each shows stays.
  void SetDestinations(const QStringList& all);
  // Ends the automatic poll (disconnect): no further cycle, and a cycle in
  // progress polls no further radio.
  void StopPolling();
  bool Polling() const { return schedule_.Running(); }
  // Pauses the automatic poll after the request under way (the terminal
  // holds the port); true when it was running. Resume() arms it again.
  bool PausePolling();
  void ResumePolling();
  // A request of this tab waits for its reply.
  bool CommandUnderWay() const { return commandsUnderWay_ > 0; }

  // The width the tab grows by when the status panel collapses.
  int CollapsedGrowth() const;

  // The control table, radio 1 first.
  std::array<RemoteRadioRow, kRemoteRadios> RemoteRadioControls{};
  std::array<QGroupBox*, kRemoteRadios> RadioGroupBox{};
  QLineEdit* RefreshEdit;
  QSpinBox* RefreshUpDown;
  QPushButton* RefreshPollButton;
  QTimer* RefreshTimer;

 public slots:
  void RefreshButton1Click();
  void RefreshTimerTimer();
  // Reads radio n once (double-click or Enter in its address box).
  void ReadRadio(int n);
  // A change of radio n's address box, by choice or by typing.
  void NetworkAddressComboBoxChange(int n);
  void ConfigButtonClick(int n);
  // Writes radio n's PWM0 or PWM1 edit (double-click or Enter in it).
  void PWM0EditWrite(int n);
  void PWM1EditWrite(int n);

 signals:
  void StatusChanged(const QString& text);
  // The last request under way ended.
  void CommandsEnded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* BuildCaptions();
  QGroupBox* BuildGroup(int n);
  void AlignCaptions();
  RemoteRadioRow& Row(int n) { return RemoteRadioControls.at(static_cast<std::size_t>(n - 1)); }
  // The row's network address as last typed or chosen.
  std::uint16_t Address(int n) const { return address_.at(static_cast<std::size_t>(n - 1)).load(); }
  void NoteAddress(int n);
  // The row's text is a network address; AddressOrSay also tells the user
  // when it is not.
  bool AddressUsable(int n) const;
  bool AddressOrSay(int n);
  int SelectedIndex(int n) const;
  BankMask Read(int n, BankMask mask);
  void WriteRemote(int n, const RemoteWrite& write);
  void SetConfigButtonsEnabled(bool on);

  CommandLayer& commands_;
  RadioImage& image_;
  Prompter& prompter_;
  std::function<void(RadioIndex, std::uint16_t)> openConfig_;
  PollSchedule schedule_;
  // Every request of this tab to a remote radio.
  RemoteRequests requests_;
  // Read by the command layer during a command: kept as numbers, never
  // parsed from a widget there.
  std::array<std::atomic<std::uint16_t>, kRemoteRadios> address_{};
  std::array<std::string, kRemoteRadios> addressText_;
  // The address text is a network address (read with it when it changes).
  std::array<bool, kRemoteRadios> addressUsable_{};
  // The value typed into each output line's edit, read when it changes.
  std::array<std::array<std::int32_t, 6>, kRemoteRadios> gpioValue_{};
  // The selection each address box last handled; -1: none.
  std::array<int, kRemoteRadios> remembered_{-1, -1, -1, -1};
  // The direction bits each group shows.
  std::array<std::array<bool, 6>, kRemoteRadios> output_{};
  bool enabled_ = false;  // connected
  int commandsUnderWay_ = 0;
  QWidget* captions_ = nullptr;
  QWidget* captionRows_ = nullptr;
};

}  // namespace qmx

// The main window: the connection to the local radio, its status panel on
// the left, the five tabs, the menus and the status line. Its members live
// in one file per concern: main_window.cpp (the window, its menus and
// tools), main_window_connect.cpp (connect, disconnect, refresh, a lost
// device), main_window_upgrade.cpp (the boot code), main_window_terminal.cpp
// (tab changes), main_window_panel.cpp (the status panel) and
// main_window_settings.cpp (settings file, place and size). View events
// arrive through a ViewQueue (view_queue.h).
#pragma once

#include <QMainWindow>
#include <QColor>
#include <QMargins>
#include <QPointer>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "link/decoder.h"
#include "link/link_session.h"
#include "link/serial_port.h"
#include "mainwindow/settings_file.h"
#include "mainwindow/terminal_logic.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;

namespace qmx {

class RadioLink;
class RadioImage;
struct LineSettings;
class Prompter;
class WorkDir;
class ReceivedColumn;
class TCommPortForm;
class TAboutForm;
class TDeviceConfigForm;
class TMACForm;
class SerialTab;
class EventsTab;
class TerminalTab;
class PollIoTab;
class NetworkTab;
class ViewQueue;

// The windows the main window opens.
struct MainWindowForms {
  TCommPortForm* port = nullptr;
  TAboutForm* about = nullptr;
  TDeviceConfigForm* config = nullptr;
  TMACForm* mac = nullptr;
  QWidget* packetBuilder = nullptr;
  QWidget* diagnostics = nullptr;
  QWidget* upgrade = nullptr;
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  TForm1(RadioLink& link, RadioImage& image, Prompter& prompter, WorkDir& dir, MainWindowForms forms = {},
         QWidget* parent = nullptr);
  ~TForm1() override;

  // The sink that carries the decoder's view events to this window, in
  // order, on the user-interface thread.
  ViewSink& Sink();

  void ShowLocalStatus();
  void ClearLocalStatus();
  void ResetPollControls(bool on);
  QString StatusText() const;
  bool Connected() const;
  // The device name a lost connection waits for, or empty.
  const std::string& WaitingForDevice() const;
  // The values of the status panel, top to bottom.
  std::array<QString, 8> StatusValues() const;
  // The windows this one opens (created after it, in start-up order).
  // The configuration and MAC dialogs get the link, image and prompter.
  void SetForms(const MainWindowForms& forms);
  // Milliseconds to wait after closing the port on disconnect (750).
  void SetDisconnectDelayMs(int ms) { disconnectDelayMs_ = ms; }

  // Menu items.
  QAction* Connect1;
  QAction* SaveSettings1;
  QAction* Exit1;
  QAction* ShowCommErrors1;
  QAction* ShowSettingsInHex1;
  QAction* LogData1;
  QAction* PacketBuilder1;
  QAction* Diag1;
  QAction* ObeyCTS;
  // Opens the MAC address dialog, as Alt + click on the MAC address does;
  // also in the context menu of the MAC address.
  QAction* WriteMACAddress1;
  QAction* About1;

  // Status panel.
  QWidget* Panel1;
  QLabel* StaticText1;
  QLabel* DeviceModeStaticText;
  QLabel* CurrentPanIDStaticText;
  QLabel* CurrentChannelStaticText;
  QLabel* CurrentNetworkStaticText;
  QLabel* MACAddressStaticText;
  QLabel* FirmwareVersionStaticText;
  QLabel* LinkStatusStaticText;
  QLabel* SecurityStaticText;
  QLabel* MACAddressLabel;
  QLabel* LinkStatusLabel;
  QPushButton* RefreshButton;
  QPushButton* ConfigButton;
  QPushButton* UpgradeButton;
  QPushButton* ConnectButton;
  QCheckBox* CloseCheckBox;

  // Tabs.
  QTabWidget* PageControl1;
  SerialTab* Serial;
  PollIoTab* PollIO;
  EventsTab* Events;
  TerminalTab* Zavedo;
  NetworkTab* Network;

  // Serial tab: its controls, owned by Serial.
  ReceivedColumn* MACAddressRichEdit;
  ReceivedColumn* ReceivedDataRichEdit;
  ReceivedColumn* LQIRichEdit;
  QCheckBox* HexCheckBox;
  QCheckBox* ScrollRealTimeCheckBox;
  QPushButton* ClearButton;
  QComboBox* NetworkAddrComboBox;
  QLineEdit* IntervalEdit;
  QLineEdit* TransmitEdit;
  QLineEdit* TXStatusEdit;
  QLineEdit* LQIEdit;
  QCheckBox* DataCheckBox;
  QCheckBox* CRCheckBox;
  QPushButton* TransmitButton;

  // Poll I/O tab: its controls, owned by PollIO (the rest through its
  // RemoteRadioControls table).
  std::array<QComboBox*, 4> RadioNetworkAddressComboBox{};
  QPushButton* RefreshPollButton;

  // Events and Zavedo tabs.
  QTextEdit* EventRichEdit;
  QPushButton* ClearEventButton;
  QTextEdit* ZavedoRichEdit;
  QPushButton* ZavedoTransmitButton;

  QLabel* StatusBar1;

  // Settings file fields gathered from and applied to the controls.
  AppSettings GatherSettings() const;
  void ApplySettings(const AppSettings& settings);

 public slots:
  void ConnectButtonClick();
  void Connect1Click() { ConnectButtonClick(); }
  // Connects as if the user had chosen `port` and `baud` in the port dialog
  // and pressed OK (the program's --port and --baud). True when connected.
  bool ConnectTo(const QString& port, const QString& baud);
  void RefreshButtonClick();
  void ConfigButtonClick();
  void UpgradeButtonClick();
  void About1Click();
  void PacketBuilder1Click();
  void Diag1Click();
  void SaveSettings1Click();
  void CloseProgram();
  void ClearEventButtonClick();
  // Before a change of tab: leaving the terminal gives the ring back to the
  // frame parser and brings the radio back into protocol mode. False
  // refuses the change.
  bool PageControl1Changing(const TabChange& change);
  // After it: entering the terminal takes the radio out of protocol mode
  // and gives the ring to the terminal.
  void PageControl1Change(const TabChange& change);
  // Collapses the status panel (checked) so that all four Poll I/O radios
  // show, or restores it.
  void CloseCheckBoxClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Marks a radio operation of this window as running; a second one
  // started from an event handled while the first waits is ignored.
  class LinkBusy {
   public:
    explicit LinkBusy(bool& flag) : flag_(flag), taken_(!flag) { flag_ = true; }
    ~LinkBusy() {
      if (taken_) flag_ = false;
    }
    LinkBusy(const LinkBusy&) = delete;
    LinkBusy& operator=(const LinkBusy&) = delete;
    bool Taken() const { return taken_; }

   private:
    bool& flag_;
    bool taken_;
  };
  void BuildMenus();
  QWidget* BuildStatusPanel();
  PollIoTab* BuildPollTab();
  void TabSelected(int index);
  // Disconnected: the terminal, if shown, gives the ring back and the
  // Serial tab is shown.
  void LeaveTerminalQuietly();
  // The terminal holds the port now (`left`: protocol mode's exit).
  void TerminalEntered(const Done& left);
  void PeriodicCommandEnded();
  void EndPause(bool protocolMode);
  // The work of the tabs that the session paused last.
  PeriodicWork PausedWork() const;
  // The tabs' periodic writers and the terminal's ring, given to the
  // session.
  void RegisterWriters();
  void SetStatus(const QString& text);
  // The title follows the session: its port and mode while connected.
  void ShowTitle();
  void SetConnectedControls(bool connected);
  // After the port dialog's OK: reads the local radio and shows it.
  void ReadLocalRadio();
  // Stops all work over the link (repeated sends, the terminal, the poll),
  // clears the status panel and closes the port.
  void CloseLink();
  void Disconnect();
  // Lets the windows run for `ms` milliseconds.
  static void Pause(int ms);
  // The way into the boot code (after a Software Reset when `reset`), the
  // upgrade window and the way back; true when the radio was read in full
  // afterwards.
  bool UpgradeInBootCode(bool reset);
  // After the upgrade window: the saved line, the frame parser, protocol
  // mode and a fresh read of the local radio; true when all banks were read.
  bool ReturnFromBootCode();
  // The radio on `port` was found in its boot code (by the port dialog, or
  // on its return after a loss when `returned`): programming it is offered,
  // and a radio read in full afterwards is connected.
  void OfferBootCodeUpgrade(const std::string& port, bool returned = false);
  void PortLost();
  // Waiting for a lost device to return, and reconnecting when it does.
  bool WaitForDevice();
  void StopWaitingForDevice();
  void DeviceReturned();
  void ShowConnected(const char* verb);
  // "Connected to local radio on PORT at BAUD" with `verb` first.
  QString ConnectedText(const char* verb) const;
  void MACAddressStaticTextMouseDown();
  // The MAC address's menu: Copy (when there is an address) and the write.
  void MACAddressContextMenu(const QPoint& at);
  void LoadSettingsFile();
  void RestoreGeometry();
  void RememberPortSelections(const AppSettings& settings);

  void CopyDestinationsToPollTab(const QStringList& all);
  // The Network tab's names as tooltips of the address lists' items.
  void ShowNamesInLists();
  void BuildNetworkTab();

  RadioLink& link_;
  RadioImage& image_;
  Prompter& prompter_;
  WorkDir& dir_;
  MainWindowForms forms_;
  std::unique_ptr<ViewQueue> sink_;
  std::array<QLabel*, 8> statusValues_{};
  bool connected_ = false;
  MainTab currentTab_ = MainTab::Serial;
  bool firstShow_ = true;
  bool linkBusy_ = false;
  // The terminal tab is shown (or being entered): the port is its own.
  bool inTerminal_ = false;
  // The tabs' writers as the session knows them.
  WriterId pollWriter_ = 0;
  WriterId transmitWriter_ = 0;
  int disconnectDelayMs_ = 750;
  // The upgrade window is open; the port went away meanwhile.
  bool upgradeShown_ = false;
  bool upgradePortLost_ = false;
  // The status panel as built, restored when it is expanded again.
  int panelWidth_ = 0;
  QMargins panelMargins_;
};

}  // namespace qmx

// The diagnostics window: a scan of network addresses 1 … 60 when the local
// radio is a base ("Base RF Diag"), a poll of the base when it is a remote
// ("Remote RF Diag"), both logging to diagfile.dat. The work itself is
// diag::Scan and diag::Poll; this window gathers the typed numbers, runs one
// step per timer event and shows the results.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "link/link_session.h"
#include "tools/diag_log.h"
#include "tools/diag_measure.h"

class QAction;
class QActionGroup;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenuBar;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTimer;

namespace qmx {

class RadioLink;
class Prompter;
class Gauge;
class DiagTimeChart;
class DiagBarChart;
class TInsertNoteForm;

class TDiagForm : public QDialog {
  Q_OBJECT

 public:
  TDiagForm(RadioLink& link, Prompter& prompter, DiagLog& log, QWidget* parent = nullptr);
  ~TDiagForm() override;

  // Where each show asks the local radio's device mode (bank 0 register 0):
  // a remote (0) shows "Remote RF Diag", a base "Base RF Diag", as does any
  // other code, the way the status panel names it. None: a base.
  void SetDeviceModeSource(std::function<std::uint8_t()> mode) { deviceMode_ = std::move(mode); }
  // The note window that "Insert Note" shows.
  void SetNoteForm(TInsertNoteForm* note) { note_ = note; }

  const diag::ScanTable& Table() const { return table_; }
  const diag::ScanCounters& Counters() const { return counters_; }
  bool Polling() const { return polling_; }
  bool Scanning() const { return scanning_; }

  QMenuBar* MainMenu1;
  QAction* Exit1;
  QAction* LogToFile1;
  QAction* InsertNote1;
  std::array<QAction*, diag::kLogPeriods.size()> LoggingPeriod{};
  QTabWidget* PageControl1;
  QWidget* BaseTabSheet;
  QWidget* RemoteTabSheet;

  // "Base RF Diag".
  QLineEdit* PacketLengthEdit1;
  QLineEdit* RefreshRateEdit;
  QPushButton* ClearButton;
  QPushButton* ClearFieldButton;
  QPushButton* TransmitButton;
  QScrollArea* ScrollBox1;
  QListWidget* PollCheckListBox;
  QListWidget* AddrListBox;
  QListWidget* RXPercentListBox;
  QListWidget* TXPercentListBox;
  QListWidget* LQIListBox;
  QAction* ClearAll1;
  DiagBarChart* ScanChart;

  // "Remote RF Diag".
  Gauge* SuccessRateGauge;
  Gauge* LastLqiGauge;
  QLabel* LastLqiLabel;  // the last LQI's value
  QLineEdit* PollingDelayEdit;
  QLineEdit* PacketLengthEdit;
  QPushButton* PollButton;
  QPushButton* ResetButton;
  DiagTimeChart* PollChart;

  QTimer* Timer1;  // poll
  QTimer* Timer2;  // scan

 public slots:
  void PollButtonClick();
  void ResetButtonClick();
  void Timer1Timer();
  void TransmitButtonClick();
  void Timer2Timer();
  void ClearButtonClick();
  void ClearFieldButtonClick();
  void ClearAll1Click();
  void Exit1Click();
  void InsertNote1Click();

 signals:
  // After each poll tick and each scan row, once the window shows it.
  void PollTicked();
  void ScanStepped(int row, bool sweepEnded);

 protected:
  void showEvent(QShowEvent* event) override;
  // However the window goes (E&xit, its frame, Escape), a running poll or
  // scan stops with it.
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  WriterId writer_ = 0;
  QWidget* BuildBaseTab();
  QWidget* BuildRemoteTab();
  void BuildMenus();
  void FillTable();
  // The table's lists from table_ (one row, or all).
  void ShowRow(int row);
  diag::LogPeriod Period() const;
  // What one tab's "Packet Length" and "Polling Delay" hold, read from
  // their texts when these change; each poll tick or scan step uses it.
  struct TypedNumbers {
    std::optional<std::uint8_t> length;  // nothing: does not fit in a frame
    int delayMs = 0;
  };
  void TrackNumbers(QLineEdit* length, QLineEdit* delay, TypedNumbers& into);
  // True when the "Packet Length" number fits in a frame, else a message.
  bool LengthFits(const TypedNumbers& numbers);
  bool EnterProtocolMode();
  void StopPolling();
  void StopScan();

  RadioLink& link_;
  Prompter& prompter_;
  DiagLog& log_;
  TInsertNoteForm* note_ = nullptr;
  std::function<std::uint8_t()> deviceMode_;

  TypedNumbers scanNumbers_;  // "Base RF Diag"
  TypedNumbers pollNumbers_;  // "Remote RF Diag"
  diag::ScanTable table_;
  diag::ScanCounters counters_{};
  diag::Scan scan_;
  diag::Poll poll_;
  bool polling_ = false;
  bool scanning_ = false;
  // A step waits inside its command while the window goes on: a timer event
  // meanwhile must not start another.
  bool inPollTick_ = false;
  bool inScanStep_ = false;
};

}  // namespace qmx

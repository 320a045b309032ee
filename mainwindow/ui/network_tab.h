// The main window's Network tab: one row per radio heard, the base first,
// filled passively from the decoder's view events; acting on a row
// (Configure, Poll, Diagnostics, Identify, Copy, a name kept by MAC), a scan
// of an address range for radios that answer, and the table as CSV. The
// decisions live in mainwindow/network_tab_logic.h; this class shows and
// gathers. Ages are kept current by one 1 s timer that runs only while the
// tab shows in a window that is not minimised.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/clock.h"
#include "link/network_nodes.h"
#include "mainwindow/network_tab_logic.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

namespace qmx {

class CommandLayer;
class Prompter;
class WorkDir;
struct Announcement;

// The rows of the table for a QTableView: NodeTable's rows one to one.
class NetworkModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  NetworkModel(net::NodeTable& table, net::NameBook& names, const TimeSource& clock, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The Name cell of a radio with a MAC address: the name is kept.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // What changed in the table since the last call, told to the views.
  void ApplyChanges();
  // The age columns and the LQI line of every row: time went on.
  void AgesChanged();
  const net::Node& NodeAt(int row) const { return table_.Rows().at(static_cast<std::size_t>(row)); }
  std::optional<std::string> NameOf(const net::Node& node) const;
  Clock::time_point Now() const { return clock_.Now(); }

 signals:
  // A name was given, changed or removed.
  void NameChanged();
  // A name could not be written to the work directory.
  void NameNotSaved();

 private:
  net::NodeTable& table_;
  net::NameBook& names_;
  const TimeSource& clock_;
  int rows_ = 0;  // rows the views know of
};

// Draws a row's LQI samples of the last minute as a small line, newest on
// the right, LQI 0 at the bottom and 255 at the top.
class LqiLineDelegate : public QStyledItemDelegate {
 public:
  explicit LqiLineDelegate(const NetworkModel& model, QObject* parent = nullptr)
      : QStyledItemDelegate(parent), model_(model) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  const NetworkModel& model_;
};

class NetworkTab : public QWidget {
  Q_OBJECT

 public:
  // What the tab asks of the window around it.
  struct Hooks {
    // Opens the configuration dialog: slot 0 the local radio, 1 … 4 a Poll
    // I/O slot's image, at `address`.
    std::function<void(int slot, std::uint16_t address)> openConfig;
    // The Poll I/O tab's address texts, radio 1 first.
    std::function<std::array<std::string, kRemoteRadios>()> pollAddresses;
    // Puts a radio into the Poll I/O slot chosen for it (PollSlotFor).
    std::function<void(int slot, std::uint16_t address)> takePollSlot;
  };

  NetworkTab(CommandLayer& commands, Prompter& prompter, WorkDir& dir, const TimeSource& clock = SteadyTime(),
             QWidget* parent = nullptr);
  ~NetworkTab() override;
  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }
  // Sends Find Radios' packet to one address (the command layer's TX Data
  // by default).
  void SetSender(diag::TestSender send) { send_ = std::move(send); }
  // Lets `ms` milliseconds pass between the writes of Identify.
  void SetPause(std::function<void(int ms)> pause) { pause_ = std::move(pause); }

  // View events, on the user-interface thread; EventsApplied() after each
  // batch tells the table's view.
  void Announced(const Announcement& announcement);
  void ReceivedData(std::uint16_t address, std::uint8_t lqi);
  void IoEvent(std::uint16_t address);
  void RemoteJoined(std::uint16_t address);
  // A remote radio acknowledged a command.
  void RemoteReplied(std::uint16_t address, std::uint8_t lqi);
  void EventsApplied();
  // The local radio, read on connect and refresh.
  void SetBase(std::uint16_t address, std::optional<std::string> mac);
  // Connected or not: the actions talk to the radio.
  void SetConnected(bool connected);

  // Row actions on row `row` of the table.
  void ConfigureRow(int row);
  void PollRow(int row);
  void DiagnoseRow(int row);
  void IdentifyRow(int row);
  void CopyRow(int row);
  // Starts editing the name of row `row`.
  void NameRow(int row);
  // Find Radios over the typed range; Cancel ends it after the address
  // being asked.
  void FindRadiosClick();
  void CancelFindClick();
  // Export: the table as CSV to a file the user chooses.
  void ExportClick();

  // The name the user gave the radio at `address`, if any.
  std::optional<std::string> NameAt(std::uint16_t address) const;
  bool Scanning() const { return scanning_; }
  bool AgeTimerActive() const;
  // A command of this tab waits for its reply.
  bool CommandUnderWay() const { return commandUnderWay_; }
  // Ends a scan (the session stops the writers); true when one ran.
  bool StopScan();
  const net::NodeTable& Table() const { return table_; }
  NetworkModel& Model() { return *model_; }
  int SelectedRow() const;

  QTableView* NodesView;
  QLineEdit* ScanFromEdit;
  QLineEdit* ScanToEdit;
  QPushButton* FindButton;
  QPushButton* CancelFindButton;
  QProgressBar* ScanProgress;
  QLabel* ScanStatusLabel;
  QPushButton* ExportButton;
  QPushButton* ConfigureButton;
  QPushButton* PollButton;
  QPushButton* DiagnosticsButton;
  QPushButton* IdentifyButton;
  QPushButton* CopyButton;
  QTimer* AgeTimer;

 signals:
  // A name was given or removed: lists that show addresses may show it.
  void NamesChanged();
  // The command under way ended.
  void CommandsEnded();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs one command of this tab, marked as under way.
  template <typename Command>
  auto Run(Command command);
  void ScanStep();
  void EndScan();
  void UpdateAgeTimer();
  void UpdateActions();
  void ContextMenu(const QPoint& at);

  CommandLayer& commands_;
  Prompter& prompter_;
  WorkDir& dir_;
  net::NodeTable table_;
  net::NameBook names_;
  NetworkModel* model_;
  Hooks hooks_;
  diag::TestSender send_;
  std::function<void(int ms)> pause_;
  std::optional<net::NodeScan> scan_;  // the last Find Radios
  bool scanning_ = false;
  bool connected_ = false;
  bool commandUnderWay_ = false;
  QWidget* filtered_ = nullptr;  // the window whose minimising is watched
};

}  // namespace qmx

// The main window's Serial tab: received radio data in three aligned columns
// (sender's network address, data, link quality) and the transmit panel that
// sends one data packet, once or repeatedly. The decisions live in
// mainwindow/serial_tab_logic.h; this class shows and gathers.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/result.h"
#include "mainwindow/received_rows.h"
#include "mainwindow/serial_tab_logic.h"

class QCheckBox;
class QComboBox;
class QHeaderView;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;

namespace qmx {

class CommandLayer;
class LinkSession;
class Prompter;
class ReceivedColumn;

class SerialTab : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColumnHeight = 296;
  static constexpr int kScrollBoxHeight = 289;
  static constexpr int kScrollRange = 294;
  static constexpr int kGrowStep = 15;  // also the mouse wheel's step
  // Rows the received view keeps: the oldest packets go once it holds more,
  // so that a tool left running on a busy network keeps a flat memory
  // footprint (the data log keeps everything). 5,000 rows are far more than
  // anyone scrolls back through.
  static constexpr std::size_t kMaxRows = 5000;

  // One received data packet, as the decoder reported it.
  struct ReceivedPacket {
    std::uint16_t address = 0;
    std::uint8_t lqi = 0;
    std::vector<std::uint8_t> data;
  };

  SerialTab(CommandLayer& commands, LinkSession& session, Prompter& prompter, QWidget* parent = nullptr);

  // Appends one received data packet to the columns.
  void ShowReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data);
  // Appends packets in order, with one edit of each column for all of them;
  // then drops the oldest whole packets beyond the row limit.
  void ShowReceivedBatch(std::span<const ReceivedPacket> packets);
  void SetMaxRows(std::size_t rows) { rows_.SetMaxRows(rows); }
  // Adds "0x" and four hex digits of a remote that joined to the destination
  // list unless the list holds that text; true (and DestinationsChanged)
  // when it was added.
  bool AddNetworkAddress(std::uint16_t address);
  QStringList Destinations() const;
  // Any complete frame arrived on the link.
  void FrameArrived();
  // Empties the three columns and sets the view back to its first size.
  void ClearColumns();
  // Ends a transmission: nothing armed, the button reads "Transmit".
  void StopTransmitting();
  TransmitSchedule::State TransmitState() const { return schedule_.Current(); }
  // Pauses the transmission after the send under way (the terminal holds
  // the port); true when one was armed or repeating. Resume() arms it again.
  bool PauseTransmitting();
  void ResumeTransmitting();
  // A command of this tab waits for its reply.
  bool CommandUnderWay() const { return commandUnderWay_; }
  // Lines held by each column.
  std::size_t Rows() const { return rows_.Size(); }
  // Packets shown since the program started (trimmed and cleared ones too).
  std::uint64_t PacketsShown() const { return packetsShown_; }

  // Receive view.
  QWidget* Panel3;
  QHeaderView* HeaderControl1;
  QScrollArea* ScrollBox1;
  ReceivedColumn* MACAddressRichEdit;
  ReceivedColumn* ReceivedDataRichEdit;
  ReceivedColumn* LQIRichEdit;
  QCheckBox* HexCheckBox;
  QCheckBox* ScrollRealTimeCheckBox;
  QPushButton* ClearButton;

  // Transmit panel.
  QWidget* Panel2;
  QLabel* PacketBuilderStaticText;
  QComboBox* NetworkAddrComboBox;
  QLineEdit* IntervalEdit;
  QLineEdit* TransmitEdit;
  QLabel* TransmitCountLabel;  // the bytes a transmission sends
  QLineEdit* TXStatusEdit;
  QLabel* TXStatusMeaningLabel;
  QLineEdit* LQIEdit;
  QCheckBox* DataCheckBox;
  QCheckBox* CRCheckBox;
  QPushButton* TransmitButton;
  QTimer* Timer1;

 public slots:
  void TransmitButtonClick();
  void Timer1Timer();
  void Clear1Click();
  void ScrollRealTimeCheckBoxClick();

 signals:
  // The command under way ended.
  void CommandsEnded();
  // The whole destination list, after an address was added to it.
  void DestinationsChanged(const QStringList& all);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildReceiveView();
  QWidget* BuildTransmitPanel();
  // Past the row limit: drops whole packets from the top.
  void TrimOldest();
  void RepaintColumns();
  void FitColumns();
  // Cuts the rows anew for a data column `dataWidth` pixels wide.
  void WrapRows(int dataWidth);
  // The columns' height: what their rows need, or the view's if more.
  void SetColumnHeight();
  void ScrollBy(int delta);
  void ScrollToEnd();
  // The destination typed or chosen; nothing, with a message, when the
  // text is no network address.
  std::optional<std::uint16_t> Destination();
  void ShowTransmitState();
  void ShowTransmitCount();
  // A paste into "Data to Transmit" that would be cut was refused.
  void PasteRefused();

  CommandLayer& commands_;
  LinkSession& session_;
  Prompter& prompter_;
  // Runs one command of this tab, marked as under way.
  template <typename Command>
  Done Run(Command command);

  TransmitSchedule schedule_;
  bool commandUnderWay_ = false;
  QWidget* columns_ = nullptr;  // the scroll box's content
  ReceivedRowsModel rows_{kMaxRows};  // what the three columns show
  int sideWidth_ = 0;     // the address and LQI columns
  int minDataWidth_ = 0;  // the data column at the first size
  std::uint64_t packetsShown_ = 0;
};

}  // namespace qmx

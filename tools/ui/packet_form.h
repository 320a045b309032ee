// The packet builder: pick one of the eight commands, fill in its fields,
// see the frame they make, send it through the command layer and read the
// reply's fields. The window only shows and gathers; the decisions are in
// tools/packet_builder.h.
#pragma once

#include <QDialog>
#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;
class QStatusBar;

namespace qmx {

class RadioLink;
class Prompter;
struct PacketFields;

class TPacketForm : public QDialog {
  Q_OBJECT

 public:
  TPacketForm(RadioLink& link, Prompter& prompter, QWidget* parent = nullptr);

  // A caption and its field, hidden and shown together.
  struct Row {
    QLabel* label = nullptr;
    QWidget* field = nullptr;
    void Show(bool on) const;
  };

  // Send page.
  QTabWidget* SendPacket;
  QWidget* UserDefinedPacket;
  QWidget* RawPacket;
  QComboBox* OPCodeComboBox;
  QComboBox* DeviceAddressComboBox;
  QLineEdit* RegisterEdit;
  QLineEdit* BankEdit;
  QLineEdit* SpanEdit;
  QLineEdit* DataEdit;
  // Beside "Value": a Span that differs from the bytes typed or that no
  // frame can carry.
  QLabel* DataNoteLabel;
  QPushButton* TransmitButton;
  Row NetworkAddressRow, RegisterRow, BankRow, SpanRow, ValueRow;
  // Raw view of the send page.
  Row RawStartRow, RawLengthRow, RawSequenceRow, RawTypeRow, RawNetworkAddressRow, RawRegisterRow, RawBankRow,
      RawSpanRow, RawDataRow;

  // Reply page.
  QTabWidget* ReadPacket;
  QWidget* PacketReply;
  QWidget* RawPacketReply;
  QComboBox* OPCodeReplyComboBox;
  QTextEdit* RichEdit1;
  Row ReplyStartRow, ReplyLengthRow, ReplySequenceRow, ReplyTypeRow, ReplyTxStatusRow, ReplyNetworkAddressRow,
      ReplyLqiRow, ReplyRegisterRow, ReplyBankRow, ReplySpanRow, ReplyDataRow;
  QStatusBar* StatusBar1;

  // A field's text.
  static QString Text(const Row& row);

 public slots:
  void FormShow();
  void SendPacketChange();
  void DataEditChange();
  void TransmitButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  PacketFields Fields() const;
  void ClearReplyFields();

  RadioLink& link_;
  Prompter& prompter_;
};

}  // namespace qmx

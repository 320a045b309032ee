#include "tools/ui/packet_form.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "link/frame.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/ui/busy_cursor.h"
#include "link/ui/window_fit.h"
#include "tools/packet_builder.h"

namespace qmx {

namespace {

QString FromStd(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Lays out captioned fields, one row each, in a grid on `page`.
class RowGrid {
 public:
  RowGrid(QWidget* page, bool boldCaptions) : page_(page), bold_(boldCaptions), grid_(new QGridLayout(page)) {
    grid_->setColumnStretch(1, 1);
  }
  TPacketForm::Row Add(const QString& caption, QWidget* field, const char* name) {
    auto* label = new QLabel(caption, page_);
    if (bold_) {
      QFont font = label->font();
      font.setBold(true);
      label->setFont(font);
    }
    label->setBuddy(field);
    field->setObjectName(name);
    label->setObjectName(QString(name) + "Label");
    // The captions' column keeps the width of the widest, shown or not.
    widest_ = std::max(widest_, label->sizeHint().width());
    grid_->setColumnMinimumWidth(0, widest_);
    grid_->addWidget(label, rows_, 0);
    grid_->addWidget(field, rows_, 1);
    ++rows_;
    return {label, field};
  }
  // A read-only text field.
  TPacketForm::Row AddView(const QString& caption, const char* name, const QString& text = {}) {
    auto* edit = new QLineEdit(text, page_);
    edit->setReadOnly(true);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QString(22, '0')));
    return Add(caption, edit, name);
  }
  QLineEdit* AddEdit(const QString& caption, const char* name, TPacketForm::Row& row) {
    auto* edit = new QLineEdit(page_);
    row = Add(caption, edit, name);
    return edit;
  }
  QGridLayout* grid() const { return grid_; }
  int rows() const { return rows_; }
  void Finish() { grid_->setRowStretch(rows_, 1); }

 private:
  QWidget* page_;
  bool bold_;
  QGridLayout* grid_;
  int rows_ = 0;
  int widest_ = 0;
};

// Shows the start of a text longer than its field.
void SetText(QLineEdit* edit, const QString& text) {
  edit->setText(text);
  edit->setCursorPosition(0);
}

void SetText(const TPacketForm::Row& row, const std::optional<std::string>& text) {
  if (text) SetText(static_cast<QLineEdit*>(row.field), QString::fromStdString(*text));
}

}  // namespace

void TPacketForm::Row::Show(bool on) const {
  label->setVisible(on);
  field->setVisible(on);
}

QString TPacketForm::Text(const Row& row) {
  if (auto* edit = qobject_cast<QLineEdit*>(row.field)) return edit->text();
  if (auto* box = qobject_cast<QComboBox*>(row.field)) return box->currentText();
  return {};
}

TPacketForm::TPacketForm(RadioLink& link, Prompter& prompter, QWidget* parent)
    : QDialog(parent), link_(link), prompter_(prompter) {
  setObjectName("TPacketForm");
  setWindowTitle("Packet Builder");

  // --- send page ---
  SendPacket = new QTabWidget(this);
  SendPacket->setObjectName("SendPacket");
  UserDefinedPacket = new QWidget;
  UserDefinedPacket->setObjectName("UserDefinedPacket");
  SendPacket->addTab(UserDefinedPacket, "Packet");
  {
    RowGrid g(UserDefinedPacket, false);
    OPCodeComboBox = new QComboBox(UserDefinedPacket);
    for (int i = 0; i < kPacketChoices; ++i) OPCodeComboBox->addItem(FromStd(PacketChoiceText(i)));
    g.Add("OP Code", OPCodeComboBox, "OPCodeComboBox");
    DeviceAddressComboBox = new QComboBox(UserDefinedPacket);
    DeviceAddressComboBox->setEditable(true);
    DeviceAddressComboBox->setEditText("0x0000");
    NetworkAddressRow = g.Add("Network Address", DeviceAddressComboBox, "DeviceAddressComboBox");
    RegisterEdit = g.AddEdit("Register", "RegisterEdit", RegisterRow);
    BankEdit = g.AddEdit("Bank", "BankEdit", BankRow);
    SpanEdit = g.AddEdit("Span", "SpanEdit", SpanRow);
    DataEdit = g.AddEdit("Value", "DataEdit", ValueRow);
    DataEdit->setToolTip("Data bytes in hexadecimal, separated by blanks, for example 01 A2 3");
    DataNoteLabel = new QLabel(UserDefinedPacket);
    DataNoteLabel->setObjectName("DataNoteLabel");
    DataNoteLabel->setWordWrap(true);
    DataNoteLabel->setStyleSheet("color: #a33a00;");
    g.grid()->addWidget(DataNoteLabel, g.rows(), 1);
    TransmitButton = new QPushButton("Transmit", UserDefinedPacket);
    TransmitButton->setObjectName("TransmitButton");
    g.grid()->addWidget(TransmitButton, g.rows() + 1, 1, Qt::AlignRight);
    g.grid()->setRowStretch(g.rows() + 2, 1);
  }
  RawPacket = new QWidget;
  RawPacket->setObjectName("RawPacket");
  SendPacket->addTab(RawPacket, "Raw Packet");
  {
    RowGrid g(RawPacket, true);
    RawStartRow = g.AddView("Start of Packet", "RawStartOfPacketEdit", "0xFB");
    RawLengthRow = g.AddView("Packet Length", "RawPacketLengthEdit", "0x00");
    RawSequenceRow = g.AddView("Sequence Number", "RawSequenceNumberEdit", "0x00");
    RawTypeRow = g.AddView("Packet Type", "RawPacketTypeEdit", "0x00");
    RawNetworkAddressRow = g.AddView("Network Address", "RawNetworkAddressEdit", "0x0000");
    RawRegisterRow = g.AddView("Register", "RawRegisterEdit", "0x00");
    RawBankRow = g.AddView("Bank", "RawBankEdit", "0x00");
    RawSpanRow = g.AddView("Span", "RawSpanEdit", "0x0000");
    RawDataRow = g.AddView("Data", "RawDataEdit", "0x0000000000000000");
    g.Finish();
  }

  // --- reply page ---
  ReadPacket = new QTabWidget(this);
  ReadPacket->setObjectName("ReadPacket");
  PacketReply = new QWidget;
  PacketReply->setObjectName("PacketReply");
  ReadPacket->addTab(PacketReply, "Packet Reply");
  {
    auto* v = new QVBoxLayout(PacketReply);
    auto* top = new QHBoxLayout;
    OPCodeReplyComboBox = new QComboBox(PacketReply);
    OPCodeReplyComboBox->setObjectName("OPCodeReplyComboBox");
    for (int i = 0; i < kReplyChoices; ++i) OPCodeReplyComboBox->addItem(FromStd(ReplyChoiceText(i)));
    OPCodeReplyComboBox->setEnabled(false);
    auto* label = new QLabel("OP Code", PacketReply);
    label->setBuddy(OPCodeReplyComboBox);
    top->addWidget(label);
    top->addWidget(OPCodeReplyComboBox, 1);
    v->addLayout(top);
    RichEdit1 = new QTextEdit(PacketReply);
    RichEdit1->setObjectName("RichEdit1");
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    v->addWidget(RichEdit1, 1);
  }
  RawPacketReply = new QWidget;
  RawPacketReply->setObjectName("RawPacketReply");
  ReadPacket->addTab(RawPacketReply, "Raw Packet Reply");
  {
    RowGrid g(RawPacketReply, true);
    ReplyStartRow = g.AddView("Start of Packet", "ReplyStartOfPacketEdit");
    ReplyLengthRow = g.AddView("Packet Length", "ReplyPacketLengthEdit");
    ReplySequenceRow = g.AddView("Sequence Number", "ReplySequenceNumberEdit");
    ReplyTypeRow = g.AddView("Packet Type Reply", "ReplyPacketTypeEdit");
    ReplyTxStatusRow = g.AddView("TX Status", "ReplyTxStatusEdit");
    ReplyNetworkAddressRow = g.AddView("Network Address", "ReplyNetworkAddressEdit");
    ReplyLqiRow = g.AddView("LQI", "ReplyLqiEdit");
    ReplyRegisterRow = g.AddView("Register", "ReplyRegisterEdit");
    ReplyBankRow = g.AddView("Bank", "ReplyBankEdit");
    ReplySpanRow = g.AddView("Span", "ReplySpanEdit");
    ReplyDataRow = g.AddView("Data", "ReplyDataEdit");
    g.Finish();
  }

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);

  auto* pages = new QHBoxLayout;
  pages->addWidget(SendPacket, 1);
  pages->addWidget(ReadPacket, 1);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* margins = new QVBoxLayout;
  margins->setContentsMargins(8, 8, 8, 0);
  margins->addLayout(pages);
  outer->addLayout(margins);
  outer->addWidget(StatusBar1);
  // Fixed border, sized with every field shown so that hiding some never
  // moves the window's edges.
  setFixedSize(sizeHint());

  // What shows at start: on the send page only the OP Code and Transmit.
  for (const Row* r : {&NetworkAddressRow, &RegisterRow, &BankRow, &SpanRow, &ValueRow, &RawNetworkAddressRow,
                       &RawRegisterRow, &RawBankRow, &RawSpanRow, &ReplyTxStatusRow, &ReplyNetworkAddressRow,
                       &ReplyLqiRow, &ReplyRegisterRow, &ReplyBankRow, &ReplySpanRow, &ReplyDataRow})
    r->Show(false);

  connect(OPCodeComboBox, &QComboBox::currentIndexChanged, this, &TPacketForm::SendPacketChange);
  connect(SendPacket, &QTabWidget::currentChanged, this, &TPacketForm::SendPacketChange);
  connect(ReadPacket, &QTabWidget::currentChanged, this, &TPacketForm::SendPacketChange);
  connect(DataEdit, &QLineEdit::textChanged, this, &TPacketForm::DataEditChange);
  connect(SpanEdit, &QLineEdit::textChanged, this, &TPacketForm::DataEditChange);
  connect(TransmitButton, &QPushButton::clicked, this, &TPacketForm::TransmitButtonClick);
}

void TPacketForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOverParent(*this);
  FormShow();
}

void TPacketForm::FormShow() {
  SendPacket->setCurrentIndex(0);
  ReadPacket->setCurrentIndex(0);
}

PacketFields TPacketForm::Fields() const {
  return {RegisterEdit->text().toStdString(), BankEdit->text().toStdString(), SpanEdit->text().toStdString(),
          DeviceAddressComboBox->currentText().toStdString(), DataEdit->text().toStdString()};
}

void TPacketForm::DataEditChange() {
  DataNoteLabel->setText(FromStd(PlanPacket(OPCodeComboBox->currentIndex(), Fields()).note));
}

void TPacketForm::SendPacketChange() {
  const int choice = OPCodeComboBox->currentIndex();
  OPCodeReplyComboBox->setCurrentIndex(choice);

  const PacketFieldsShown s = FieldsShownFor(choice);
  for (const Row* r : {&RegisterRow, &BankRow, &SpanRow}) r->Show(s.registerBankSpan);
  ValueRow.Show(s.value);
  NetworkAddressRow.Show(s.networkAddress);
  for (const Row* r : {&RawRegisterRow, &RawBankRow, &RawSpanRow}) r->Show(s.rawRegisterBankSpan);
  RawNetworkAddressRow.Show(s.rawNetworkAddress);
  RawDataRow.Show(s.rawData);
  for (const Row* r : {&ReplyRegisterRow, &ReplyBankRow, &ReplySpanRow}) r->Show(s.replyRegisterBankSpan);
  ReplyTxStatusRow.Show(s.replyTxStatus);
  ReplyNetworkAddressRow.Show(s.replyNetworkAddress);
  ReplyLqiRow.Show(s.replyLqi);
  ReplyDataRow.Show(s.replyData);

  const PacketPlan plan = PlanPacket(choice, Fields());
  DataNoteLabel->setText(FromStd(plan.note));
  // The number the next command takes, which Transmit's frame will carry.
  const RawPacketView v = ComputeRawView(choice, plan, SequenceAfter(link_.sequence.Current()));
  // A row a field, like the reply's rows in TransmitButtonClick: each shows its own value.
  SetText(RawLengthRow, v.length);
  SetText(RawDataRow, v.data);
  SetText(RawSequenceRow, v.sequence);
  SetText(RawTypeRow, v.type);
  SetText(RawNetworkAddressRow, v.networkAddress);
  SetText(RawRegisterRow, v.reg);
  SetText(RawBankRow, v.bank);
  SetText(RawSpanRow, v.span);
}

void TPacketForm::ClearReplyFields() {
  for (const Row* r : {&ReplyStartRow, &ReplyLengthRow, &ReplySequenceRow, &ReplyTypeRow, &ReplyRegisterRow,
                       &ReplyNetworkAddressRow, &ReplyDataRow, &ReplyLqiRow, &ReplyTxStatusRow})
    static_cast<QLineEdit*>(r->field)->clear();
}

void TPacketForm::TransmitButtonClick() {
  std::optional<BusyCursor> busy(std::in_place);
  RichEdit1->clear();
  ClearReplyFields();
  const int choice = OPCodeComboBox->currentIndex();
  // The record the raw view shows.
  const PacketPlan plan = PlanPacket(choice, Fields());
  if (plan.refusal) {
    busy.reset();
    prompter_.Message(plan.refusal->text, plan.refusal->caption);
    return;
  }
  // The window stays live while the command waits: a second press must not
  // start another command inside this one.
  TransmitButton->setEnabled(false);
  const TransmitResult r = CallPacketCommand(link_.commands, choice, plan.record);
  // The number the command used last (a retry takes a new one).
  const std::uint8_t used = link_.sequence.Current();
  TransmitButton->setEnabled(true);
  if (r.failure) {
    busy.reset();
    prompter_.Message(r.failure->text, r.failure->caption);
    return;
  }
  SetText(ReplyLengthRow, r.length);
  SetText(ReplyTypeRow, r.type);
  SetText(ReplyTxStatusRow, r.txStatus);
  SetText(ReplyNetworkAddressRow, r.networkAddress);
  SetText(ReplyLqiRow, r.lqi);
  SetText(ReplyRegisterRow, r.reg);
  SetText(ReplyBankRow, r.bank);
  SetText(ReplySpanRow, r.span);
  SetText(ReplyDataRow, r.data);
  for (const std::string& line : r.log) RichEdit1->append(QString::fromStdString(line));

  // The raw view moves on to the frame a next Transmit writes.
  SendPacketChange();
  SetText(static_cast<QLineEdit*>(ReplyStartRow.field), Text(RawStartRow));
  SetText(static_cast<QLineEdit*>(ReplySequenceRow.field), FromStd(PacketHex(used)));
}

}  // namespace qmx

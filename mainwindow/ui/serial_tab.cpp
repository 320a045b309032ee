#include "mainwindow/ui/serial_tab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTimer>
#include <QValidator>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <functional>

#include "link/failure_text.h"
#include "link/command_layer.h"
#include "link/decoder.h"
#include "link/number_text.h"
#include "link/packet.h"
#include "link/link_session.h"
#include "link/prompter.h"
#include "mainwindow/ui/received_column.h"
#include "mainwindow/ui/title_font.h"

namespace qmx {

namespace {

// Every character as wide as any other: what the font database calls fixed
// pitch is not always so, and some monospace fonts are not flagged as such.
bool Monospace(const QFont& font) {
  const QFontMetrics m(font);
  return m.horizontalAdvance(QString(10, 'i')) == m.horizontalAdvance(QString(10, 'W'));
}

// Courier New 12 pixels, or a monospace font of that size where it is
// missing: the data column's lines are measured in characters.
QFont ColumnFont() {
  QFont f("Courier New");
  f.setStyleHint(QFont::Monospace);
  f.setPixelSize(12);
  for (const char* family : {"DejaVu Sans Mono", "Liberation Mono", "Noto Sans Mono"}) {
    if (Monospace(f)) break;
    f.setFamily(family);
  }
  if (!Monospace(f)) {
    f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(12);
  }
  return f;
}

// Shows the keyboard focus on a plain box frame, which the style does not:
// the frame takes the highlight colour while its widget has the focus.
class FocusFrame : public QObject {
 public:
  explicit FocusFrame(QFrame* frame) : QObject(frame) {
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
    frame->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
      auto* frame = static_cast<QFrame*>(watched);
      QPalette p = frame->palette();
      p.setColor(QPalette::WindowText, event->type() == QEvent::FocusIn
                                           ? p.color(QPalette::Highlight)
                                           : frame->parentWidget()->palette().color(QPalette::WindowText));
      frame->setPalette(p);
    }
    return false;
  }
};

ReceivedColumn* MakeColumn(ReceivedRowsModel& rows, ReceivedColumn::Field field, Qt::Alignment alignment,
                           QWidget* parent, const char* name) {
  auto* column = new ReceivedColumn(rows, field, alignment, parent);
  column->setObjectName(name);
  new FocusFrame(column);
  column->setFont(ColumnFont());
  return column;
}

// Keeps "Data to Transmit" within its characters. Typing stops at the
// limit; a paste (or drop) that would be cut is refused whole and reported,
// rather than cut short without a word.
class TransmitTextValidator : public QValidator {
 public:
  TransmitTextValidator(QLineEdit* edit, std::function<void()> refused)
      : QValidator(edit), edit_(edit), refused_(std::move(refused)), before_(edit->text().size()) {
    // The edit holds the changed text while it is validated: the length
    // before the change is kept here.
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { before_ = text.size(); });
  }
  State validate(QString& input, int&) const override {
    if (input.size() <= kMaxTransmitChars || input.size() <= before_) return Acceptable;
    if (input.size() > before_ + 1) QMetaObject::invokeMethod(edit_, refused_, Qt::QueuedConnection);
    return Invalid;
  }

 private:
  QLineEdit* edit_;
  std::function<void()> refused_;
  qsizetype before_;
};

}  // namespace

SerialTab::SerialTab(CommandLayer& commands, LinkSession& session, Prompter& prompter, QWidget* parent)
    : QWidget(parent), commands_(commands), session_(session), prompter_(prompter) {
  setObjectName("Serial");
  auto* layout = new QVBoxLayout(this);
  // The received view takes what the window gives beyond its first size.
  layout->addWidget(BuildReceiveView(), 1);
  layout->addWidget(BuildTransmitPanel());

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, &SerialTab::Timer1Timer);
  connect(TransmitButton, &QPushButton::clicked, this, &SerialTab::TransmitButtonClick);
  connect(TransmitEdit, &QLineEdit::returnPressed, TransmitButton, &QPushButton::click);
  connect(TransmitEdit, &QLineEdit::textChanged, this, &SerialTab::ShowTransmitCount);
  for (QCheckBox* box : {DataCheckBox, CRCheckBox}) connect(box, &QCheckBox::toggled, this, &SerialTab::ShowTransmitCount);
  ShowTransmitCount();
  connect(ClearButton, &QPushButton::clicked, this, &SerialTab::Clear1Click);
  connect(ScrollRealTimeCheckBox, &QCheckBox::clicked, this, &SerialTab::ScrollRealTimeCheckBoxClick);
  for (ReceivedColumn* column : {ReceivedDataRichEdit, LQIRichEdit}) column->installEventFilter(this);
}

QWidget* SerialTab::BuildReceiveView() {
  Panel3 = new QWidget(this);
  Panel3->setObjectName("Panel3");
  auto* layout = new QVBoxLayout(Panel3);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  using Field = ReceivedColumn::Field;
  MACAddressRichEdit = MakeColumn(rows_, Field::Address, Qt::AlignHCenter, Panel3, "MACAddressRichEdit");
  ReceivedDataRichEdit = MakeColumn(rows_, Field::Data, Qt::AlignLeft, Panel3, "ReceivedDataRichEdit");
  LQIRichEdit = MakeColumn(rows_, Field::Lqi, Qt::AlignHCenter, Panel3, "LQIRichEdit");
  // A selection covers whole rows of all three columns.
  for (ReceivedColumn* column : {MACAddressRichEdit, ReceivedDataRichEdit, LQIRichEdit})
    connect(column, &ReceivedColumn::SelectionChanged, this, &SerialTab::RepaintColumns);

  // Column widths as designed, wider where the headings or the longest data
  // line would not fit (fonts differ between systems).
  auto* model = new QStandardItemModel(0, 4, Panel3);
  model->setHorizontalHeaderLabels({"Nework Addr", "Received Data", "LQI", ""});
  for (int i = 0; i < 2; ++i)
    model->setHeaderData(i, Qt::Horizontal, QVariant::fromValue(Qt::AlignCenter), Qt::TextAlignmentRole);
  HeaderControl1 = new QHeaderView(Qt::Horizontal, Panel3);
  HeaderControl1->setObjectName("HeaderControl1");
  HeaderControl1->setModel(model);
  HeaderControl1->setSectionsClickable(false);
  HeaderControl1->setSectionResizeMode(QHeaderView::Fixed);
  const QFontMetrics headerMetrics(HeaderControl1->font());
  const QFontMetrics dataMetrics(ReceivedDataRichEdit->font());
  const int chrome = 2 * (ReceivedColumn::kMargin + ReceivedDataRichEdit->frameWidth()) + 4;
  const int fit[] = {headerMetrics.horizontalAdvance("Nework Addr") + 16,
                     std::max(headerMetrics.horizontalAdvance("Received Data") + 16,
                              dataMetrics.horizontalAdvance(QString(static_cast<qsizetype>(kFirstRowChars), '0')) + chrome),
                     std::max(headerMetrics.horizontalAdvance("LQI") + 16,
                              dataMetrics.horizontalAdvance("0xFF") + chrome + 6)};
  const int designed[] = {75, 535, 40};
  ReceivedColumn* columns[] = {MACAddressRichEdit, ReceivedDataRichEdit, LQIRichEdit};
  int total = 0;
  for (int i = 0; i < 3; ++i) {
    const int width = std::max(designed[i], fit[i]);
    HeaderControl1->resizeSection(i, width);
    columns[i]->setFixedSize(width, kColumnHeight);
    total += width;
  }
  HeaderControl1->resizeSection(3, 50);
  sideWidth_ = MACAddressRichEdit->width() + LQIRichEdit->width();
  minDataWidth_ = ReceivedDataRichEdit->width();

  columns_ = new QWidget;
  columns_->setObjectName("ScrollBox1Content");
  auto* row = new QHBoxLayout(columns_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  for (ReceivedColumn* column : columns) row->addWidget(column);
  columns_->setFixedSize(total, kColumnHeight);

  ScrollBox1 = new QScrollArea(Panel3);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  new FocusFrame(ScrollBox1);
  ScrollBox1->verticalScrollBar()->setSingleStep(kGrowStep);
  ScrollBox1->setWidget(columns_);
  const int frame = ScrollBox1->frameWidth();
  // Its first size at least; the data column takes any width beyond it, and
  // the columns fill any height beyond their rows.
  ScrollBox1->setMinimumSize(total + ScrollBox1->verticalScrollBar()->sizeHint().width() + 2 * frame,
                             kScrollBoxHeight);
  ScrollBox1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  ScrollBox1->viewport()->installEventFilter(this);
  HeaderControl1->setFixedHeight(HeaderControl1->sizeHint().height());
  HeaderControl1->setMinimumWidth(ScrollBox1->minimumWidth() - frame);

  auto* headerRow = new QHBoxLayout;
  headerRow->setContentsMargins(frame, 0, 0, 0);
  headerRow->addWidget(HeaderControl1, 1);
  layout->addLayout(headerRow);
  layout->addWidget(ScrollBox1, 1);

  auto* options = new QHBoxLayout;
  options->setContentsMargins(0, 6, 0, 0);
  HexCheckBox = new QCheckBox("Hex Mode", Panel3);
  HexCheckBox->setObjectName("HexCheckBox");
  HexCheckBox->setChecked(true);
  ScrollRealTimeCheckBox = new QCheckBox("Scroll RealTime", Panel3);
  ScrollRealTimeCheckBox->setObjectName("ScrollRealTimeCheckBox");
  ClearButton = new QPushButton("Clear Screen", Panel3);
  ClearButton->setObjectName("ClearButton");
  options->addWidget(HexCheckBox);
  options->addSpacing(12);
  options->addWidget(ScrollRealTimeCheckBox);
  options->addStretch(1);
  options->addWidget(ClearButton);
  layout->addLayout(options);
  return Panel3;
}

QWidget* SerialTab::BuildTransmitPanel() {
  auto* panel = new QGroupBox(this);
  Panel2 = panel;
  panel->setObjectName("Panel2");
  auto* p = new QVBoxLayout(panel);
  p->setContentsMargins(8, 4, 8, 6);
  PacketBuilderStaticText = new QLabel("Packet Builder", panel);
  PacketBuilderStaticText->setObjectName("PacketBuilderStaticText");
  PacketBuilderStaticText->setFont(TitleFont());
  p->addWidget(PacketBuilderStaticText, 0, Qt::AlignHCenter);

  NetworkAddrComboBox = new QComboBox(panel);
  NetworkAddrComboBox->setObjectName("NetworkAddrComboBox");
  NetworkAddrComboBox->setEditable(true);
  NetworkAddrComboBox->setInsertPolicy(QComboBox::NoInsert);
  NetworkAddrComboBox->setMinimumContentsLength(6);
  IntervalEdit = new QLineEdit("0", panel);
  IntervalEdit->setObjectName("IntervalEdit");
  TransmitEdit = new QLineEdit("This is a test", panel);
  TransmitEdit->setObjectName("TransmitEdit");
  TransmitEdit->setValidator(new TransmitTextValidator(TransmitEdit, [this] { PasteRefused(); }));
  TransmitCountLabel = new QLabel(panel);
  TransmitCountLabel->setObjectName("TransmitCountLabel");
  // The count takes the room its text needs (a bad token's name is longer
  // than a count); the data field never shrinks below a few bytes' worth.
  TransmitEdit->setMinimumWidth(TransmitEdit->fontMetrics().horizontalAdvance(QString(16, '0')));
  TXStatusEdit = new QLineEdit(panel);
  TXStatusEdit->setObjectName("TXStatusEdit");
  TXStatusEdit->setReadOnly(true);
  TXStatusMeaningLabel = new QLabel(panel);
  TXStatusMeaningLabel->setObjectName("TXStatusMeaningLabel");
  // As wide as its longest text, so the row never moves.
  TXStatusMeaningLabel->setMinimumWidth(TXStatusMeaningLabel->fontMetrics().horizontalAdvance(
      QString::fromLatin1(txstatus::Meaning(txstatus::NoAcknowledgement))));
  LQIEdit = new QLineEdit(panel);
  LQIEdit->setObjectName("LQIEdit");
  LQIEdit->setReadOnly(true);
  auto* fields = new QGridLayout;
  fields->setVerticalSpacing(2);
  const std::pair<const char*, QWidget*> cells[] = {{"Network Addr", NetworkAddrComboBox},
                                                    {"Interval (sec)", IntervalEdit},
                                                    {"Data to Transmit", TransmitEdit},
                                                    {"TX Status", TXStatusEdit},
                                                    {"ACK LQI", LQIEdit}};
  int column = 0;
  for (const auto& [label, widget] : cells) {
    fields->addWidget(new QLabel(label, panel), 0, column);
    if (widget == TransmitEdit || widget == TXStatusEdit) {
      // The field with its note beside it.
      auto* cell = new QHBoxLayout;
      cell->setSpacing(4);
      cell->addWidget(widget, widget == TransmitEdit ? 1 : 0);
      cell->addWidget(widget == TransmitEdit ? TransmitCountLabel : TXStatusMeaningLabel);
      fields->addLayout(cell, 1, column);
    } else {
      fields->addWidget(widget, 1, column);
    }
    ++column;
  }
  fields->setColumnStretch(2, 1);
  IntervalEdit->setMaximumWidth(90);
  TXStatusEdit->setMaximumWidth(70);
  LQIEdit->setMaximumWidth(70);
  // A long note beside "Data to Transmit" never squeezes the status below
  // its text.
  for (QLineEdit* edit : {TXStatusEdit, LQIEdit}) edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("0x00") + 16);
  p->addLayout(fields);

  auto* sendRow = new QHBoxLayout;
  DataCheckBox = new QCheckBox("Data in ASCII", panel);
  DataCheckBox->setObjectName("DataCheckBox");
  DataCheckBox->setChecked(true);
  CRCheckBox = new QCheckBox("Append CR", panel);
  CRCheckBox->setObjectName("CRCheckBox");
  TransmitButton = new QPushButton("Transmit", panel);
  TransmitButton->setObjectName("TransmitButton");
  // Wide enough for "Stop" and "Transmit" alike, so the row never moves.
  TransmitButton->setMinimumWidth(TransmitButton->sizeHint().width());
  sendRow->addWidget(DataCheckBox);
  sendRow->addSpacing(12);
  sendRow->addWidget(CRCheckBox);
  sendRow->addStretch(1);
  sendRow->addWidget(TransmitButton);
  p->addLayout(sendRow);
  return panel;
}

// --- Receive view ----------------------------------------------------------

void SerialTab::ShowReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) {
  const ReceivedPacket packet{address, lqi, std::vector<std::uint8_t>(data.begin(), data.end())};
  ShowReceivedBatch(std::span(&packet, 1));
}

void SerialTab::ShowReceivedBatch(std::span<const ReceivedPacket> packets) {
  if (packets.empty()) return;
  const bool hex = HexCheckBox->isChecked();
  for (const ReceivedPacket& p : packets) rows_.Append(LayOutReceived(p.address, p.lqi, p.data, hex));
  packetsShown_ += packets.size();
  TrimOldest();
  // Painted with the next frame of the screen, the rows in view only.
  RepaintColumns();
  SetColumnHeight();
  if (ScrollRealTimeCheckBox->isChecked()) ScrollToEnd();
}

void SerialTab::TrimOldest() {
  const std::size_t drop = rows_.TrimOldest();
  if (drop == 0) return;
  // The rows in view stay in view.
  if (!ScrollRealTimeCheckBox->isChecked()) ScrollBy(-kGrowStep * static_cast<int>(drop));
}

void SerialTab::RepaintColumns() {
  for (ReceivedColumn* column : {MACAddressRichEdit, ReceivedDataRichEdit, LQIRichEdit}) column->update();
}

// The columns as wide as the scroll box's viewport (the data column takes
// the rest, its rows as long as it has room for), and as high as their rows
// need or the viewport, whichever is more.
void SerialTab::FitColumns() {
  const int data = std::max(minDataWidth_, ScrollBox1->viewport()->width() - sideWidth_);
  ReceivedDataRichEdit->setFixedWidth(data);
  HeaderControl1->resizeSection(1, data);
  columns_->setFixedWidth(sideWidth_ + data);
  WrapRows(data);
  SetColumnHeight();
}

void SerialTab::WrapRows(int dataWidth) {
  // The first width shows the first row length; every character's width
  // beyond it one more.
  const qreal advance = QFontMetricsF(ReceivedDataRichEdit->font()).horizontalAdvance(QChar('0'));
  const auto more = advance > 0 ? static_cast<std::size_t>(std::max(0.0, (dataWidth - minDataWidth_) / advance)) : 0;
  QScrollBar* bar = ScrollBox1->verticalScrollBar();
  // The packet at the top of the view stays there.
  std::optional<ReceivedRowsModel::PacketNumber> top;
  if (rows_.Size() > 0) top = rows_.PacketOf(ReceivedDataRichEdit->RowAt(ReceivedDataRichEdit->RowTop(0) + bar->value()));
  if (!rows_.Wrap(kFirstRowChars + more)) return;
  RepaintColumns();
  SetColumnHeight();
  if (ScrollRealTimeCheckBox->isChecked())
    ScrollToEnd();
  else if (top)
    bar->setValue(ReceivedDataRichEdit->RowTop(rows_.FirstRowOf(*top)) - ReceivedDataRichEdit->RowTop(0));
}

void SerialTab::SetColumnHeight() {
  const int needed = kColumnHeight + kGrowStep * static_cast<int>(ViewGrowths(rows_.Size()));
  const int height = std::max(needed, ScrollBox1->viewport()->height());
  QScrollBar* bar = ScrollBox1->verticalScrollBar();
  const int range = std::max(0, height - ScrollBox1->viewport()->height());
  // Under a flood most batches leave the height as it was: no new geometry,
  // no layout.
  if (height == columns_->height() && bar->maximum() == range) return;
  for (ReceivedColumn* column : {MACAddressRichEdit, ReceivedDataRichEdit, LQIRichEdit}) column->setFixedHeight(height);
  columns_->setFixedHeight(height);
  // The scroll box learns the new size from a resize event, which a hidden
  // tab only gets when shown: set its range now.
  bar->setRange(0, range);
}

void SerialTab::ScrollBy(int delta) {
  QScrollBar* bar = ScrollBox1->verticalScrollBar();
  bar->setValue(bar->value() + delta);
}

void SerialTab::ScrollToEnd() {
  QScrollBar* bar = ScrollBox1->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void SerialTab::ClearColumns() {
  rows_.Clear();
  RepaintColumns();
  SetColumnHeight();
}

void SerialTab::Clear1Click() {
  ClearColumns();
  ReceivedDataRichEdit->setFocus();
}

// Following the data moves the view only: the keyboard focus stays where
// the user put it, so that typing never lands in the data view.
void SerialTab::ScrollRealTimeCheckBoxClick() {
  if (ScrollRealTimeCheckBox->isChecked()) ScrollToEnd();
}

void SerialTab::FrameArrived() {
  if (ScrollRealTimeCheckBox->isChecked()) ScrollToEnd();
}

bool SerialTab::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ScrollBox1->viewport() && event->type() == QEvent::Resize) FitColumns();
  if (event->type() == QEvent::Wheel &&
      (watched == ReceivedDataRichEdit || watched == LQIRichEdit)) {
    const int turn = static_cast<QWheelEvent*>(event)->angleDelta().y();
    if (turn != 0) ScrollBy(turn < 0 ? kGrowStep : -kGrowStep);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

// --- Destination list --------------------------------------------------------

bool SerialTab::AddNetworkAddress(std::uint16_t address) {
  const QString text = QString::fromStdString(NetworkAddressText(address));
  if (NetworkAddrComboBox->findText(text) >= 0) return false;
  // Adding an item may select it; the address typed stays.
  const QString typed = NetworkAddrComboBox->currentText();
  NetworkAddrComboBox->addItem(text);
  NetworkAddrComboBox->setEditText(typed);
  emit DestinationsChanged(Destinations());
  return true;
}

QStringList SerialTab::Destinations() const {
  QStringList all;
  for (int i = 0; i < NetworkAddrComboBox->count(); ++i) all << NetworkAddrComboBox->itemText(i);
  return all;
}

// --- Transmission -------------------------------------------------------------

void SerialTab::ShowTransmitState() { TransmitButton->setText(schedule_.ShowsStop() ? "Stop" : "Transmit"); }

template <typename Command>
Done SerialTab::Run(Command command) {
  commandUnderWay_ = true;
  Done result = command();
  commandUnderWay_ = false;
  emit CommandsEnded();
  return result;
}

std::optional<std::uint16_t> SerialTab::Destination() {
  const std::string text = NetworkAddrComboBox->currentText().toStdString();
  const std::optional<std::uint16_t> address = NetworkAddressFromText(text);
  if (!address) prompter_.Message(NetworkAddressProblem(text), kNetworkAddressCaption);
  return address;
}

void SerialTab::TransmitButtonClick() {
  // A transmission to no address never starts: nothing is sent, not even
  // the protocol-mode command. "Stop" always stops.
  if (!schedule_.ShowsStop() && !Destination()) return;
  if (!Run([this] { return session_.EnterProtocolMode(kUsualReplyWait, false); })) {
    ShowFailure(prompter_, FailureOf(Operation::EnterProtocolMode, Status::NoReply, Variant::TryAgain));
    return;
  }
  if (const auto ms = schedule_.Press(IntervalEdit->text().toStdString())) Timer1->start(*ms);
  ShowTransmitState();
}

void SerialTab::Timer1Timer() {
  Timer1->stop();
  schedule_.Fired();
  // The address may have changed while repeating: a bad one ends the
  // repetition as invalid data does.
  const std::optional<std::uint16_t> destination = Destination();
  if (!destination) return;
  PacketRecord rec;
  rec.NetworkAddress = *destination;
  // One byte per character, as the settings file stores the text.
  const auto data =
      TransmitData(TransmitEdit->text().toLatin1().toStdString(), DataCheckBox->isChecked(), CRCheckBox->isChecked());
  if (!data.ok()) {
    prompter_.Message("Invalid data.  Please check data and try again.", "Invalid Data");
    return;
  }
  const std::size_t count = std::min(data.bytes.size(), rec.Data.size());
  std::copy_n(data.bytes.begin(), count, rec.Data.begin());
  rec.Length = static_cast<std::uint8_t>(count);
  if (!Run([&] { return commands_.TxData(rec); })) {
    ShowFailure(prompter_, FailureOf(Operation::TxData));
    return;
  }
  LQIEdit->setText(QString::fromStdString(HexText(rec.Lqi, 2)));
  TXStatusEdit->setText(QString::fromStdString(HexText(rec.TxStatus, 2)));
  TXStatusMeaningLabel->setText(QString::fromLatin1(txstatus::Meaning(rec.TxStatus)));
  if (const auto ms = schedule_.Sent(IntervalEdit->text().toStdString())) Timer1->start(*ms);
}

void SerialTab::ShowTransmitCount() {
  TransmitCountLabel->setText(QString::fromStdString(TransmitCountText(
      TransmitEdit->text().toLatin1().toStdString(), DataCheckBox->isChecked(), CRCheckBox->isChecked())));
}

void SerialTab::PasteRefused() {
  prompter_.Message("Pasted text too long.  Data to Transmit holds at most 80 characters.", "Paste Refused");
}

bool SerialTab::PauseTransmitting() {
  Timer1->stop();
  return schedule_.Pause();
}

void SerialTab::ResumeTransmitting() {
  if (const auto ms = schedule_.Resume(IntervalEdit->text().toStdString())) Timer1->start(*ms);
}

void SerialTab::StopTransmitting() {
  Timer1->stop();
  schedule_.Stop();
  ShowTransmitState();
}

}  // namespace qmx

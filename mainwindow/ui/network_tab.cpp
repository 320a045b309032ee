#include "mainwindow/ui/network_tab.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QEventLoop>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "link/command_layer.h"
#include "link/decoder.h"
#include "link/file_to_write.h"
#include "link/prompter.h"
#include "link/workdir.h"
#include "link/ui/busy_cursor.h"
#include "tools/diag_measure.h"

namespace qmx {

namespace {

constexpr int kAgeTickMs = 1000;
constexpr int kLineWidth = 90;
constexpr const char* kExportCaption = "Export";

// Lets `ms` pass with the windows alive.
void PauseWithEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

// ---------------------------------------------------------------------------
// The model

NetworkModel::NetworkModel(net::NodeTable& table, net::NameBook& names, const TimeSource& clock, QObject* parent)
    : QAbstractTableModel(parent), table_(table), names_(names), clock_(clock) {}

int NetworkModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int NetworkModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kNetColumns; }

std::optional<std::string> NetworkModel::NameOf(const net::Node& node) const {
  if (!node.mac) return std::nullopt;
  return names_.NameOf(*node.mac);
}

QVariant NetworkModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const net::Node& node = NodeAt(index.row());
  const auto column = static_cast<NetColumn>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      if (column == NetColumn::LqiLine) return {};  // drawn
      return QString::fromStdString(NodeCellText(node, column, NameOf(node), clock_.Now()));
    case Qt::EditRole:
      return QString::fromStdString(NameOf(node).value_or(""));
    case Qt::ToolTipRole:
      if (column == NetColumn::Address || column == NetColumn::Name) {
        if (auto name = NameOf(node)) return QString::fromStdString(AddressWithName(node.address, name));
        if (node.mac && column == NetColumn::Name) return "Double-click to name this radio";
      }
      if (column == NetColumn::LqiLine)
        return QString::fromStdString(NodeCellText(node, column, std::nullopt, clock_.Now()));
      return {};
    case Qt::TextAlignmentRole:
      if (column == NetColumn::Frames || column == NetColumn::LastLqi || column == NetColumn::FirstSeen ||
          column == NetColumn::LastHeard)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::FontRole:
      if (node.base) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return {};
    case Qt::ForegroundRole:
      if (node.state == net::NodeState::Left) return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
      return {};
    default:
      return {};
  }
}

QVariant NetworkModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return QString(NetColumnTitle(static_cast<NetColumn>(section)));
}

Qt::ItemFlags NetworkModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && static_cast<NetColumn>(index.column()) == NetColumn::Name && NodeAt(index.row()).mac)
    f |= Qt::ItemIsEditable;
  return f;
}

bool NetworkModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
  const net::Node& node = NodeAt(index.row());
  const bool saved = names_.Set(*node.mac, value.toString().trimmed().toStdString());
  emit dataChanged(this->index(index.row(), 0), this->index(index.row(), kNetColumns - 1));
  emit NameChanged();
  if (!saved) emit NameNotSaved();
  return true;
}

void NetworkModel::ApplyChanges() {
  const net::Changes changes = table_.TakeChanges();
  if (!changes.changed.empty())
    emit dataChanged(index(static_cast<int>(changes.changed.front()), 0),
                     index(static_cast<int>(changes.changed.back()), kNetColumns - 1));
  const int now = static_cast<int>(table_.Rows().size());
  if (now > rows_) {
    beginInsertRows({}, rows_, now - 1);
    rows_ = now;
    endInsertRows();
  }
}

void NetworkModel::AgesChanged() {
  if (rows_ == 0) return;
  table_.Trim();
  emit dataChanged(index(0, static_cast<int>(NetColumn::FirstSeen)), index(rows_ - 1, kNetColumns - 1));
}

// ---------------------------------------------------------------------------
// The LQI line

void LqiLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem plain = option;
  initStyleOption(&plain, index);
  plain.text.clear();
  QStyle* style = plain.widget ? plain.widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, plain.widget);
  const net::Node& node = model_.NodeAt(index.row());
  if (node.lqi.empty()) return;
  const QRectF box = QRectF(option.rect).adjusted(3, 3, -3, -3);
  const Clock::time_point now = model_.Now();
  const double window = std::chrono::duration<double>(net::kLqiWindow).count();
  // One point per pixel column, the mean of its samples: a radio heard a
  // thousand times a second costs no more to draw than one heard once.
  const int columns = std::max(1, static_cast<int>(box.width()));
  std::vector<std::pair<std::uint64_t, std::uint64_t>> sums(static_cast<std::size_t>(columns), {0, 0});
  for (const net::LqiSample& s : node.lqi) {
    const double age = std::clamp(std::chrono::duration<double>(now - s.at).count() / window, 0.0, 1.0);
    const auto x = static_cast<std::size_t>(std::lround((1.0 - age) * (columns - 1)));
    sums[x].first += s.sum;
    sums[x].second += s.count;
  }
  std::vector<QPointF> points;
  for (std::size_t x = 0; x < sums.size(); ++x)
    if (sums[x].second)
      points.emplace_back(box.left() + static_cast<double>(x),
                          box.bottom() - box.height() * (static_cast<double>(sums[x].first) / static_cast<double>(sums[x].second)) / 255.0);
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  const bool selected = option.state & QStyle::State_Selected;
  QColor ink = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Highlight);
  if (!selected && option.palette.color(QPalette::Base).lightness() < 128) ink = ink.lighter(160);
  // The quiet base line: LQI 0.
  QColor rule = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  rule.setAlpha(50);
  painter->setPen(QPen(rule, 1));
  painter->drawLine(QPointF(box.left(), box.bottom()), QPointF(box.right(), box.bottom()));
  painter->setPen(QPen(ink, 1.5));
  if (points.size() == 1) {
    painter->setBrush(ink);
    painter->drawEllipse(points.front(), 1.5, 1.5);
  } else {
    painter->drawPolyline(points.data(), static_cast<int>(points.size()));
  }
  painter->restore();
}

QSize LqiLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return {kLineWidth, QStyledItemDelegate::sizeHint(option, index).height()};
}

// ---------------------------------------------------------------------------
// The tab

NetworkTab::NetworkTab(CommandLayer& commands, Prompter& prompter, WorkDir& dir, const TimeSource& clock,
                       QWidget* parent)
    : QWidget(parent),
      commands_(commands),
      prompter_(prompter),
      dir_(dir),
      table_(clock),
      names_(dir),
      send_(diag::CommandSender(commands)),
      pause_(PauseWithEvents) {
  setObjectName("NetworkTab");
  names_.Load();
  model_ = new NetworkModel(table_, names_, clock, this);

  auto* column = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Find radios from", this));
  ScanFromEdit = new QLineEdit("0x0001", this);
  ScanFromEdit->setObjectName("ScanFromEdit");
  ScanToEdit = new QLineEdit("0x0040", this);
  ScanToEdit->setObjectName("ScanToEdit");
  for (QLineEdit* e : {ScanFromEdit, ScanToEdit}) e->setMaximumWidth(fontMetrics().horizontalAdvance("0x00000") + 16);
  top->addWidget(ScanFromEdit);
  top->addWidget(new QLabel("to", this));
  top->addWidget(ScanToEdit);
  FindButton = new QPushButton("Find Radios", this);
  FindButton->setObjectName("FindButton");
  CancelFindButton = new QPushButton("Cancel", this);
  CancelFindButton->setObjectName("CancelFindButton");
  CancelFindButton->setEnabled(false);
  ScanProgress = new QProgressBar(this);
  ScanProgress->setObjectName("ScanProgress");
  ScanProgress->setTextVisible(false);  // until a scan runs
  ScanProgress->setRange(0, 1);
  ScanProgress->setValue(0);
  ScanStatusLabel = new QLabel(this);
  ScanStatusLabel->setObjectName("ScanStatusLabel");
  top->addWidget(FindButton);
  top->addWidget(CancelFindButton);
  top->addWidget(ScanProgress, 1);
  ExportButton = new QPushButton("Export...", this);
  ExportButton->setObjectName("ExportButton");
  top->addWidget(ExportButton);
  column->addLayout(top);

  NodesView = new QTableView(this);
  NodesView->setObjectName("NodesView");
  NodesView->setModel(model_);
  NodesView->setItemDelegateForColumn(static_cast<int>(NetColumn::LqiLine), new LqiLineDelegate(*model_, NodesView));
  NodesView->setSelectionBehavior(QAbstractItemView::SelectRows);
  NodesView->setSelectionMode(QAbstractItemView::SingleSelection);
  NodesView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  NodesView->setAlternatingRowColors(true);
  NodesView->setWordWrap(false);
  NodesView->verticalHeader()->setVisible(false);
  // Rows of one height, known without asking every row: a large table
  // costs nothing to lay out.
  NodesView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  NodesView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  NodesView->horizontalHeader()->setHighlightSections(false);
  // Each column as wide as its widest usual text (the base's row is bold)
  // or its title.
  QFont boldFont = font();
  boldFont.setBold(true);
  const QFontMetrics fm(boldFont);
  const std::array<const char*, kNetColumns - 1> widest{"0x0000", "Pump house", "00:00:00:00:00:00:00:00",
                                                        "joined", "00 min 00 s", "00 min 00 s", "000000", "000"};
  for (std::size_t c = 0; c < widest.size(); ++c) {
    const int title = NodesView->horizontalHeader()->fontMetrics().horizontalAdvance(
        NetColumnTitle(static_cast<NetColumn>(c)));
    NodesView->setColumnWidth(static_cast<int>(c), std::max(title, fm.horizontalAdvance(widest[c])) + 10);
  }
  // The names take what room the window gives beyond that.
  NodesView->setColumnWidth(static_cast<int>(NetColumn::LqiLine), kLineWidth);
  NodesView->horizontalHeader()->setSectionResizeMode(static_cast<int>(NetColumn::Name), QHeaderView::Stretch);
  NodesView->setContextMenuPolicy(Qt::CustomContextMenu);
  column->addWidget(NodesView, 1);

  auto* actions = new QHBoxLayout;
  auto button = [&](QPushButton*& b, const char* name, const char* caption) {
    b = new QPushButton(caption, this);
    b->setObjectName(name);
    actions->addWidget(b);
  };
  button(ConfigureButton, "ConfigureButton", "Configure");
  button(PollButton, "PollButton", "Poll");
  button(DiagnosticsButton, "DiagnosticsButton", "Diagnostics");
  button(IdentifyButton, "IdentifyButton", "Identify");
  button(CopyButton, "CopyButton", "Copy");
  actions->addSpacing(12);
  actions->addWidget(ScanStatusLabel, 1);
  column->addLayout(actions);

  AgeTimer = new QTimer(this);
  AgeTimer->setObjectName("AgeTimer");
  AgeTimer->setInterval(kAgeTickMs);
  AgeTimer->setTimerType(Qt::VeryCoarseTimer);
  connect(AgeTimer, &QTimer::timeout, model_, &NetworkModel::AgesChanged);

  connect(FindButton, &QPushButton::clicked, this, &NetworkTab::FindRadiosClick);
  connect(CancelFindButton, &QPushButton::clicked, this, &NetworkTab::CancelFindClick);
  connect(ExportButton, &QPushButton::clicked, this, &NetworkTab::ExportClick);
  connect(ConfigureButton, &QPushButton::clicked, this, [this] { ConfigureRow(SelectedRow()); });
  connect(PollButton, &QPushButton::clicked, this, [this] { PollRow(SelectedRow()); });
  connect(DiagnosticsButton, &QPushButton::clicked, this, [this] { DiagnoseRow(SelectedRow()); });
  connect(IdentifyButton, &QPushButton::clicked, this, [this] { IdentifyRow(SelectedRow()); });
  connect(CopyButton, &QPushButton::clicked, this, [this] { CopyRow(SelectedRow()); });
  connect(NodesView, &QWidget::customContextMenuRequested, this, &NetworkTab::ContextMenu);
  connect(NodesView->selectionModel(), &QItemSelectionModel::selectionChanged, this, &NetworkTab::UpdateActions);
  connect(model_, &NetworkModel::NameChanged, this, &NetworkTab::NamesChanged);
  connect(model_, &NetworkModel::NameNotSaved, this, [this] {
    prompter_.MessageWithDetail("The name could not be saved.  It is kept until the program ends.", "Name",
                                dir_.SettingsFile(net::kNamesFile).string());
  });
  UpdateActions();
}

NetworkTab::~NetworkTab() {
  if (filtered_) filtered_->removeEventFilter(this);
}

// ---- View events

void NetworkTab::Announced(const Announcement& announcement) { table_.Announced(announcement); }
void NetworkTab::ReceivedData(std::uint16_t address, std::uint8_t lqi) { table_.ReceivedData(address, lqi); }
void NetworkTab::IoEvent(std::uint16_t address) { table_.IoEvent(address); }
void NetworkTab::RemoteReplied(std::uint16_t address, std::uint8_t lqi) {
  table_.RemoteReplied(address, lqi);
  EventsApplied();
}
void NetworkTab::RemoteJoined(std::uint16_t) {
  // The announcement that carries the join (with the MAC) made the row.
}

void NetworkTab::EventsApplied() {
  const bool first = model_->rowCount() == 0;
  model_->ApplyChanges();
  if (first && model_->rowCount() > 0) UpdateActions();
}

void NetworkTab::SetBase(std::uint16_t address, std::optional<std::string> mac) {
  table_.SetBase(address, std::move(mac));
  EventsApplied();
}

void NetworkTab::SetConnected(bool connected) {
  connected_ = connected;
  if (!connected && scanning_) CancelFindClick();
  UpdateActions();
}

std::optional<std::string> NetworkTab::NameAt(std::uint16_t address) const { return names_.NameAt(table_, address); }

int NetworkTab::SelectedRow() const {
  const QModelIndexList rows = NodesView->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void NetworkTab::UpdateActions() {
  const bool row = SelectedRow() >= 0;
  const bool talk = row && connected_ && !commandUnderWay_;
  for (QPushButton* b : {ConfigureButton, PollButton, DiagnosticsButton, IdentifyButton}) b->setEnabled(talk);
  CopyButton->setEnabled(row);
  FindButton->setEnabled(connected_ && !scanning_ && !commandUnderWay_);
  CancelFindButton->setEnabled(scanning_);
}

void NetworkTab::ContextMenu(const QPoint& at) {
  const QModelIndex index = NodesView->indexAt(at);
  if (!index.isValid()) return;
  NodesView->selectRow(index.row());
  const int row = index.row();
  QMenu menu(this);
  for (QPushButton* b : {ConfigureButton, PollButton, DiagnosticsButton, IdentifyButton, CopyButton}) {
    QAction* a = menu.addAction(b->text());
    a->setEnabled(b->isEnabled());
    connect(a, &QAction::triggered, b, &QPushButton::click);
  }
  menu.addSeparator();
  QAction* name = menu.addAction("Name...", this, [this, row] { NameRow(row); });
  name->setEnabled(model_->NodeAt(row).mac.has_value());
  menu.exec(NodesView->viewport()->mapToGlobal(at));
}

// ---- Row actions

template <typename Command>
auto NetworkTab::Run(Command command) {
  commandUnderWay_ = true;
  UpdateActions();
  auto result = command();
  commandUnderWay_ = false;
  UpdateActions();
  emit CommandsEnded();
  return result;
}

void NetworkTab::ConfigureRow(int row) {
  if (row < 0 || row >= model_->rowCount() || !hooks_.openConfig) return;
  const net::Node& node = model_->NodeAt(row);
  if (node.base) {
    hooks_.openConfig(0, 0);
    return;
  }
  // The dialog keeps a remote's registers in a Poll I/O slot's image: the
  // slot of this radio, or a free one.
  const auto slot = hooks_.pollAddresses ? PollSlotFor(hooks_.pollAddresses(), node.address) : std::nullopt;
  if (!slot) {
    prompter_.Message(kNoFreePollSlot, "Configure");
    return;
  }
  hooks_.openConfig(*slot, node.address);
}

void NetworkTab::PollRow(int row) {
  if (row < 0 || row >= model_->rowCount() || !hooks_.takePollSlot || !hooks_.pollAddresses) return;
  const net::Node& node = model_->NodeAt(row);
  if (node.base) return;
  const std::optional<int> slot = PollSlotFor(hooks_.pollAddresses(), node.address);
  if (!slot) {
    prompter_.Message(kNoFreePollSlot, kNoFreePollSlotCaption);
    return;
  }
  hooks_.takePollSlot(*slot, node.address);
}

void NetworkTab::DiagnoseRow(int row) {
  if (row < 0 || row >= model_->rowCount() || commandUnderWay_) return;
  const std::uint16_t address = model_->NodeAt(row).address;
  const LinkMeasurement m = Run([&] {
    BusyCursor busy;
    return MeasureLink(diag::CommandSender(commands_), address);
  });
  prompter_.Message(MeasurementText(address, m), kMeasureCaption);
}

void NetworkTab::IdentifyRow(int row) {
  if (row < 0 || row >= model_->rowCount() || commandUnderWay_) return;
  const net::Node& node = model_->NodeAt(row);
  if (node.base) return;
  const std::uint16_t address = node.address;
  const Done done = Run([&] { return IdentifyRadio(RemoteOutputLine(commands_, address), pause_); });
  if (!done) prompter_.Message(kIdentifyFailed, kIdentifyCaption);
}

void NetworkTab::CopyRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  const net::Node& node = model_->NodeAt(row);
  QApplication::clipboard()->setText(QString::fromStdString(NodeRowText(node, model_->NameOf(node), model_->Now())));
}

void NetworkTab::NameRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  NodesView->edit(model_->index(row, static_cast<int>(NetColumn::Name)));
}

// ---- Find radios

void NetworkTab::FindRadiosClick() {
  if (scanning_ || commandUnderWay_) return;
  const std::optional<net::AddressRange> range =
      ReadScanRange(ScanFromEdit->text().toStdString(), ScanToEdit->text().toStdString());
  if (!range) {
    prompter_.Message(kBadScanRange, kScanCaption);
    return;
  }
  scan_.emplace(*range, send_, table_);
  scanning_ = true;
  ScanProgress->setRange(0, static_cast<int>(range->Size()));
  ScanProgress->setValue(0);
  ScanProgress->setTextVisible(true);
  ScanStatusLabel->clear();
  UpdateActions();
  QTimer::singleShot(0, this, &NetworkTab::ScanStep);
}

// One address each turn of the event loop, so Cancel is seen between two.
void NetworkTab::ScanStep() {
  if (!scanning_) return;
  const bool asked = Run([&] { return scan_->Step(); });
  EventsApplied();
  ScanProgress->setValue(static_cast<int>(scan_->Done()));
  if (asked && scanning_)
    QTimer::singleShot(0, this, &NetworkTab::ScanStep);
  else
    EndScan();
}

void NetworkTab::CancelFindClick() {
  if (!scanning_) return;
  scan_->Cancel();
  // Between two steps nothing else would end it; during one, its end does.
  if (!commandUnderWay_) {
    scan_->Step();  // notes the cancel, asks nothing
    EndScan();
  }
}

bool NetworkTab::StopScan() {
  const bool was = scanning_;
  CancelFindClick();
  return was;
}

void NetworkTab::EndScan() {
  if (!scanning_) return;
  scanning_ = false;
  ScanStatusLabel->setText(QString::fromStdString(ScanSummaryText(scan_->Summary(), scan_->Range())));
  UpdateActions();
}

// ---- Export

void NetworkTab::ExportClick() {
  FileRequest request;
  request.caption = "Export Network";
  request.filter = "CSV files (*.csv);;All files (*)";
  request.defaultSuffix = "csv";
  request.initialName = "network.csv";
  const std::string named = prompter_.SaveFileName(request);
  if (named.empty()) return;
  const std::string csv = net::NodesCsv(table_, &names_, model_->Now());
  const Done written = WriteFileReplacing(named, csv, dir_.Dir());
  if (!written)
    prompter_.MessageWithDetail("Could not write the table to " + named + ".", kExportCaption, written.reason());
}

// ---- The age timer: only while the tab shows in a window not minimised

void NetworkTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (QWidget* w = window(); w != filtered_) {
    if (filtered_) filtered_->removeEventFilter(this);
    filtered_ = w;
    filtered_->installEventFilter(this);
  }
  model_->AgesChanged();
  UpdateAgeTimer();
}

void NetworkTab::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  UpdateAgeTimer();
}

bool NetworkTab::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filtered_ && event->type() == QEvent::WindowStateChange) {
    UpdateAgeTimer();
    if (AgeTimer->isActive()) model_->AgesChanged();
  }
  return QWidget::eventFilter(watched, event);
}

void NetworkTab::UpdateAgeTimer() {
  const bool shown = isVisible() && !(window()->windowState() & Qt::WindowMinimized);
  if (shown && !AgeTimer->isActive())
    AgeTimer->start();
  else if (!shown)
    AgeTimer->stop();
}

bool NetworkTab::AgeTimerActive() const { return AgeTimer->isActive(); }

}  // namespace qmx

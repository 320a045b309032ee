#include "mainwindow/ui/events_tab.h"

#include <QDateTime>
#include <QEvent>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "widgets/palette_colour.h"

namespace qmx {

namespace {

// The colour the decoder gave a stretch of text, kept beside the colour it
// is shown in, so that a change of palette can show it anew.
constexpr int kEventColour = QTextFormat::UserProperty + 1;

}  // namespace

EventsTab::EventsTab(QWidget* parent) : QWidget(parent) {
  setObjectName("Events");
  auto* layout = new QVBoxLayout(this);
  EventRichEdit = new QTextEdit(this);
  EventRichEdit->setObjectName("EventRichEdit");
  EventRichEdit->setReadOnly(true);
  EventRichEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  EventRichEdit->setMinimumSize(676, 417);
  EventRichEdit->document()->setUndoRedoEnabled(false);
  EventRichEdit->installEventFilter(this);
  ClearEventButton = new QPushButton("Clear", this);
  ClearEventButton->setObjectName("ClearEventButton");
  layout->addWidget(EventRichEdit, 1);
  layout->addWidget(ClearEventButton, 0, Qt::AlignRight);
  connect(ClearEventButton, &QPushButton::clicked, this, &EventsTab::ClearEventButtonClick);
}

std::string EventsTab::Timestamp() {
  const QLocale locale = QLocale::system();
  const QDateTime now = QDateTime::currentDateTime();
  return (locale.toString(now.date(), QLocale::ShortFormat) + "  |  " +
          locale.toString(now.time(), QLocale::LongFormat))
      .toStdString();
}

void EventsTab::ClearEventButtonClick() { EventRichEdit->clear(); }

void EventsTab::AppendEvent(const EventBlock& block) { AppendEvents(std::span(&block, 1)); }

void EventsTab::AppendEvents(std::span<const EventBlock> blocks) {
  std::vector<EventLine> all;
  for (const EventBlock& block : blocks) {
    std::vector<EventLine> lines = lines_.Add(block);
    all.insert(all.end(), std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
  }
  Append(all);
}

void EventsTab::AppendLine(const QString& line) { Append({lines_.Add(line.toStdString())}); }

void EventsTab::Append(const std::vector<EventLine>& lines) {
  QTextCursor cursor(EventRichEdit->document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  const QColor base = EventRichEdit->palette().color(QPalette::Base);
  for (const EventLine& line : lines) {
    QTextCharFormat format;
    if (line.rgb) {
      format.setProperty(kEventColour, *line.rgb);
      format.setForeground(ShownOn(QColor::fromRgb(*line.rgb), base));
    }
    if (!EventRichEdit->document()->isEmpty()) cursor.insertBlock();
    cursor.insertText(QString::fromStdString(line.text), format);
  }
  cursor.endEditBlock();
  TrimOldest();
  QScrollBar* bar = EventRichEdit->verticalScrollBar();
  bar->setValue(bar->maximum());
}

bool EventsTab::eventFilter(QObject* watched, QEvent* event) {
  // The view's own palette: it changes after this tab's.
  if (watched == EventRichEdit && event->type() == QEvent::PaletteChange) Recolour();
  return QWidget::eventFilter(watched, event);
}

void EventsTab::Recolour() {
  const QColor base = EventRichEdit->palette().color(QPalette::Base);
  QTextDocument* doc = EventRichEdit->document();
  // The coloured stretches first: recolouring them changes the fragments.
  std::vector<std::pair<QTextFragment, std::uint32_t>> coloured;
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (const QVariant rgb = it.fragment().charFormat().property(kEventColour); rgb.isValid())
        coloured.emplace_back(it.fragment(), rgb.toUInt());
  QTextCursor cursor(doc);
  cursor.beginEditBlock();
  for (const auto& [fragment, rgb] : coloured) {
    cursor.setPosition(fragment.position());
    cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(ShownOn(QColor::fromRgb(rgb), base));
    cursor.mergeCharFormat(format);
  }
  cursor.endEditBlock();
}

void EventsTab::TrimOldest() {
  QTextDocument* doc = EventRichEdit->document();
  if (doc->blockCount() <= maxLines_) return;
  // The first line kept: past the cut, the line after an event's empty line.
  QTextBlock keep = doc->findBlockByNumber(doc->blockCount() - (maxLines_ - maxLines_ / 10));
  for (QTextBlock b = keep; b.isValid() && b.next().isValid(); b = b.next()) {
    if (b.text().isEmpty()) {
      keep = b.next();
      break;
    }
  }
  QTextCursor cursor(doc);
  cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
}

}  // namespace qmx

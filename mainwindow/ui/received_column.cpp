#include "mainwindow/ui/received_column.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <algorithm>
#include <cmath>

#include "mainwindow/received_rows.h"

namespace qmx {

ReceivedColumn::ReceivedColumn(ReceivedRowsModel& rows, Field field, Qt::Alignment alignment, QWidget* parent)
    : QFrame(parent),
      rows_(rows),
      field_(field),
      alignment_(alignment),
      cells_(field == Field::Data ? GlyphCells::Words::HexBytes : GlyphCells::Words::OneShortWord) {
  setBackgroundRole(QPalette::Base);
  // The column paints all of itself, background included: nothing behind
  // it is painted first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // The frame in the window's text colour (the focus frame changes that),
  // the rows in the colour of text on a base.
  setForegroundRole(QPalette::WindowText);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::IBeamCursor);
  BuildGlyphTable();
}

void ReceivedColumn::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) BuildGlyphTable();
  QFrame::changeEvent(event);
}

void ReceivedColumn::BuildGlyphTable() {
  glyphs_ = MonoGlyphs();
  glyphs_.font = QRawFont::fromFont(font());
  const QFontMetricsF metrics(font());
  // As text centred in a row is placed.
  glyphs_.baseline = (kRowHeight - metrics.height()) / 2 + metrics.ascent();
  glyphs_.advance = metrics.horizontalAdvance(QChar('0'));
  if (glyphs_.font.isValid()) {
    for (char c = ' '; c < 127; ++c) {
      const QList<quint32> index = glyphs_.font.glyphIndexesForString(QString(QChar(c)));
      // Only a font whose every character has the same width lines up.
      if (index.size() == 1 && index[0] != 0 &&
          std::abs(glyphs_.font.advancesForGlyphIndexes(index).value(0).x() - glyphs_.advance) < 0.01)
        glyphs_.index[static_cast<std::size_t>(c)] = index[0];
    }
  }
  cells_.SetGlyphs(glyphs_, kRowHeight);
}

int ReceivedColumn::TextLeft(const QRect& line, std::size_t length) const {
  const qreal width = glyphs_.advance * static_cast<qreal>(length);
  return line.left() + ((alignment_ & Qt::AlignHCenter) ? static_cast<int>(std::floor((line.width() - width) / 2)) : 0);
}

bool ReceivedColumn::DrawGlyphs(QPainter& painter, const QRect& line, std::string_view text) const {
  return glyphs_.Draw(painter, TextLeft(line, text.size()), line.top(), text);
}

std::string_view ReceivedColumn::FieldText(std::size_t row) const {
  const RowView r = rows_.Row(row);
  return field_ == Field::Address ? r.address : field_ == Field::Data ? r.data : r.lqi;
}

QString ReceivedColumn::Text(std::size_t row) const {
  const std::string_view text = FieldText(row);
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString ReceivedColumn::toPlainText() const {
  QStringList lines;
  for (std::size_t row = 0; row < rows_.Size(); ++row) lines << Text(row);
  return lines.join('\n');
}

bool ReceivedColumn::HasSelection() const { return rows_.HasSelection(); }

void ReceivedColumn::Copy() const {
  if (rows_.HasSelection()) QApplication::clipboard()->setText(QString::fromStdString(rows_.SelectedText()));
}

int ReceivedColumn::RowTop(std::size_t row) const {
  return frameWidth() + kMargin + static_cast<int>(row) * kRowHeight;
}

std::size_t ReceivedColumn::RowAt(int y) const {
  if (rows_.Size() == 0) return 0;
  const int row = std::max(0, (y - frameWidth() - kMargin) / kRowHeight);
  return std::min(static_cast<std::size_t>(row), rows_.Size() - 1);
}

// Qt's raster engine hands a plain fill of more than about a hundred lines
// to its thread pool, which costs thread wake-ups that outweigh the fill
// itself; strips of fewer lines are filled on this thread.
void ReceivedColumn::FillInStrips(QPainter& painter, const QRect& area, const QBrush& brush) {
  constexpr int kStrip = 64;
  for (int top = area.top(); top <= area.bottom(); top += kStrip)
    painter.fillRect(QRect(area.left(), top, area.width(), std::min(kStrip, area.bottom() + 1 - top)), brush);
}

QImage ReceivedColumn::FillCanvas(const QRect& area, QColor background) {
  const auto pixels = static_cast<std::size_t>(area.width()) * static_cast<std::size_t>(area.height());
  if (canvasPixels_.size() < pixels) canvasPixels_.resize(pixels);
  std::fill_n(canvasPixels_.begin(), pixels, background.rgb());
  return QImage(reinterpret_cast<uchar*>(canvasPixels_.data()), area.width(), area.height(),
                static_cast<qsizetype>(area.width()) * 4, QImage::Format_RGB32);
}

QRect ReceivedColumn::TextLine(std::size_t row) const {
  const int left = frameWidth() + kMargin;
  return QRect(left, RowTop(row), width() - 2 * left, kRowHeight);
}

QRect ReceivedColumn::SortRows(const QRect& area, bool useCells) {
  painterRows_.clear();
  cellRows_.clear();
  if (rows_.Size() == 0 || area.bottom() < RowTop(0)) return {};
  int spanLeft = area.right() + 1, spanRight = area.left();
  const std::size_t last = RowAt(area.bottom());
  for (std::size_t row = RowAt(area.top()); row <= last; ++row) {
    const std::string_view text = FieldText(row);
    if (!useCells || rows_.Selected(row) || !cells_.Drawable(text)) {
      painterRows_.push_back(row);
      continue;
    }
    const int x = TextLeft(TextLine(row), text.size());
    cellRows_.push_back({row, x});
    // Room either side for ink past the glyphs' boxes, as in a cell.
    spanLeft = std::min(spanLeft, x - 1);
    spanRight = std::max(spanRight, x + static_cast<int>(std::ceil(glyphs_.advance * static_cast<qreal>(text.size()))) + 2);
  }
  const QRect lines = TextLine(0);
  return QRect(QPoint(spanLeft, area.top()), QPoint(spanRight, area.bottom())) & area &
         QRect(lines.left(), area.top(), lines.width(), area.height());
}

void ReceivedColumn::PaintCellRows(QPainter& painter, const QRect& area, const QRect& span) {
  const QBrush& base = palette().brush(QPalette::Base);
  if (cellRows_.empty() || span.isEmpty()) {
    FillInStrips(painter, area, base);
    return;
  }
  // The background beside the texts straight to the screen; the texts'
  // span as one image of cells.
  FillInStrips(painter, QRect(QPoint(area.left(), area.top()), QPoint(span.left() - 1, area.bottom())), base);
  FillInStrips(painter, QRect(QPoint(span.right() + 1, area.top()), QPoint(area.right(), area.bottom())), base);
  QImage canvas = FillCanvas(span, base.color());
  const QRect clip(QPoint(0, 0), span.size());
  for (const CellRow& r : cellRows_) {
    // A row whose colours no longer fit in the cells' table is the
    // painter's, drawn over the canvas's background.
    if (!cells_.Draw(canvas, r.x - span.left(), RowTop(r.row) - span.top(), clip, FieldText(r.row)))
      painterRows_.push_back(r.row);
  }
  painter.drawImage(span.topLeft(), canvas);
}

void ReceivedColumn::PaintPainterRows(QPainter& painter) {
  const QPalette& p = palette();
  painter.setFont(font());
  for (std::size_t row : painterRows_) {
    const QRect line = TextLine(row);
    const bool selected = rows_.Selected(row);
    if (selected) painter.fillRect(line, p.brush(QPalette::Highlight));
    painter.setPen(p.color(selected ? QPalette::HighlightedText : QPalette::Text));
    if (!DrawGlyphs(painter, line, FieldText(row)))
      painter.drawText(line, static_cast<int>(alignment_ | Qt::AlignVCenter), Text(row));
  }
}

void ReceivedColumn::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect area = event->rect();
  const QPalette& p = palette();
  // Cells hold device pixels on an opaque background: on a scaled screen or
  // a see-through base every row is drawn by the painter.
  const bool useCells = useCells_ && devicePixelRatioF() == 1.0 && p.color(QPalette::Base).alpha() == 255;
  if (useCells) cells_.SetColours(p.color(QPalette::Text), p.color(QPalette::Base));
  PaintCellRows(painter, area, SortRows(area, useCells));
  PaintPainterRows(painter);
  // The frame, a plain box, in strips too: its sides are as tall as the
  // view.
  const QRect r = rect();
  const int w = frameWidth();
  if (w > 0) {
    for (const QRect& side : {QRect(r.left(), r.top(), r.width(), w), QRect(r.left(), r.bottom() + 1 - w, r.width(), w),
                              QRect(r.left(), r.top(), w, r.height()), QRect(r.right() + 1 - w, r.top(), w, r.height())})
      FillInStrips(painter, side.intersected(area), p.brush(QPalette::WindowText));
  }
}

void ReceivedColumn::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QFrame::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  if (rows_.Size() == 0) return;
  const std::size_t row = RowAt(event->position().toPoint().y());
  if (event->modifiers() & Qt::ShiftModifier)
    rows_.Extend(row);
  else
    rows_.Select(row, row);
  emit SelectionChanged();
}

void ReceivedColumn::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || !rows_.HasSelection()) return QFrame::mouseMoveEvent(event);
  const QPoint at = event->position().toPoint();
  rows_.Extend(RowAt(at.y()));
  emit SelectionChanged();
  // A drag past the edge of the view moves the view along.
  for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (auto* area = qobject_cast<QScrollArea*>(w)) {
      const QPoint inContent = mapTo(area->widget(), at);
      area->ensureVisible(inContent.x(), inContent.y(), 0, kRowHeight / 2);
      break;
    }
  }
}

void ReceivedColumn::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    Copy();
  } else if (event->matches(QKeySequence::SelectAll)) {
    rows_.SelectAll();
    emit SelectionChanged();
  } else {
    QFrame::keyPressEvent(event);
  }
}

}  // namespace qmx

#include "mainwindow/ui/received_column.h"

#include <QApplication>
#include <QClipboard>
#include <QGlyphRun>
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
    : QFrame(parent), rows_(rows), field_(field), alignment_(alignment) {
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
  glyphs_.fill(0);
  rawFont_ = QRawFont::fromFont(font());
  const QFontMetricsF metrics(font());
  // As text centred in a row is placed.
  baseline_ = (kRowHeight - metrics.height()) / 2 + metrics.ascent();
  advance_ = metrics.horizontalAdvance(QChar('0'));
  if (!rawFont_.isValid()) return;
  for (char c = ' '; c < 127; ++c) {
    const QList<quint32> index = rawFont_.glyphIndexesForString(QString(QChar(c)));
    // Only a font whose every character has the same width lines up.
    if (index.size() == 1 && index[0] != 0 &&
        std::abs(rawFont_.advancesForGlyphIndexes(index).value(0).x() - advance_) < 0.01)
      glyphs_[static_cast<std::size_t>(c)] = index[0];
  }
}

bool ReceivedColumn::DrawGlyphs(QPainter& painter, const QRect& line, const std::string& text) const {
  if (text.empty()) return true;
  QList<quint32> indexes(static_cast<qsizetype>(text.size()));
  QList<QPointF> positions(static_cast<qsizetype>(text.size()));
  const qreal width = advance_ * static_cast<qreal>(text.size());
  qreal x = line.left();
  if (alignment_ & Qt::AlignHCenter) x += std::floor((line.width() - width) / 2);
  const qreal y = line.top() + baseline_;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const quint32 glyph = c < glyphs_.size() ? glyphs_[c] : 0;
    if (glyph == 0) return false;
    indexes[static_cast<qsizetype>(i)] = glyph;
    positions[static_cast<qsizetype>(i)] = QPointF(x + advance_ * static_cast<qreal>(i), y);
  }
  QGlyphRun run;
  run.setRawFont(rawFont_);
  run.setGlyphIndexes(indexes);
  run.setPositions(positions);
  painter.drawGlyphRun(QPointF(0, 0), run);
  return true;
}

const std::string& ReceivedColumn::FieldText(std::size_t row) const {
  const ViewRow& r = rows_.Row(row);
  return field_ == Field::Address ? r.address : field_ == Field::Data ? r.data : r.lqi;
}

QString ReceivedColumn::Text(std::size_t row) const {
  const std::string& text = FieldText(row);
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

void ReceivedColumn::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect area = event->rect();
  const int left = frameWidth() + kMargin;
  const int width = this->width() - 2 * left;
  painter.fillRect(area, palette().brush(QPalette::Base));
  if (rows_.Size() > 0 && area.bottom() >= RowTop(0)) {
    const std::size_t first = RowAt(area.top());
    const std::size_t last = RowAt(area.bottom());
    const QPalette& p = palette();
    painter.setFont(font());
    for (std::size_t row = first; row <= last; ++row) {
      const QRect line(left, RowTop(row), width, kRowHeight);
      const bool selected = rows_.Selected(row);
      if (selected) painter.fillRect(line, p.brush(QPalette::Highlight));
      painter.setPen(p.color(selected ? QPalette::HighlightedText : QPalette::Text));
      if (!DrawGlyphs(painter, line, FieldText(row)))
        painter.drawText(line, static_cast<int>(alignment_ | Qt::AlignVCenter), Text(row));
    }
  }
  painter.end();
  QFrame::paintEvent(event);
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

#include "mainwindow/ui/received_column.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "mainwindow/received_rows.h"

namespace qmx {

ReceivedColumn::ReceivedColumn(ReceivedRowsModel& rows, Field field, Qt::Alignment alignment, QWidget* parent)
    : QFrame(parent), rows_(rows), field_(field), alignment_(alignment) {
  setBackgroundRole(QPalette::Base);
  // The frame in the window's text colour (the focus frame changes that),
  // the rows in the colour of text on a base.
  setForegroundRole(QPalette::WindowText);
  setAutoFillBackground(true);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::IBeamCursor);
}

QString ReceivedColumn::Text(std::size_t row) const {
  const ViewRow& r = rows_.Row(row);
  const std::string& text = field_ == Field::Address ? r.address : field_ == Field::Data ? r.data : r.lqi;
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
  rows_.Extend(RowAt(event->position().toPoint().y()));
  emit SelectionChanged();
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

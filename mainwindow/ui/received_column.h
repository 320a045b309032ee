// One column of the Serial tab's received view (addresses, data or link
// qualities). The three columns share one row model and paint only the rows
// in view, each 15 pixels high, so that appending or dropping rows costs the
// same however many the view holds. A press picks a packet, a drag or a
// Shift+press extends the selection; the selection covers every row of its
// packets in all three columns, and Copy gives one address TAB data TAB LQI
// line per packet, all its data however many rows it takes.
#pragma once

#include <QFrame>
#include <QImage>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mainwindow/ui/glyph_cells.h"

namespace qmx {

class ReceivedRowsModel;

class ReceivedColumn : public QFrame {
  Q_OBJECT

 public:
  enum class Field { Address, Data, Lqi };
  static constexpr int kRowHeight = 15;
  // Space between the frame and the text.
  static constexpr int kMargin = 2;

  ReceivedColumn(ReceivedRowsModel& rows, Field field, Qt::Alignment alignment, QWidget* parent = nullptr);

  // The column's texts, one row a line (for tests and checks).
  QString toPlainText() const;
  bool HasSelection() const;
  // Puts the selected rows on the clipboard.
  void Copy() const;
  // The row at a height in this column, or the one nearest to it.
  std::size_t RowAt(int y) const;
  // The top of a row in this column.
  int RowTop(std::size_t row) const;
  // Rows of short words come from cells (the default) or glyph runs; both
  // give the same pixels.
  void UseCells(bool on) {
    useCells_ = on;
    update();
  }
  // Fewer colours for the cells, so that some rows go back to the painter.
  void LimitCellColours(std::size_t colours) {
    cells_.LimitColours(colours);
    update();
  }

 signals:
  // The selection changed: every column shows it.
  void SelectionChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QString Text(std::size_t row) const;
  std::string_view FieldText(std::size_t row) const;
  // Looks up the glyphs of the printable ASCII characters in the column's
  // font. Rows are drawn from this table as glyph runs, or from cells made
  // with it: no text is shaped or laid out while painting.
  void BuildGlyphTable();
  // Where a row's text of `length` characters starts in `line`.
  int TextLeft(const QRect& line, std::size_t length) const;
  // Draws one row's text in `line` from the table; false when the text has
  // a character the table lacks (it is then drawn as text).
  bool DrawGlyphs(QPainter& painter, const QRect& line, std::string_view text) const;
  static void FillInStrips(QPainter& painter, const QRect& area, const QBrush& brush);
  // An image of `area`'s size showing `background`, over canvasPixels_:
  // no allocation from paint to paint, and nothing else ever shares (and so
  // copies) its pixels.
  QImage FillCanvas(const QRect& area, QColor background);
  // Where a row's text goes.
  QRect TextLine(std::size_t row) const;
  // Sorts the rows in `area` into cellRows_ and painterRows_; returns the
  // span the cell rows' texts take across it.
  QRect SortRows(const QRect& area, bool useCells);
  // The background of `area`, with the cell rows copied into `span`; a row
  // the cells refuse goes to painterRows_.
  void PaintCellRows(QPainter& painter, const QRect& area, const QRect& span);
  // The selected rows and those cells do not draw.
  void PaintPainterRows(QPainter& painter);

  ReceivedRowsModel& rows_;
  Field field_;
  Qt::Alignment alignment_;
  MonoGlyphs glyphs_;
  // Unselected rows of short words come from cells, copied into a canvas
  // which then goes to the screen in one piece.
  GlyphCells cells_;
  bool useCells_ = true;
  std::vector<quint32> canvasPixels_;
  struct CellRow {
    std::size_t row;
    int x;  // where its text starts
  };
  std::vector<CellRow> cellRows_;
  std::vector<std::size_t> painterRows_;  // rows the painter draws instead
};

}  // namespace qmx

// One column of the Serial tab's received view (addresses, data or link
// qualities). The three columns share one row model and paint only the rows
// in view, each 15 pixels high, so that appending or dropping rows costs the
// same however many the view holds. A press picks a row, a drag or a
// Shift+press extends the selection; the selection covers whole rows of all
// three columns and Copy gives them as address TAB data TAB LQI lines.
#pragma once

#include <QFrame>
#include <QRawFont>
#include <QString>
#include <array>
#include <cstddef>
#include <string>

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
  const std::string& FieldText(std::size_t row) const;
  // Looks up the glyphs of the printable ASCII characters in the column's
  // font. Rows are drawn from this table as glyph runs: no text is shaped
  // or laid out while painting.
  void BuildGlyphTable();
  // Draws one row's text in `line` from the table; false when the text has
  // a character the table lacks (it is then drawn as text).
  bool DrawGlyphs(QPainter& painter, const QRect& line, const std::string& text) const;

  ReceivedRowsModel& rows_;
  Field field_;
  Qt::Alignment alignment_;
  QRawFont rawFont_;
  std::array<quint32, 128> glyphs_{};  // 0: not in the table
  qreal advance_ = 0;                  // every character's width
  qreal baseline_ = 0;                 // below the top of a row
};

}  // namespace qmx

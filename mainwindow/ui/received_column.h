// One column of the Serial tab's received view (addresses, data or link
// qualities). The three columns share one row model and paint only the rows
// in view, each 15 pixels high, so that appending or dropping rows costs the
// same however many the view holds. A press picks a row, a drag or a
// Shift+press extends the selection; the selection covers whole rows of all
// three columns and Copy gives them as address TAB data TAB LQI lines.
#pragma once

#include <QFrame>
#include <QString>
#include <cstddef>

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

 private:
  QString Text(std::size_t row) const;

  ReceivedRowsModel& rows_;
  Field field_;
  Qt::Alignment alignment_;
};

}  // namespace qmx

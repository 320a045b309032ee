// Shows a busy cursor over the whole application until it goes out of scope.
#pragma once

#include <QApplication>

namespace qmx {

class BusyCursor {
 public:
  explicit BusyCursor(Qt::CursorShape shape = Qt::WaitCursor) { QApplication::setOverrideCursor(shape); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace qmx

// Keeps the long radio operations of a dialog (Apply, Refresh, Defaults,
// Reset, an FCC mode, a MAC address write) from running inside one another.
// Their commands wait with the windows live, so without it a second click
// would start a second operation inside the first, and Cancel, Escape or the
// close button would close the dialog while the first goes on.
//
// While an operation runs, every push button of the dialog is disabled and
// Running() is true; the dialog refuses to close meanwhile (its done()
// asks Running()).
#pragma once

#include <functional>

class QWidget;

namespace qmx {

class OperationGuard {
 public:
  explicit OperationGuard(QWidget& dialog) : dialog_(dialog) {}
  OperationGuard(const OperationGuard&) = delete;
  OperationGuard& operator=(const OperationGuard&) = delete;

  // Runs `operation` unless one is running already; false when refused.
  bool Run(const std::function<void()>& operation);
  bool Running() const { return running_; }

 private:
  QWidget& dialog_;
  bool running_ = false;
};

}  // namespace qmx

#include "config/ui/operation_guard.h"

#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <vector>

namespace qmx {

bool OperationGuard::Run(const std::function<void()>& operation) {
  if (running_) return false;
  // Only the buttons enabled now are enabled again afterwards.
  std::vector<QPointer<QPushButton>> disabled;
  for (QPushButton* button : dialog_.findChildren<QPushButton*>()) {
    if (!button->isEnabled()) continue;
    button->setEnabled(false);
    disabled.emplace_back(button);
  }
  struct Restore {
    OperationGuard& guard;
    std::vector<QPointer<QPushButton>>& buttons;
    ~Restore() {
      for (const auto& button : buttons)
        if (button) button->setEnabled(true);
      guard.running_ = false;
    }
  } restore{*this, disabled};
  running_ = true;
  operation();
  return true;
}

}  // namespace qmx

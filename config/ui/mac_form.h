// "MAC Address Write": gives the local radio a new MAC address.
#pragma once

#include <QDialog>
#include <functional>

#include "config/ui/operation_guard.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace qmx {

class Prompter;
class RadioLink;

class TMACForm : public QDialog {
  Q_OBJECT

 public:
  explicit TMACForm(QWidget* parent = nullptr);
  // `written` gets the entered text once the radio took and saved it.
  void Attach(RadioLink& link, Prompter& prompter, std::function<void(const QString&)> written = {});
  void WriteButtonClick();

  QLineEdit* MACAddressEdit;
  QPushButton* WriteButton;
  QLabel* StatusBar1;

 protected:
  // Escape and the close button wait for a write in progress.
  void done(int result) override;

 private:
  OperationGuard guard_{*this};
  RadioLink* link_ = nullptr;
  Prompter* prompter_ = nullptr;
  std::function<void(const QString&)> written_;
};

}  // namespace qmx

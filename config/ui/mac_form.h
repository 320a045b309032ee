// "MAC Address Write": gives the local radio a new MAC address.
#pragma once

#include <QDialog>
#include <functional>

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

 private:
  RadioLink* link_ = nullptr;
  Prompter* prompter_ = nullptr;
  std::function<void(const QString&)> written_;
};

}  // namespace qmx

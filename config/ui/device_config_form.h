// "Device Config": every setting and status value of one radio, filled from
// its slot of the radio image; Apply writes what the user changed.
#pragma once

#include <QDialog>
#include <QHash>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <memory>
#include <vector>

#include "config/config_baselines.h"
#include "config/config_writer.h"
#include "config/register_map.h"
#include "config/ui/operation_guard.h"

class QAbstractButton;
class QLabel;
class QPushButton;
class QTabWidget;
class QWidget;

namespace qmx {

class CommandLayer;
class Prompter;
struct ConfigPages;
class RadioLink;

class TDeviceConfigForm : public QDialog {
  Q_OBJECT

 public:
  explicit TDeviceConfigForm(QWidget* parent = nullptr);
  ~TDeviceConfigForm() override;

  // The link, image and prompter the dialog works with; `localStatus` lets
  // the main window redraw its panel of the local radio after a Refresh.
  void Attach(RadioLink& link, RadioImage& image, Prompter& prompter, std::function<void()> localStatus = {});
  // Shows the dialog modally for one radio: 0 the local radio, 1 … 4 a Poll
  // I/O radio at its network address.
  int Open(int index, std::uint16_t address = 0);
  // The name the user gave the radio at an address, shown beside it.
  void SetNames(std::function<std::optional<std::string>(std::uint16_t)> nameAt) { nameAt_ = std::move(nameAt); }

  // 0: the local radio; 1 … 4: the radios of the Poll I/O tab.
  int RadioIndex = 0;
  std::uint16_t NetworkAddress = 0;

  // Sets the controls of the banks in `mask` and their baselines from the
  // image slot of RadioIndex. Returns 1.
  int FillFromImage(BankMask mask);
  void RefreshButtonClick();
  void SendConfiguration();  // "Apply"
  void ResetButtonClick();
  void DefaultButtonClick();
  void FccButtonClick(int mode);
  // Profiles: the radio's settings to a file, and a file's settings into
  // the controls (marked where they differ from the radio) for Apply.
  void SaveProfileButtonClick();
  void LoadProfileButtonClick();
  // The controls a loaded profile changed and that are not written yet.
  int MarkedControls() const;
  void PageControl1Change();

  // The changes Apply would write now, in write order.
  std::vector<ConfigWrite> Changes() const;
  // Every setting's bytes as its controls show them, in write order: what
  // Apply writes for those that changed.
  std::vector<ConfigWrite> ShownWrites() const;

  QTabWidget* PageControl1;
  QPushButton* OKButton;  // "Apply"
  QPushButton* CancelButton;
  QPushButton* RefreshButton;
  QPushButton* SaveProfileButton;
  QPushButton* LoadProfileButton;
  QPushButton* ResetButton;
  QPushButton* DefaultButton;
  QPushButton* FCC1Button;
  QPushButton* FCC2Button;
  QPushButton* Button1;  // "FCC4"
  QLabel* StatusBar1;

 protected:
  void showEvent(QShowEvent* event) override;
  // Cancel, Escape and the close button wait for a running operation.
  void done(int result) override;

 private:
  // Each setting's controls as the pages made them, and their signals.
  void TakeControls(const ConfigPages& pages);
  ControlValues Gather(std::size_t setting) const;
  std::vector<ControlValues> GatherAll() const;
  void Show(std::size_t setting, const ControlValues& values);
  void SetChecked(QAbstractButton* button, bool on);
  void FillStatus(BankMask mask);
  // The direction label and level buttons of each pin on "I/O Peripherals".
  void ShowPinDirections();
  void Mark(std::size_t setting, bool on);
  void ShowRadioStatus();
  // Reads every bank of the radio into its slot and the controls (the main
  // window's panel too); false after saying what failed.
  bool ReadRadio();
  ConfigTarget Target() const { return {RadioIndex, NetworkAddress}; }
  bool Ready() const { return link_ && image_ && prompter_; }

  OperationGuard guard_{*this};
  RadioLink* link_ = nullptr;
  RadioImage* image_ = nullptr;
  Prompter* prompter_ = nullptr;
  std::unique_ptr<LinePort> line_;
  std::function<void()> localStatus_;
  std::function<std::optional<std::string>(std::uint16_t)> nameAt_;
  // Per entry of DialogSettings(): its controls.
  std::vector<std::vector<QWidget*>> controls_;
  // The radio's image slot as last filled or written: what Apply compares
  // the controls with. A copy, since the receive side may rewrite the image
  // under the open dialog.
  std::vector<std::uint8_t> baseline_ = std::vector<std::uint8_t>(kImageSize, 0);
  // The other button of each "1" / "Output" button.
  QHash<QAbstractButton*, QAbstractButton*> partner_;
  QWidget* peripherals_ = nullptr;
  bool profileLoaded_ = false;  // the status line speaks of a loaded profile
  std::array<QWidget*, 6> levelPanels_{};
  std::array<QWidget*, 6> directionLabels_{};
};

}  // namespace qmx

// The ten pages of the configuration dialog, built and laid out from the
// settings table: each row's controls on its page and in its group box,
// named and captioned as the row says (lists get their items, with their
// codes, from there too) and handed to the form; the shown-only values named
// after the table below.
#pragma once

#include <QHash>
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

class QAbstractButton;
class QPushButton;
class QWidget;

namespace qmx {

struct Setting;

// A value the dialog only shows (Status, Diag and Debug pages, the live ADC
// readings).
struct StatusValue {
  enum class Format { Hex, Mac, Chars, Decimal };
  const char* label;
  const char* control;
  std::uint8_t bank, reg, span;
  Format format = Format::Hex;
};
std::span<const StatusValue> StatusValues();

inline constexpr int kPinCount = 6;

struct ConfigPages {
  // "Transceiver Setup", "System", "Status", "Serial", "Protocol",
  // "I/O Peripherals", "I/O Setup", "I/O Setup", "Diag", "Debug".
  std::array<QWidget*, 10> pages{};
  std::array<const char*, 10> titles{};
  // Each setting's controls, in bit order.
  std::map<const Setting*, std::vector<QWidget*>> controls;
  // Each "1" and "Output" button with the other button of its pair.
  QHash<QAbstractButton*, QAbstractButton*> partners;
  // The panels of the "0" / "1" buttons of each pin on "I/O Peripherals",
  // and the label that says the pin's direction.
  std::array<QWidget*, kPinCount> levelPanels{};
  std::array<QWidget*, kPinCount> directionLabels{};
  QPushButton* reset = nullptr;
  QPushButton* defaults = nullptr;
  QPushButton* fcc1 = nullptr;
  QPushButton* fcc2 = nullptr;
  QPushButton* fcc4 = nullptr;
};

ConfigPages BuildConfigPages(QWidget* parent);

}  // namespace qmx

// qmxdemo.ini: the user's choices kept between runs, as raw bytes with no
// header (View options, Serial tab fields, port dialog selections).
//
//   show comm errors, settings in hex, log data, hex mode, scroll realtime
//                                   1 byte each, 1 when checked
//   interval length n, n bytes      text of the interval field
//   transmit length m, m bytes      text of the transmit field
//                                   (n, m: characters of one byte each)
//   data in ASCII, append CR        1 byte each
//   port, baud, parity, stop bits, auto detect
//                                   1 signed byte each: list index, -1 for none
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qmx {

class WorkDir;

inline constexpr std::string_view kSettingsFileName = "qmxdemo.ini";
// A length byte is read as signed, so no text longer than this many
// characters can be stored; longer texts are cut to it when saved.
inline constexpr std::size_t kMaxSettingsText = 127;

// The texts of AppSettings are UTF-8, as everywhere else in the program. The
// file holds them one byte per character, Latin-1 (U+0000 to U+00FF). A
// character one byte cannot hold (above U+00FF), and any byte that is not
// part of a well-formed UTF-8 sequence, is stored as "?": the text keeps its
// length in characters and no character is ever split. Loading gives every
// byte back as the Latin-1 character it stands for.

struct AppSettings {
  // View menu.
  bool showCommErrors = false;
  bool showSettingsInHex = true;
  bool logData = false;
  // Serial tab.
  bool hexMode = true;
  bool scrollRealTime = false;
  std::string intervalText = "0";
  std::string transmitText = "This is a test";
  bool dataInAscii = true;
  bool appendCr = false;
  // The port settings dialog's remembered list selections.
  std::int8_t portIndex = 0;
  std::int8_t baudIndex = 3;
  std::int8_t parityIndex = 0;
  std::int8_t stopBitsIndex = 0;
  std::int8_t autoDetectIndex = 0;

  bool operator==(const AppSettings&) const = default;
};

std::vector<std::uint8_t> EncodeSettings(const AppSettings& settings);

// Applies a file's bytes to `settings`. The file is taken whole or not at
// all: when it is shorter than its own length bytes require, nothing is
// applied and false is returned (every field keeps its value). Bytes after
// the last field are ignored. A length byte of 128 or more stands for an
// empty text and is followed by no text bytes.
bool DecodeSettings(std::span<const std::uint8_t> bytes, AppSettings& settings);

// Reads qmxdemo.ini of `dir` into `settings`. A missing, unreadable or short
// file leaves `settings` as it was; returns whether anything was applied.
bool LoadSettings(const WorkDir& dir, AppSettings& settings);
// Deletes qmxdemo.ini of `dir` and writes it anew. Returns false when the
// file could not be written completely (the caller shows nothing either way).
bool SaveSettings(const WorkDir& dir, const AppSettings& settings);

// The main window's place and size between runs, kept in a file of its own
// beside the settings file (whose layout is fixed): one line of text,
// "x y width height maximised", written when the window closes and read at
// its first show.
inline constexpr std::string_view kWindowFileName = "qmxdemo-window.txt";
struct WindowGeometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool maximized = false;
  bool operator==(const WindowGeometry&) const = default;
};
// Nothing for a missing file or one that does not hold a sensible geometry.
std::optional<WindowGeometry> LoadWindowGeometry(const WorkDir& dir);
bool SaveWindowGeometry(const WorkDir& dir, const WindowGeometry& geometry);

}  // namespace qmx

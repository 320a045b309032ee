#include "mainwindow/settings_file.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "link/workdir.h"

namespace qmx {
namespace {

// The longest file that can hold anything: five flags, two texts with their
// length bytes, two flags and five indexes. Anything after it is ignored,
// so no more than this is ever read.
constexpr std::size_t kMaxUsefulSize = 5 + 2 * (1 + kMaxSettingsText) + 2 + 5;

// One Latin-1 byte per character of `utf8`, at most `limit` of them.
std::string ToFileText(std::string_view utf8, std::size_t limit) {
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};  // below: an overlong form
  std::string out;
  std::size_t i = 0;
  while (i < utf8.size() && out.size() < limit) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    bool wellFormed = len > 0 && utf8.size() - i >= len;
    char32_t c = len == 1 ? lead : lead & (0x7Fu >> len);
    for (std::size_t k = 1; wellFormed && k < len; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      wellFormed = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3Fu);
    }
    if (!wellFormed || c < kLeast[len]) {
      out += '?';  // a stray byte: one character of its own
      ++i;
      continue;
    }
    out += c <= 0xFF ? static_cast<char>(c) : '?';
    i += len;
  }
  return out;
}

std::string FromFileText(std::span<const std::uint8_t> latin1) {
  std::string out;
  out.reserve(latin1.size() * 2);
  for (std::uint8_t b : latin1) {
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Byte(std::uint8_t& out) {
    if (pos_ >= bytes_.size()) return false;
    out = bytes_[pos_++];
    return true;
  }
  bool Flag(bool& out) {
    std::uint8_t b;
    if (!Byte(b)) return false;
    out = b != 0;
    return true;
  }
  bool Signed(std::int8_t& out) {
    std::uint8_t b;
    if (!Byte(b)) return false;
    out = static_cast<std::int8_t>(b);
    return true;
  }
  // A signed length byte and that many characters; a negative length is an
  // empty text with no characters after it.
  bool Text(std::string& out) {
    std::int8_t n;
    if (!Signed(n)) return false;
    out.clear();
    if (n <= 0) return true;
    const auto len = static_cast<std::size_t>(n);
    if (bytes_.size() - pos_ < len) return false;
    out = FromFileText(bytes_.subspan(pos_, len));
    pos_ += len;
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

void PutText(std::vector<std::uint8_t>& out, const std::string& text) {
  const std::string bytes = ToFileText(text, kMaxSettingsText);
  out.push_back(static_cast<std::uint8_t>(bytes.size()));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

std::vector<std::uint8_t> EncodeSettings(const AppSettings& s) {
  std::vector<std::uint8_t> out;
  out.reserve(kMaxUsefulSize);
  out.push_back(s.showCommErrors ? 1 : 0);
  out.push_back(s.showSettingsInHex ? 1 : 0);
  out.push_back(s.logData ? 1 : 0);
  out.push_back(s.hexMode ? 1 : 0);
  out.push_back(s.scrollRealTime ? 1 : 0);
  PutText(out, s.intervalText);
  PutText(out, s.transmitText);
  out.push_back(s.dataInAscii ? 1 : 0);
  out.push_back(s.appendCr ? 1 : 0);
  for (std::int8_t index : {s.portIndex, s.baudIndex, s.parityIndex, s.stopBitsIndex, s.autoDetectIndex})
    out.push_back(static_cast<std::uint8_t>(index));
  return out;
}

bool DecodeSettings(std::span<const std::uint8_t> bytes, AppSettings& settings) {
  // Fill a copy and hand it over only when every field was there.
  AppSettings s = settings;
  Reader r(bytes);
  const bool complete = r.Flag(s.showCommErrors) && r.Flag(s.showSettingsInHex) && r.Flag(s.logData) &&
                        r.Flag(s.hexMode) && r.Flag(s.scrollRealTime) && r.Text(s.intervalText) &&
                        r.Text(s.transmitText) && r.Flag(s.dataInAscii) && r.Flag(s.appendCr) &&
                        r.Signed(s.portIndex) && r.Signed(s.baudIndex) && r.Signed(s.parityIndex) &&
                        r.Signed(s.stopBitsIndex) && r.Signed(s.autoDetectIndex);
  if (!complete) return false;
  settings = std::move(s);
  return true;
}

bool LoadSettings(const WorkDir& dir, AppSettings& settings) {
  const auto path = dir.SettingsFile(kSettingsFileName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<std::uint8_t> bytes(kMaxUsefulSize);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return false;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return DecodeSettings(bytes, settings);
}

bool SaveSettings(const WorkDir& dir, const AppSettings& settings) {
  const auto path = dir.SettingsFile(kSettingsFileName);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return false;
  std::filesystem::remove(path, ec);
  const auto bytes = EncodeSettings(settings);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::optional<WindowGeometry> LoadWindowGeometry(const WorkDir& dir) {
  std::ifstream in(dir.SettingsFile(kWindowFileName));
  WindowGeometry g;
  int maximized = 0;
  // Sizes beyond any screen are as wrong as negative ones.
  constexpr int kLargest = 100000;
  if (!(in >> g.x >> g.y >> g.width >> g.height >> maximized)) return std::nullopt;
  if (g.width <= 0 || g.height <= 0 || g.width > kLargest || g.height > kLargest) return std::nullopt;
  if (std::abs(g.x) > kLargest || std::abs(g.y) > kLargest || (maximized != 0 && maximized != 1)) return std::nullopt;
  g.maximized = maximized == 1;
  return g;
}

bool SaveWindowGeometry(const WorkDir& dir, const WindowGeometry& g) {
  std::ofstream out(dir.SettingsFile(kWindowFileName), std::ios::trunc);
  out << g.x << ' ' << g.y << ' ' << g.width << ' ' << g.height << ' ' << (g.maximized ? 1 : 0) << '\n';
  return static_cast<bool>(out);
}

}  // namespace qmx

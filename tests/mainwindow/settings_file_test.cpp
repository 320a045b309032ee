#include "mainwindow/settings_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "link/workdir.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes DefaultFile() {
  Bytes b = {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x30, 0x0E};
  const std::string text = "This is a test";
  b.insert(b.end(), text.begin(), text.end());
  b.insert(b.end(), {0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00});
  return b;
}

AppSettings Unusual() {
  AppSettings s;
  s.showCommErrors = true;
  s.showSettingsInHex = false;
  s.logData = true;
  s.hexMode = false;
  s.scrollRealTime = true;
  s.intervalText = "250";
  s.transmitText = "Hello\r\n\x01\u00FF";
  s.dataInAscii = false;
  s.appendCr = true;
  s.portIndex = -1;
  s.baudIndex = 7;
  s.parityIndex = 2;
  s.stopBitsIndex = 1;
  s.autoDetectIndex = -128;
  return s;
}

TEST(SettingsFormat, DefaultsGiveThe29ByteFile) {
  const Bytes file = EncodeSettings(AppSettings{});
  EXPECT_EQ(file.size(), 29u);
  EXPECT_EQ(file, DefaultFile());
}

TEST(SettingsFormat, RoundTrip) {
  for (const AppSettings& s : {AppSettings{}, Unusual()}) {
    AppSettings back = Unusual();
    back.intervalText = "junk";
    ASSERT_TRUE(DecodeSettings(EncodeSettings(s), back));
    EXPECT_EQ(back, s);
  }
}

TEST(SettingsFormat, EmptyTexts) {
  AppSettings s;
  s.intervalText.clear();
  s.transmitText.clear();
  const Bytes file = EncodeSettings(s);
  EXPECT_EQ(file.size(), 14u);
  EXPECT_EQ(file[5], 0);
  EXPECT_EQ(file[6], 0);
  AppSettings back;
  ASSERT_TRUE(DecodeSettings(file, back));
  EXPECT_EQ(back.intervalText, "");
  EXPECT_EQ(back.transmitText, "");
}

TEST(SettingsFormat, LongTextsAreCutToWhatALengthByteHolds) {
  AppSettings s;
  s.intervalText = std::string(127, 'i');
  s.transmitText = std::string(300, 't');
  const Bytes file = EncodeSettings(s);
  EXPECT_EQ(file[5], 127);
  AppSettings back;
  ASSERT_TRUE(DecodeSettings(file, back));
  EXPECT_EQ(back.intervalText, std::string(127, 'i'));
  EXPECT_EQ(back.transmitText, std::string(127, 't'));
}

// Texts are UTF-8 in memory and one Latin-1 byte per character in the file.
TEST(SettingsFormat, TextsAreStoredOneByteACharacter) {
  const std::string euro = "\u20AC";
  std::string euros, accents;
  for (int i = 0; i < 80; ++i) euros += euro;
  for (int i = 0; i < 200; ++i) accents += "\u00E9";
  struct Case {
    std::string text;
    Bytes stored;
    std::string loaded;
  } cases[] = {
      {"Gr\u00FC\u00DFe", {'G', 'r', 0xFC, 0xDF, 'e'}, "Gr\u00FC\u00DFe"},
      {euros, Bytes(80, '?'), std::string(80, '?')},                    // beyond one byte
      {accents, Bytes(127, 0xE9), accents.substr(0, 2 * 127)},          // cut between characters
      {"a\xFF\xC3" "b\xE2\x82", {'a', '?', '?', 'b', '?', '?'}, "a??b??"},  // not UTF-8
      {"\xC0\x80\U0001F600", {'?', '?', '?'}, "???"},                    // overlong, four bytes
  };
  for (const Case& c : cases) {
    AppSettings s;
    s.transmitText = c.text;
    const Bytes file = EncodeSettings(s);
    ASSERT_EQ(file[7], c.stored.size()) << c.loaded;
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 8 + static_cast<std::ptrdiff_t>(c.stored.size())), c.stored);
    AppSettings back;
    ASSERT_TRUE(DecodeSettings(file, back));
    EXPECT_EQ(back.transmitText, c.loaded);
    EXPECT_EQ(back.dataInAscii, s.dataInAscii);  // the fields after it are where they were
    EXPECT_EQ(back.autoDetectIndex, s.autoDetectIndex);
  }
}

TEST(SettingsFormat, LengthByteOf128OrMoreIsAnEmptyText) {
  for (std::uint8_t len : {0x80, 0xC5, 0xFF}) {
    Bytes file = {1, 0, 1, 0, 1, len, 0x03, 'a', 'b', 'c', 0, 1, 2, 4, 1, 0, 2};
    AppSettings s;
    ASSERT_TRUE(DecodeSettings(file, s)) << int(len);
    EXPECT_EQ(s.intervalText, "");
    EXPECT_EQ(s.transmitText, "abc");
    EXPECT_FALSE(s.dataInAscii);
    EXPECT_TRUE(s.appendCr);
    EXPECT_EQ(s.portIndex, 2);
    EXPECT_EQ(s.autoDetectIndex, 2);
  }
}

TEST(SettingsFormat, FlagsAreAnyNonZeroByte) {
  Bytes file = DefaultFile();
  file[0] = 0x80;
  file[2] = 0x02;
  AppSettings s;
  ASSERT_TRUE(DecodeSettings(file, s));
  EXPECT_TRUE(s.showCommErrors);
  EXPECT_TRUE(s.logData);
}

TEST(SettingsFormat, ShortFileAppliesNothing) {
  const Bytes full = EncodeSettings(Unusual());
  for (std::size_t n = 0; n < full.size(); ++n) {
    AppSettings s;
    EXPECT_FALSE(DecodeSettings(std::span(full.data(), n), s)) << n;
    EXPECT_EQ(s, AppSettings{}) << "cut at " << n;
  }
  // A length byte that promises more than the file holds.
  Bytes file = DefaultFile();
  file[7] = 100;
  AppSettings s;
  EXPECT_FALSE(DecodeSettings(file, s));
  EXPECT_EQ(s, AppSettings{});
}

TEST(SettingsFormat, TrailingBytesAreIgnored) {
  Bytes file = EncodeSettings(Unusual());
  file.insert(file.end(), {9, 9, 9});
  AppSettings s;
  ASSERT_TRUE(DecodeSettings(file, s));
  EXPECT_EQ(s, Unusual());
}

class SettingsFileTest : public ::testing::Test {
 protected:
  test::TempDir tmp;
  WorkDir dir{tmp.path()};
  std::filesystem::path File() const { return dir.File("qmxdemo.ini"); }
  Bytes Read() const {
    std::ifstream in(File(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void Write(const Bytes& b) const {
    std::ofstream out(File(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
};

TEST_F(SettingsFileTest, MissingFileKeepsDefaults) {
  AppSettings s = Unusual();
  EXPECT_FALSE(LoadSettings(dir, s));
  EXPECT_EQ(s, Unusual());
}

TEST_F(SettingsFileTest, SaveThenLoad) {
  ASSERT_TRUE(SaveSettings(dir, AppSettings{}));
  EXPECT_EQ(Read(), DefaultFile());
  // Saving again replaces the file completely, also with a shorter one.
  AppSettings small;
  small.intervalText.clear();
  small.transmitText = "x";
  ASSERT_TRUE(SaveSettings(dir, small));
  EXPECT_EQ(Read().size(), 15u);
  ASSERT_TRUE(SaveSettings(dir, Unusual()));
  AppSettings s;
  ASSERT_TRUE(LoadSettings(dir, s));
  EXPECT_EQ(s, Unusual());
}

TEST_F(SettingsFileTest, TruncatedFileKeepsDefaults) {
  const Bytes full = EncodeSettings(Unusual());
  for (std::size_t n = 0; n < full.size(); ++n) {
    Write(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
    AppSettings s;
    EXPECT_FALSE(LoadSettings(dir, s)) << n;
    EXPECT_EQ(s, AppSettings{}) << n;
  }
}

TEST_F(SettingsFileTest, UnwritableDirectoryReportsFailure) {
  WorkDir gone{tmp.path() / "no" / "such" / "dir"};
  EXPECT_FALSE(SaveSettings(gone, AppSettings{}));
  // A directory where the file should be is neither loaded nor replaced.
  std::filesystem::create_directory(File());
  AppSettings s = Unusual();
  EXPECT_FALSE(LoadSettings(dir, s));
  EXPECT_EQ(s, Unusual());
}

// The per-user places: the settings and the window's place go to the
// settings folder, never to the logs'.
TEST(SettingsFolder, SettingsGoToTheSettingsFolder) {
  test::TempDir tmp;
  const auto settings = tmp.path() / "config", logs = tmp.path() / "state";
  std::filesystem::create_directory(settings);
  std::filesystem::create_directory(logs);
  const WorkDir dir(settings, logs);
  ASSERT_TRUE(SaveSettings(dir, Unusual()));
  ASSERT_TRUE(SaveWindowGeometry(dir, WindowGeometry{1, 2, 300, 200, false}));
  EXPECT_TRUE(std::filesystem::is_empty(logs));
  EXPECT_TRUE(std::filesystem::exists(settings / "qmxdemo.ini"));
  AppSettings s;
  ASSERT_TRUE(LoadSettings(dir, s));
  EXPECT_EQ(s, Unusual());
  EXPECT_TRUE(LoadWindowGeometry(dir).has_value());
}

}  // namespace
}  // namespace qmx

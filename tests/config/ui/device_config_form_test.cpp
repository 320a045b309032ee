// The configuration and MAC address dialogs against the simulated module:
// what a fill shows, which writes Apply puts on the wire for what the user
// changed, and the MAC text the dialog refuses.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <iterator>
#include <string>

#include "config/ui/device_config_form.h"
#include "config/ui/mac_form.h"
#include "link/number_text.h"
#include "link/ui/qt_waiter.h"
#include "link/packet.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/ui/palettes.h"
#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

using std::chrono::milliseconds;
using test::Shown;

// Each command the module took but Enter Protocol Mode: the type and payload
// in hex (a Set Register as "04 reg bank span data").
std::vector<std::string> Writes(sim::SimModule& module) {
  std::vector<std::string> out;
  for (const Frame& f : module.ReceivedFrames()) {
    if (f.type() == ptype::EnterProtocolMode) continue;
    std::string text = Hex2(f.type());
    for (std::size_t i = 0; i < f.payloadSize(); ++i) text += " " + Hex2(f.payload()[i]);
    out.push_back(text);
  }
  module.ClearReceivedFrames();
  return out;
}

class ConfigDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.commands().EnterProtocolMode());
    ASSERT_EQ(ReadBanks(s.commands(), image, kAllBanks, 0, 0), kAllBanks);
    form.Attach(*s.link, image, s.prompter, [this] { ++localStatusShown; });
    form.show();
    s.module->ClearReceivedFrames();
  }
  void TearDown() override { form.hide(); }
  template <class T>
  T* Control(const char* name) {
    T* w = form.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::vector<Shown> Apply() {
    s.prompter.Clear();
    QTest::mouseClick(form.OKButton, Qt::LeftButton);
    return s.prompter.All();
  }

  QApplication& app = test::QtApp();
  test::SimLink s{sim::SimOptions{.bootTime = milliseconds(0), .remoteLatency = milliseconds(0)}};
  RadioImage image;
  TDeviceConfigForm form;
  int localStatusShown = 0;
};

const Shown kNoChanges{"No changes were detected.", "No changes", false};
const Shown kSaved{"Settings Saved.", "Save Successfully", false};

TEST_F(ConfigDialogTest, ApplyWritesOnlyWhatTheUserChanged) {
  // Enter in an edit presses no button (the first on the page is "Reset").
  QTest::keyClick(Control<QLineEdit>("TXPowerEdit"), Qt::Key_Return);
  EXPECT_TRUE(Writes(*s.module).empty());

  // Right after the fill nothing differs from the radio.
  EXPECT_EQ(Apply(), std::vector<Shown>{kNoChanges});
  EXPECT_TRUE(Writes(*s.module).empty());

  Control<QLineEdit>("TXPowerEdit")->setText("0x1FF");  // cut to the register's byte
  Control<QComboBox>("EscapeSequenceComboBox")->setCurrentIndex(1);
  EXPECT_EQ(Apply(), std::vector<Shown>{kSaved});
  EXPECT_EQ(Writes(*s.module), (std::vector<std::string>{"04 0A 00 01 FF", "04 06 04 01 01", "04 FF FF 01 01"}));

  // The written values are the new baselines.
  EXPECT_EQ(Apply(), std::vector<Shown>{kNoChanges});
  EXPECT_TRUE(Writes(*s.module).empty());
}

TEST_F(ConfigDialogTest, KeyIsWrittenOnlyWhenTyped) {
  auto* key = Control<QLineEdit>("SecurityKeyEdit");
  EXPECT_EQ(key->text(), "****************");
  EXPECT_EQ(Apply(), std::vector<Shown>{kNoChanges});

  key->setText("secret");
  EXPECT_FALSE(key->displayText().contains("secret")) << "the key shows only as a password";
  const Shown resetQuestion{"Some settings require the radio to be reset.  Do you wish to reset the radio?",
                            "Radio Reset", true};
  EXPECT_EQ(Apply(), (std::vector<Shown>{kSaved, resetQuestion}));
  EXPECT_EQ(Writes(*s.module)[0], "04 01 01 10 73 65 63 72 65 74 00 00 00 00 00 00 00 00 00 00");

  // A fill puts the asterisks back without counting as an edit.
  form.FillFromImage(kAllBanks);
  EXPECT_EQ(key->text(), "****************");
  EXPECT_TRUE(form.Changes().empty());
}

TEST_F(ConfigDialogTest, CodesOutsideAListLeaveTheSelection) {
  auto* baud = Control<QComboBox>("BaudrateComboBox");
  auto* mode = Control<QComboBox>("DeviceModeComboBox");
  EXPECT_EQ(baud->currentText(), "9600");
  image.Slot(0)[ImageOffset(3, 0)] = 10;  // no item
  image.Slot(0)[ImageOffset(3, 1)] = 0x38;
  image.Slot(0)[ImageOffset(0, 0)] = 5;  // beyond the list
  form.FillFromImage(kAllBanks);
  EXPECT_EQ(baud->currentText(), "9600");
  EXPECT_EQ(Control<QComboBox>("ParityComboBox")->currentText(), "Odd");
  EXPECT_EQ(Control<QComboBox>("StopBitsComboBox")->currentText(), "2");
  EXPECT_EQ(mode->currentIndex(), -1);
  // Neither list holds a value to write: nothing changed.
  image.Slot(0)[ImageOffset(3, 1)] = 0x00;
  form.FillFromImage(kAllBanks);
  EXPECT_TRUE(form.Changes().empty());
  // Until the user picks an item: then it is written.
  QTest::keyClick(baud, Qt::Key_Down);
  ASSERT_EQ(form.Changes().size(), 1u);
  EXPECT_EQ(form.Changes()[0].data, std::vector<std::uint8_t>{7}) << "19200";
}

// The controls filled from a radio's slot write back the bytes they were
// filled from: every setting, each bit both ways (the key is never read
// back). Raw bytes the controls cannot show are not written at all.
TEST_F(ConfigDialogTest, WhatTheControlsShowWritesBackTheRadiosBytes) {
  const auto slot = image.Slot(0);
  for (const std::uint8_t pattern : {0xA5, 0x5A}) {
    const bool first = pattern == 0xA5;
    for (const Setting& s : Settings()) {
      const auto at = slot.begin() + static_cast<std::ptrdiff_t>(ImageOffset(s.address.bank, s.address.reg));
      std::string text, why;
      if (s.encoding == Encoding::Items) text = (first ? s.items.back() : s.items.front()).text;
      if (s.encoding == Encoding::Text) text = first ? "Node \xE9" "7" : "";
      if (s.encoding == Encoding::OnOff) text = first ? "on" : "off";
      if (s.encoding == Encoding::Bits) text = std::to_string((first ? 0xAA : 0x55) & ((1 << s.digits) - 1));
      if (s.encoding == Encoding::Hex || s.encoding == Encoding::Channels)
        for (int i = 0; i < s.address.span; ++i) at[i] = static_cast<std::uint8_t>(pattern + i);
      else if (s.encoding != Encoding::Key)
        std::ranges::copy(ParseSetting(s, text, slot, why).value(), at);
    }
    form.FillFromImage(kAllBanks);
    for (const ConfigWrite& w : form.ShownWrites()) {
      const RegisterAddress a = w.setting->address;
      const auto field = slot.subspan(ImageOffset(a.bank, a.reg), a.span);
      if (w.setting->encoding != Encoding::Key) {
        EXPECT_EQ(w.data, std::vector<std::uint8_t>(field.begin(), field.end())) << w.setting->key << " " << int{pattern};
      }
    }
    EXPECT_TRUE(form.Changes().empty());
  }
  const std::pair<const char*, std::uint8_t> odd[] = {
      {"security-mode", 2}, {"device-mode", 5}, {"serial-baud-rate", 10}, {"serial-parity", 0x18},
      {"io-report-mode", 6}, {"gpio-direction", 0xC1}, {"gpio-init", 0x41}, {"gpio-edge-trigger", 0xF1}};
  for (const auto& [key, byte] : odd) slot[ImageOffset(FindSetting(key)->address.bank, FindSetting(key)->address.reg)] = byte;
  form.FillFromImage(kAllBanks);
  EXPECT_TRUE(form.Changes().empty());
}

TEST_F(ConfigDialogTest, PeripheralsFollowTheDirectionsTheRadioReported) {
  image.Slot(0)[ImageOffset(6, 0)] = 0x05;  // GPIO0 and GPIO2 outputs
  form.FillFromImage(kAllBanks);
  Control<QRadioButton>("GPIO1OutputRadioButton")->setChecked(true);  // not applied
  form.PageControl1->setCurrentIndex(5);
  EXPECT_EQ(Control<QLabel>("GPIO0StaticText")->text(), "Output");
  EXPECT_EQ(Control<QLabel>("GPIO1StaticText")->text(), "Input");
  EXPECT_TRUE(Control<QWidget>("GPIO2Panel")->isEnabled());
  EXPECT_FALSE(Control<QWidget>("GPIO1Panel")->isEnabled());

  // A Refresh shows the directions the radio now reports without leaving
  // the tab.
  const std::uint8_t gpio1Output[] = {0x02};
  ASSERT_TRUE(s.module->PokeRegisters(sim::kLocal, 6, 0, gpio1Output));
  QTest::mouseClick(form.RefreshButton, Qt::LeftButton);
  EXPECT_EQ(Control<QLabel>("GPIO0StaticText")->text(), "Input");
  EXPECT_EQ(Control<QLabel>("GPIO1StaticText")->text(), "Output");
  EXPECT_TRUE(Control<QWidget>("GPIO1Panel")->isEnabled());
  EXPECT_FALSE(Control<QWidget>("GPIO2Panel")->isEnabled());
}

TEST_F(ConfigDialogTest, RefreshShowsWhatTheRadioHolds) {
  const std::uint8_t tag[] = {'N', 'o', 'd', 'e', '7', 0};
  ASSERT_TRUE(s.module->PokeRegisters(sim::kLocal, 0, 28, tag));
  QTest::mouseClick(form.RefreshButton, Qt::LeftButton);
  EXPECT_EQ(s.prompter.All(), (std::vector<Shown>{{"Refresh Successful.", "Refresh Successful", false}}));
  EXPECT_EQ(Control<QLineEdit>("UserTagEdit")->text(), "Node7");
  EXPECT_EQ(localStatusShown, 1);
  EXPECT_TRUE(form.Changes().empty());  // the tag's new text is not an edit
}

// "Defaults" replaces every setting at once: it asks first (No sends
// nothing), and afterwards the controls show what the radio holds, whatever
// the answer to the reset question.
TEST_F(ConfigDialogTest, DefaultsAsksFirstThenShowsWhatTheRadioHolds) {
  auto* power = Control<QLineEdit>("TXPowerEdit");
  auto* tag = Control<QLineEdit>("UserTagEdit");
  const Shown replace{"Replace all settings of the radio with the factory defaults?", "Factory Defaults", true};
  const Shown reset{"Do you want to reset the radio to have the changes take effect.", "Reset Radio", true};
  const auto radioHolds = [&](std::uint8_t reg, std::uint8_t span) {
    return *s.module->Registers(sim::kLocal, 0, reg, span);
  };
  for (const bool resetToo : {false, true}) {
    SCOPED_TRACE(resetToo ? "reset" : "no reset");
    const std::uint8_t customPower[] = {0x10}, customTag[] = {'A', 0};
    ASSERT_TRUE(s.module->PokeRegisters(sim::kLocal, 0, 0x0A, customPower));
    ASSERT_TRUE(s.module->PokeRegisters(sim::kLocal, 0, 28, customTag));
    form.RefreshButtonClick();
    ASSERT_EQ(power->text(), "0x10");
    ASSERT_EQ(tag->text(), "A");
    s.module->ClearReceivedFrames();

    s.prompter.Clear();
    QTest::mouseClick(form.DefaultButton, Qt::LeftButton);  // answered No
    EXPECT_EQ(s.prompter.All(), std::vector<Shown>{replace});
    EXPECT_TRUE(s.module->ReceivedFrames().empty());
    EXPECT_EQ(power->text(), "0x10");

    s.prompter.Clear();
    s.prompter.AnswerNext(true);
    s.prompter.AnswerNext(resetToo);
    const int panelShown = localStatusShown;
    QTest::mouseClick(form.DefaultButton, Qt::LeftButton);
    EXPECT_EQ(s.prompter.All(), (std::vector<Shown>{replace, reset}));
    const auto sent = Writes(*s.module);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], "04 FF FF 01 00");
    EXPECT_NE(radioHolds(0x0A, 1), std::vector<std::uint8_t>{0x10}) << "the radio holds its defaults";
    EXPECT_EQ(power->text().toStdString(), HexText(radioHolds(0x0A, 1)[0], 2));
    const auto factoryTag = radioHolds(28, 16);
    EXPECT_EQ(tag->text().toLatin1().toStdString(),
              std::string(factoryTag.begin(), std::ranges::find(factoryTag, std::uint8_t{0})));
    EXPECT_TRUE(form.Changes().empty());
    EXPECT_EQ(localStatusShown, panelShown + 1);
  }
}

// The bottom buttons have keyboard accelerators and follow the pages in the
// tab order.
TEST_F(ConfigDialogTest, BottomButtonsHaveMnemonicsAndComeAfterThePages) {
  const std::vector<QPushButton*> bottom{form.SaveProfileButton, form.LoadProfileButton, form.OKButton,
                                         form.CancelButton, form.RefreshButton};
  std::vector<QWidget*> chain;
  for (QWidget* w = form.nextInFocusChain(); w != &form; w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
  std::vector<QWidget*> tail(chain.end() - static_cast<std::ptrdiff_t>(bottom.size()), chain.end());
  EXPECT_EQ(tail, std::vector<QWidget*>(bottom.begin(), bottom.end()));
  QStringList captions;
  for (QPushButton* b : bottom) {
    EXPECT_TRUE(b->text().contains('&')) << b->text().toStdString();
    captions << QString(b->text()).remove('&');
  }
  EXPECT_EQ(captions, (QStringList{"Save Profile...", "Load Profile...", "Apply", "Cancel", "Refresh"}));
  // Alt+R presses Refresh.
  s.prompter.Clear();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(form.windowHandle(), Qt::Key_R, Qt::AltModifier);
  for (int i = 0; i < 50 && s.prompter.Count() == 0; ++i) QTest::qWait(20);  // an animated click
  EXPECT_EQ(s.prompter.All(), (std::vector<Shown>{{"Refresh Successful.", "Refresh Successful", false}}));
}

TEST_F(ConfigDialogTest, RemoteRadioIsWrittenOverTheAir) {
  form.hide();
  form.RadioIndex = 2;
  form.NetworkAddress = 0x0002;
  ASSERT_EQ(ReadBanks(s.commands(), image, kAllBanks, 0x0002, 2), kAllBanks);
  form.show();
  s.module->ClearReceivedFrames();
  Control<QLineEdit>("PWM0InitEdit")->setText("0x0123");
  EXPECT_EQ(Apply(), std::vector<Shown>{kSaved});
  const auto writes = Writes(*s.module);
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes[0], "0B 02 00 07 06 02 23 01");
}

// A profile saved from the radio, edited in one line, loads into the
// controls marked where it differs; Apply writes exactly that. A bad line is
// refused with its number and changes nothing.
TEST_F(ConfigDialogTest, ProfileLoadsIntoTheControlsForApply) {
  test::TempDir dir;
  const std::string file = (dir.path() / "radio.qmxprofile").string();
  s.prompter.AnswerFile(file);
  form.SaveProfileButtonClick();
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto at = text.find("tx-power = ");
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, text.find('\n', at) - at, "tx-power = 0x07");
  std::ofstream(file, std::ios::trunc) << text;

  s.prompter.AnswerFile(file);
  form.LoadProfileButtonClick();
  EXPECT_EQ(Control<QLineEdit>("TXPowerEdit")->text(), "0x07");
  EXPECT_EQ(form.MarkedControls(), 1);
  EXPECT_TRUE(Writes(*s.module).empty()) << "loading writes nothing";
  EXPECT_EQ(Apply(), std::vector<Shown>{kSaved});
  EXPECT_EQ(Writes(*s.module), (std::vector<std::string>{"04 0A 00 01 07", "04 FF FF 01 01"}));
  EXPECT_EQ(form.MarkedControls(), 0);

  std::ofstream(file, std::ios::trunc) << "# model: QMX2400\ntx-power = 0x08\nno-such-key = 1\n";
  s.prompter.Clear();
  s.prompter.AnswerFile(file);
  form.LoadProfileButtonClick();
  ASSERT_EQ(s.prompter.Count(), 1u);
  EXPECT_NE(s.prompter.All()[0].text.find("line 3"), std::string::npos) << s.prompter.All()[0].text;
  EXPECT_EQ(Control<QLineEdit>("TXPowerEdit")->text(), "0x07");
  EXPECT_EQ(form.MarkedControls(), 0);
}

// A control a loaded profile marks reads well on light and dark palettes
// alike, also where the highlight colour is bright: its text stands out from
// the mark by 4.5:1 at least, and the mark from an unmarked control.
TEST_F(ConfigDialogTest, ProfileMarksAreReadableOnLightAndDarkPalettes) {
  test::TempDir dir;
  const std::string file = (dir.path() / "power.qmxprofile").string();
  std::ofstream(file) << "tx-power = 0x07\n";
  auto* power = Control<QLineEdit>("TXPowerEdit");
  auto* unmarked = Control<QLineEdit>("InitialPanIDEdit");
  QPalette amber = test::DarkPalette();  // a bright highlight under light text
  amber.setColor(QPalette::Highlight, QColor(0xFF, 0xC0, 0x00));
  for (const QPalette& palette : {QApplication::palette(), test::DarkPalette(), amber}) {
    SCOPED_TRACE(IsDark(Rgb(palette.color(QPalette::Base))) ? "dark" : "light");
    form.setPalette(palette);
    form.FillFromImage(kAllBanks);
    s.prompter.AnswerFile(file);
    form.LoadProfileButtonClick();
    ASSERT_EQ(form.MarkedControls(), 1);
    const QImage shot = power->grab().toImage();
    // Right of the short text: the mark alone; its left half holds the text.
    const QColor mark = shot.pixelColor(shot.width() - 6, shot.height() / 2);
    const QColor text = test::Most(shot.copy(3, 3, shot.width() / 2, shot.height() - 6),
                                   [&](const QColor& c) { return int(100 * ContrastRatio(Rgb(c), Rgb(mark))); });
    EXPECT_GE(ContrastRatio(Rgb(text), Rgb(mark)), kReadableContrast)
        << text.name().toStdString() << " on " << mark.name().toStdString();
    EXPECT_EQ(text, palette.color(QPalette::Text)) << "the text keeps the palette's colour";
    const QImage plain = unmarked->grab().toImage();
    EXPECT_GE(ContrastRatio(Rgb(mark), Rgb(plain.pixelColor(plain.width() - 6, plain.height() / 2))), 1.2)
        << "the mark shows";
  }
}

// A radio whose on/off bytes are 2 or 5 (on, as much as 1): a profile saved
// from it loads back with nothing marked, and Apply writes nothing, as
// qmxctl's config diff and load decide.
TEST_F(ConfigDialogTest, AProfileOfTheRadioItselfChangesNothing) {
  const std::uint8_t two[] = {2}, five[] = {5};
  ASSERT_TRUE(s.module->PokeRegisters(sim::kLocal, 1, 0, two));   // security mode
  ASSERT_TRUE(s.module->PokeRegisters(sim::kLocal, 5, 2, five));  // GPIO2 level
  ASSERT_TRUE(s.module->PokeRegisters(sim::kLocal, 6, 4, two));   // use sleep I/O states
  form.RefreshButtonClick();
  s.prompter.Clear();
  s.module->ClearReceivedFrames();
  test::TempDir dir;
  const std::string file = (dir.path() / "radio.qmxprofile").string();
  s.prompter.AnswerFile(file);
  form.SaveProfileButtonClick();
  s.prompter.AnswerFile(file);
  form.LoadProfileButtonClick();
  EXPECT_EQ(form.MarkedControls(), 0);
  EXPECT_EQ(Apply(), std::vector<Shown>{kNoChanges});
  EXPECT_TRUE(Writes(*s.module).empty());
}

// A radio that answers late, waited for with the windows live as in the
// program: clicks and keys are handled while a command waits.
struct SlowRadio {
  SlowRadio() {
    test::QtApp();
    EXPECT_TRUE(s.Open());
    s.module->SetFault(sim::Fault::LateReply, -1, 60);
  }
  // Presses `button` and, while its first command waits, presses it again,
  // then Cancel (when there is one), Escape and the window's close button.
  // Returns the dialog's push buttons that were enabled meanwhile.
  std::vector<std::string> PressTwiceAndClose(QDialog& dialog, QPushButton* button, QPushButton* cancel = nullptr) {
    std::vector<std::string> enabled;
    bool pressed = false;
    QTimer::singleShot(10, &dialog, [&] {
      pressed = true;
      for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->isEnabled()) enabled.push_back(b->objectName().toStdString());
      QTest::mouseClick(button, Qt::LeftButton);
      if (cancel) QTest::mouseClick(cancel, Qt::LeftButton);
      QTest::keyClick(&dialog, Qt::Key_Escape);
      dialog.close();
    });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(pressed) << "the first command did not wait";
    return enabled;
  }
  test::SimLink s{sim::SimOptions{.bootTime = milliseconds(0)}, std::make_unique<QtWaiter>()};
};

TEST(ConfigDialogSlowRadioTest, OneOperationAtATimeAndTheDialogStaysOpenMeanwhile) {
  SlowRadio radio;
  RadioImage image;
  TDeviceConfigForm form;
  form.Attach(*radio.s.link, image, radio.s.prompter);
  form.show();
  form.findChild<QLineEdit*>("TXPowerEdit")->setText("0x07");
  for (QPushButton* button :
       {form.OKButton, form.RefreshButton, form.DefaultButton, form.ResetButton, form.FCC1Button}) {
    SCOPED_TRACE(button->objectName().toStdString());
    radio.s.module->ClearReceivedFrames();
    if (button == form.DefaultButton) radio.s.prompter.AnswerNext(true);  // replace every setting
    EXPECT_EQ(radio.PressTwiceAndClose(form, button, form.CancelButton), std::vector<std::string>{});
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(button->isEnabled() && form.CancelButton->isEnabled());
    if (button == form.OKButton) {
      EXPECT_EQ(Writes(*radio.s.module), (std::vector<std::string>{"04 0A 00 01 07", "04 FF FF 01 01"}));
      EXPECT_EQ(radio.s.prompter.All(), std::vector<Shown>{kSaved});
    }
  }
  // Once the operation has ended the dialog closes as before.
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
}

// The dialog opens over the main window: with that window in the lower
// half of the screen, as low as the screen lets it, not in the middle.
TEST(ConfigDialogPlaceTest, OpensOverItsOwnerWindow) {
  test::QtApp();
  const QRect screen = QApplication::primaryScreen()->availableGeometry();
  QWidget owner;
  owner.setGeometry(screen.left(), screen.center().y(), screen.width(), screen.height() / 2);
  owner.show();
  TDeviceConfigForm form(&owner);
  form.show();
  EXPECT_EQ(form.frameGeometry().bottom(), screen.bottom()) << "top " << form.frameGeometry().top();
}

TEST(MacDialogTest, OneWriteAtATimeAndTheDialogStaysOpenMeanwhile) {
  SlowRadio radio;
  TMACForm form;
  form.Attach(*radio.s.link, radio.s.prompter);
  form.MACAddressEdit->setText("00:11:22:33:44:55:66:77");
  form.show();
  EXPECT_EQ(radio.PressTwiceAndClose(form, form.WriteButton), std::vector<std::string>{});
  EXPECT_EQ(radio.s.prompter.All(),
            (std::vector<Shown>{{"MAC Address changed successfully.", "MAC Address Changed", false}}));
  EXPECT_EQ(Writes(*radio.s.module).size(), 3u);  // override, address, Memory Save
  EXPECT_FALSE(form.isVisible()) << "a written address closes the dialog";
}

TEST(MacDialogTest, RefusedTextSendsNothingAndAWrittenOneReachesTheMainWindow) {
  test::QtApp();
  test::SimLink s{sim::SimOptions{.bootTime = milliseconds(0)}};
  ASSERT_TRUE(s.Open());
  TMACForm form;
  QString shown;
  form.Attach(*s.link, s.prompter, [&shown](const QString& text) { shown = text; });
  s.module->ClearReceivedFrames();
  form.MACAddressEdit->setText("GG:11:22:33:44:55:66:77");
  form.WriteButtonClick();
  EXPECT_EQ(s.prompter.All(),
            (std::vector<Shown>{{"MAC Address invalid.  Please try again.", "MAC Address Error", false}}));
  EXPECT_TRUE(s.module->ReceivedFrames().empty());
  EXPECT_TRUE(shown.isEmpty());

  s.prompter.Clear();
  form.MACAddressEdit->setText("00-11-22-33-44-55-66-77");
  form.WriteButtonClick();
  EXPECT_EQ(s.prompter.All(), (std::vector<Shown>{{"MAC Address changed successfully.", "MAC Address Changed", false}}));
  EXPECT_EQ(shown, "00-11-22-33-44-55-66-77");
}

}  // namespace
}  // namespace qmx

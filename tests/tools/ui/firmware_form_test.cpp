// The upgrade window over a simulated module held in its boot code, on a
// fake clock, driven as a user would.
#include "tools/ui/firmware_form.h"
#include "tools/ui/firmware_info_form.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <fstream>

#include "link/workdir.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/ui/palettes.h"
#include "tests/fixtures/ui/qt_app.h"
#include "tests/tools/sim_boot_channel.h"

namespace qmx {
namespace {

class FirmwareFormTest : public ::testing::Test {
 protected:
  FirmwareFormTest() : dir(temp.path()) {
    sim::SimOptions o;
    o.time = &clock;
    module = std::make_shared<sim::SimModule>(o);
    channel = std::make_unique<test::SimBootChannel>(module, clock);
    module->PowerCycle();
    form.SetInformationWindow(&info);
    form.SetClock(clock);
  }

  // A file of `size` bytes chosen with "Select File", then "Program Device"
  // pressed; the window closes afterwards.
  void Program(std::size_t size) {
    const auto file = temp.path() / "image.bin";
    std::ofstream(file, std::ios::binary) << std::string(size, 'x');
    prompter.AnswerFile(file.string());
    QTimer::singleShot(0, &form, [this] {
      form.SetButtonClick();
      form.LoadButtonClick();
      form.Exit1->trigger();
    });
    form.ShowFor(*channel, prompter, dir);
  }

  QApplication& app = test::QtApp();
  test::TempDir temp;
  WorkDir dir;
  test::FakeClock clock;
  std::shared_ptr<sim::SimModule> module;
  std::unique_ptr<test::SimBootChannel> channel;
  test::FakePrompter prompter;
  QWidget mainWindow;
  TForm2 info{&mainWindow};
  TForm3 form{&mainWindow};
};

// An empty or header-only file: refused at once with its size named; the
// radio is not touched and the progress gauge stays a plain bar.
TEST_F(FirmwareFormTest, AFileWithoutFirmwareIsRefusedBeforeTheRadioIsTouched) {
  for (std::size_t size : {std::size_t{0}, std::size_t{128}}) {
    SCOPED_TRACE(size);
    prompter.Clear();
    Program(size);
    const std::vector<test::Shown> shown{
        {"File holds no firmware: " + std::to_string(size) +
             " bytes, no more than its 128-byte header.  Please check file and try again.",
         "File size " + std::to_string(size)}};
    EXPECT_EQ(prompter.All(), shown);
    EXPECT_EQ(form.StatusText(), "Programming Failed");
    EXPECT_GT(form.Gauge->maximum(), form.Gauge->minimum());  // no busy animation
  }
  // Nothing but the closing "E" CR came while the module started: no
  // 0x03 held it in its boot code.
  EXPECT_TRUE(module->Booting());
  clock.Advance(std::chrono::seconds(1));
  module->WaitUntilIdle();
  EXPECT_FALSE(module->InBootCode());
}

// The information window of the wait after programming opens over the
// modal upgrade window, not under it beside the main window.
TEST_F(FirmwareFormTest, VerifyingFirmwareShowsOverTheUpgradeWindow) {
  // The window it stands over while shown, and its texts.
  std::vector<QWindow*> over;
  QString label;
  struct ShowAndHide : QObject {
    std::function<void()> f;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Show || e->type() == QEvent::Hide) f();
      return false;
    }
  } watch;
  watch.f = [&] {
    over.push_back(info.windowHandle()->transientParent());
    if (label.isEmpty()) label = info.Label2->text() + "/" + info.Label1->text();
  };
  info.installEventFilter(&watch);
  Program(1000);
  EXPECT_EQ(form.StatusText(), "Programming Successful");
  EXPECT_EQ(label, "Verifying Firmware/Please Wait");
  ASSERT_NE(form.windowHandle(), nullptr);
  EXPECT_EQ(over, std::vector<QWindow*>(2, form.windowHandle()));
  EXPECT_FALSE(info.isVisible());
}

// Each showing starts afresh: the gauge and the status of an earlier
// programming are gone.
TEST_F(FirmwareFormTest, EachShowingStartsWithAnEmptyGaugeAndTheFirstStatus) {
  Program(1000);
  ASSERT_EQ(form.StatusText(), "Programming Successful");
  QString status;
  int value = -1;
  QTimer::singleShot(0, &form, [&] {
    status = form.StatusText();
    value = form.Gauge->value();
    form.Exit1->trigger();
  });
  form.ShowFor(*channel, prompter, dir);
  EXPECT_EQ(status, "Click Select File");
  EXPECT_EQ(value, 0);
}

// A failed verification does not end on a full green bar: the bar turns
// red, as the status says; the next success is green again.
TEST_F(FirmwareFormTest, AFailedVerifyShowsOnTheGauge) {
  const auto file = temp.path() / "other.bin";
  std::ofstream(file, std::ios::binary) << std::string(1000, 'o');
  const auto same = temp.path() / "same.bin";
  std::ofstream(same, std::ios::binary) << std::string(128, 'h') << std::string(20000, 'i');
  module->WithBootloader([](sim::SimBootloader& b) { b.SetImage(std::vector<std::uint8_t>(20000, 'i')); });
  // The bar's start, inside its frame.
  auto barColour = [this] {
    const QImage shot = form.Gauge->grab().toImage();
    return shot.pixelColor(4, shot.height() / 2);
  };
  // At the boot code's prompt, as after the main window's search.
  ASSERT_TRUE(FirmwareUpgrade(*channel, clock).FindBootPrompt().ok());
  prompter.AnswerFile(file.string());
  prompter.AnswerFile(same.string());
  QTimer::singleShot(0, &form, [&, this] {
    form.SetButtonClick();
    form.VerifyButtonClick();
    EXPECT_EQ(form.StatusText(), "Verification Failed");
    const QColor bad = barColour();
    EXPECT_GT(bad.red(), bad.green()) << bad.name().toStdString();
    form.SetButtonClick();
    form.VerifyButtonClick();
    EXPECT_EQ(form.StatusText(), "Verification Successful");
    const QColor good = barColour();
    EXPECT_GT(good.green(), good.red()) << good.name().toStdString();
    EXPECT_EQ(form.Gauge->value(), form.Gauge->maximum());
    form.Exit1->trigger();
  });
  form.ShowFor(*channel, prompter, dir);
}

// On a dark palette the progress gauge is not a white bar: its empty part
// is the palette's base and its green reads on it.
TEST_F(FirmwareFormTest, TheProgressGaugeDrawsFromThePalette) {
  form.setPalette(test::DarkPalette());
  form.Gauge->resize(200, 20);
  form.Gauge->setRange(0, 100);
  form.Gauge->setValue(50);
  const QImage img = form.Gauge->grab().toImage();
  const QColor base = form.palette().color(QPalette::Base);
  EXPECT_EQ(img.pixelColor(190, 10), base);
  test::ExpectShownOn(img.pixelColor(10, 10), QColor(0x00, 0xA0, 0x00), base);
}

TEST(InformationFormTest, DesignedTexts) {
  test::QtApp();
  TForm2 info;
  EXPECT_EQ(info.windowTitle(), "OrvaneProg Information");
  EXPECT_EQ(info.Label1->text(), "Detecting Radio");
  EXPECT_EQ(info.Label2->text(), "Please power cycle radio");
}

}  // namespace
}  // namespace qmx

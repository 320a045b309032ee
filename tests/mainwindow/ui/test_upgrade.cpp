// The main window's way into the boot code and back, with the upgrade
// window driven as a user would.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <iterator>

#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/mainwindow/ui/demo_set.h"
#include "tools/firmware_upgrade.h"

namespace qmx {
namespace {

// Runs `action` once, from the event loop, after `w` has been shown.
class WhenShown : public QObject {
 public:
  WhenShown(QWidget* w, std::function<void()> action) : action_(std::move(action)) { w->installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && action_) {
      QTimer::singleShot(0, this, std::exchange(action_, nullptr));
      watched->removeEventFilter(this);
    }
    return false;
  }

 private:
  std::function<void()> action_;
};

class UpgradeTest : public ::testing::Test {
 protected:
  UpgradeTest() : set(temp.path()) {
    set.form1.SetBootPromptIntervalMs(1);
  }
  test::TempDir temp;
  test::DemoSet set;
};

TEST_F(UpgradeTest, NoPromptLeavesTheWindowDisconnectedWithTheParserRunning) {
  ASSERT_TRUE(set.Connect());
  set.module->WithBootloader([](sim::SimBootloader& b) { b.SetFault(sim::BootFault::Silence, 1, -1); });
  set.form1.UpgradeButtonClick();

  const std::vector<test::Shown> shown{{"Could not detect radio.  Please try again.", "No Radio Detected"}};
  EXPECT_EQ(set.prompter.All(), shown);
  EXPECT_EQ(set.form1.StatusText(), "No Radio Detected");
  EXPECT_FALSE(set.form1.Connected());
  EXPECT_EQ(set.form1.ConnectButton->text(), "Connect");
  EXPECT_FALSE(set.form1.UpgradeButton->isEnabled());
  EXPECT_FALSE(set.link.transport.IsOpen());
  EXPECT_TRUE(set.link.parser.Running());
  EXPECT_FALSE(set.upgrade.isVisible());
}

// Into the boot code, the image saved to a file, and back to protocol mode
// with the panel read again.
TEST_F(UpgradeTest, SaveImageThroughTheUpgradeWindowThenBackToProtocolMode) {
  ASSERT_TRUE(set.Connect());
  const auto target = temp.path() / "image.bin";
  set.prompter.AnswerFile((temp.path() / "any.bin").string());  // Select File
  set.prompter.AnswerFile("image.bin");  // Save Image: no folder, the working directory
  bool shownInStartState = false;
  WhenShown once(&set.upgrade, [&] {
    TForm3& u = set.upgrade;
    shownInStartState = u.isVisible() && u.SetButton->isEnabled() && !u.LoadButton->isEnabled() &&
                        !u.VerifyButton->isEnabled() && !u.SaveButton->isEnabled() && u.FilenameEdit->text().isEmpty();
    EXPECT_EQ(set.form1.StatusText(), "Radio Detected");
    u.SetButtonClick();
    EXPECT_EQ(u.StatusText(), "File Selected");
    EXPECT_TRUE(u.UpgradeFirmware1->isEnabled());
    u.SaveButtonClick();
    EXPECT_EQ(u.StatusText(), "Save Image Successful");
    EXPECT_EQ(u.Gauge->value(), u.Gauge->maximum());
    EXPECT_TRUE(u.LoadButton->isEnabled());
    const std::filesystem::path dir = std::filesystem::path(test::BuildDir()) / "screenshots";
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(u.grab().save(QString::fromStdString((dir / "upgrade_firmware.png").string()), "PNG"));
    u.Exit1->trigger();
  });
  set.form1.UpgradeButtonClick();

  EXPECT_TRUE(shownInStartState);
  std::vector<std::uint8_t> image;
  set.module->WithBootloader([&](sim::SimBootloader& b) { image = b.Image(); });
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}), image);
  // "E" CR left the boot code; the window is connected in protocol mode.
  EXPECT_EQ(set.prompter.Count(), 0u);
  EXPECT_FALSE(set.module->InBootCode());
  EXPECT_TRUE(set.module->InProtocolMode());
  EXPECT_TRUE(set.form1.Connected());
  EXPECT_TRUE(set.link.parser.Running());
  EXPECT_EQ(set.form1.StatusValues()[0], "Base");
}

}  // namespace
}  // namespace qmx

// The main window's way into the boot code and back, with the upgrade
// window driven as a user would.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
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
    set.link.session.SetBootPromptInterval(std::chrono::milliseconds(1));
  }
  test::TempDir temp;
  test::DemoSet set;
};

TEST_F(UpgradeTest, NoPromptLeavesTheWindowDisconnectedWithTheParserRunning) {
  ASSERT_TRUE(set.Connect());
  set.module->WithBootloader([](sim::SimBootloader& b) { b.SetFault(sim::BootFault::Silence, 1, -1); });
  // The boot code is looked for when the first operation starts.
  const auto file = temp.path() / "any.bin";
  std::ofstream(file, std::ios::binary) << std::string(3000, 'F');
  set.prompter.AnswerFile(file.string());
  WhenShown once(&set.upgrade, [&] {
    set.upgrade.SetButtonClick();
    set.upgrade.VerifyButtonClick();
  });
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
    u.SetButtonClick();
    EXPECT_EQ(u.StatusText(), "File Selected");
    EXPECT_TRUE(u.UpgradeFirmware1->isEnabled());
    u.SaveButtonClick();
    EXPECT_EQ(set.form1.StatusText(), "Radio Detected");
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

// The radio stays in its boot code after programming, so that Verify works
// in the same showing; closing the window brings it back to protocol mode
// and the status line back to the connection.
TEST_F(UpgradeTest, VerifyRightAfterProgramThenBackToTheConnection) {
  ASSERT_TRUE(set.Connect());
  set.module->WithBootloader([](sim::SimBootloader& b) { b.Options().programTime = std::chrono::milliseconds(0); });
  const auto file = temp.path() / "fresh.bin";
  std::ofstream(file, std::ios::binary) << std::string(3000, 'F');
  set.prompter.AnswerFile(file.string());
  QString first, programmed, verified;
  WhenShown once(&set.upgrade, [&] {
    TForm3& u = set.upgrade;
    first = u.StatusText();
    u.SetButtonClick();
    u.LoadButtonClick();
    programmed = u.StatusText();
    u.VerifyButtonClick();
    verified = u.StatusText();
    u.Exit1->trigger();
  });
  set.form1.UpgradeButtonClick();
  EXPECT_EQ(first, "Click Select File");
  EXPECT_EQ(programmed, "Programming Successful");
  EXPECT_EQ(verified, "Verification Successful");
  EXPECT_EQ(set.prompter.All(), (std::vector<test::Shown>{{"Programming Successfully", "Success"}}));
  EXPECT_TRUE(set.module->InProtocolMode());
  EXPECT_EQ(set.form1.StatusText(), "Connected to local radio on SIM at 9600");
}

// The radio is taken into its boot code only when an operation starts:
// opened, a file chosen and closed, the window says nothing to the radio and
// leaves it in protocol mode.
TEST_F(UpgradeTest, LeavingWithoutProgrammingLeavesTheRadioAsItWas) {
  ASSERT_TRUE(set.Connect());
  std::size_t writes = 0;
  set.loseWrite = [&](std::span<const std::uint8_t>) {
    ++writes;
    return false;
  };
  const auto file = temp.path() / "any.bin";
  std::ofstream(file, std::ios::binary) << std::string(3000, 'F');
  set.prompter.AnswerFile(file.string());
  WhenShown once(&set.upgrade, [&] {
    set.upgrade.SetButtonClick();
    set.upgrade.Exit1->trigger();
  });
  set.form1.UpgradeButtonClick();
  set.loseWrite = nullptr;
  EXPECT_EQ(writes, 0u);
  EXPECT_FALSE(set.module->InBootCode());
  EXPECT_TRUE(set.module->InProtocolMode());
  EXPECT_TRUE(set.form1.Connected());
  EXPECT_EQ(set.form1.StatusText(), "Connected to local radio on SIM at 9600");
  EXPECT_EQ(set.prompter.Count(), 0u);
}

// The port goes while the window is open: it says so and offers only
// closing; closed, it says nothing to the radio that is gone, and the main
// window reports the loss once.
TEST_F(UpgradeTest, APortLostWhileTheWindowIsOpenIsShownThereAndClosesQuietly) {
  ASSERT_TRUE(set.Connect());
  bool offersNothing = false;
  QString status;
  WhenShown once(&set.upgrade, [&] {
    TForm3& u = set.upgrade;
    set.module->Unplug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return u.StatusText().startsWith("Port lost"); }, 3000));
    status = u.StatusText();
    offersNothing = !u.SetButton->isEnabled() && !u.LoadButton->isEnabled() && !u.VerifyButton->isEnabled() &&
                    !u.SaveButton->isEnabled();
    u.Exit1->trigger();
  });
  set.form1.UpgradeButtonClick();
  EXPECT_EQ(status, "Port lost.  Close this window.");
  EXPECT_TRUE(offersNothing);
  EXPECT_EQ(set.prompter.Captions(), std::vector<std::string>{"Port Lost"});
  EXPECT_FALSE(set.form1.Connected());
  EXPECT_EQ(set.form1.StatusText(), "Disconnected.");
  EXPECT_FALSE(set.link.transport.IsOpen());
  EXPECT_TRUE(set.link.parser.Running());
}

// A host that starts an upgrade on the module and goes away half-way: the
// module started again and taken into its boot code, "D" CR LF and two
// blocks, then nothing more.
void CutAnUpgradeShort(sim::SimModule& module) {
  module.PowerCycle();
  auto send = [&module](std::span<const std::uint8_t> bytes) { module.FromHost(bytes, sim::SimBootloader::Line()); };
  const std::uint8_t start[] = {0x03, 'D', '\r', '\n'};
  send(start);
  for (std::uint8_t n = 1; n <= 2; ++n) {
    std::vector<std::uint8_t> block{0x01, n, static_cast<std::uint8_t>(~n)};
    block.resize(3 + 128, n);
    block.push_back(static_cast<std::uint8_t>(128 * n));
    send(block);
  }
}

// The next Connect finds the boot code and asks; No leaves everything as it
// was, Yes opens the upgrade window at the boot prompt, and after
// programming the window is connected to the radio, read in full.
TEST_F(UpgradeTest, AnUpgradeCutShortIsOfferedForProgrammingAtTheNextConnect) {
  CutAnUpgradeShort(*set.module);
  set.module->WithBootloader([](sim::SimBootloader& b) { b.Options().programTime = std::chrono::milliseconds(0); });
  const test::Shown question{
      "The radio on SIM is in its boot code (no working firmware). Program a firmware image now?",
      "Radio in Boot Code", true};
  set.prompter.AnswerNext(false);
  EXPECT_FALSE(set.Connect());
  EXPECT_EQ(set.prompter.All(), std::vector<test::Shown>{question});
  EXPECT_EQ(set.form1.StatusText(), "Not Connected to Device");
  EXPECT_FALSE(set.link.transport.IsOpen());
  EXPECT_TRUE(set.link.parser.Running());
  EXPECT_FALSE(set.upgrade.isVisible());
  EXPECT_TRUE(set.module->InBootCode());

  const auto file = temp.path() / "fresh.bin";
  std::ofstream(file, std::ios::binary) << std::string(3000, 'F');
  set.prompter.Clear();
  set.prompter.AnswerNext(true);
  set.prompter.AnswerFile(file.string());
  QString programmed;
  WhenShown once(&set.upgrade, [&] {
    TForm3& u = set.upgrade;
    u.SetButtonClick();
    u.LoadButtonClick();
    EXPECT_EQ(set.form1.StatusText(), "Radio Detected");
    programmed = u.StatusText();
    u.Exit1->trigger();
  });
  EXPECT_TRUE(set.Connect());
  EXPECT_EQ(programmed, "Programming Successful");
  EXPECT_EQ(set.prompter.All(), (std::vector<test::Shown>{question, {"Programming Successfully", "Success"}}));
  EXPECT_FALSE(set.module->InBootCode());
  EXPECT_TRUE(set.link.parser.Running());
  EXPECT_EQ(set.form1.StatusText(), "Connected to local radio on SIM at 9600");
  EXPECT_EQ(set.form1.StatusValues()[0], "Base");
  EXPECT_TRUE(set.form1.UpgradeButton->isEnabled());
}

// The boot code is looked for only where no radio answered: a Connect to a
// radio that answers puts nothing but frames on the wire at its own line,
// while a radio that stays silent gets the 0x03 search at 38400 baud.
TEST_F(UpgradeTest, ARadioThatAnswersSeesOnlyFramesAtItsLine) {
  std::vector<std::vector<std::uint8_t>> written;
  std::vector<LineSettings> lines;
  set.loseWrite = [&](std::span<const std::uint8_t> bytes) {
    written.emplace_back(bytes.begin(), bytes.end());
    return false;
  };
  set.lineApplied = [&](const LineSettings& line) { lines.push_back(line); };
  ASSERT_TRUE(set.Connect());
  set.form1.RefreshButtonClick();
  set.form1.ConnectButtonClick();  // disconnects
  ASSERT_FALSE(written.empty());
  for (const auto& w : written) EXPECT_EQ(w.front(), kStartOfPacket);
  for (const LineSettings& line : lines) EXPECT_EQ(line.baudRate, 9600u);

  written.clear();
  lines.clear();
  set.prompter.Clear();
  set.module->SetFault(sim::Fault::NeverReply);
  EXPECT_FALSE(set.Connect());
  EXPECT_EQ(std::count(written.begin(), written.end(), std::vector<std::uint8_t>{0x03}), kBootProbeAttempts);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().baudRate, 9600u);  // the line restored
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const LineSettings& l) { return l.baudRate == 38400; }), 1);
}

}  // namespace
}  // namespace qmx

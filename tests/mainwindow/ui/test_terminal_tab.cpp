// The Zavedo terminal and the Events tab in the main window on the simulated
// module: the bytes keys and the repeated transmission put on the wire, the
// terminal's display, and the radio brought back when the terminal is left.
#include <gtest/gtest.h>

#include <QAction>
#include <QEventLoop>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "mainwindow/ui/events_tab.h"
#include "mainwindow/ui/main_window.h"
#include "mainwindow/ui/terminal_tab.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/mainwindow/ui/demo_set.h"

namespace qmx {
namespace {

class TerminalTabTest : public ::testing::Test {
 protected:
  TerminalTabTest() : set(temp.path()) {
    set.loseWrite = [this](std::span<const std::uint8_t> bytes) {
      std::lock_guard lock(mutex);
      writes.emplace_back(bytes.begin(), bytes.end());
      cv.notify_all();
      return false;
    };
  }
  ~TerminalTabTest() override { set.loseWrite = nullptr; }

  TForm1& w() { return set.form1; }
  std::vector<std::string> Writes() {
    std::lock_guard lock(mutex);
    return writes;
  }
  void ClearWrites() {
    std::lock_guard lock(mutex);
    writes.clear();
  }
  std::size_t CountWrites(const std::string& what) {
    std::lock_guard lock(mutex);
    return static_cast<std::size_t>(std::count(writes.begin(), writes.end(), what));
  }
  void WaitForWrite(const std::string& what) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return std::count(writes.begin(), writes.end(), what) > 0; });
  }
  // Runs the event loop until the view's text passes `done` (or a generous
  // guard passes, so that a fault fails the comparison instead of hanging).
  template <typename Done>
  static QString WaitForText(QTextEdit* view, Done done) {
    QEventLoop loop;
    QObject::connect(view, &QTextEdit::textChanged, &loop, [&] {
      if (done(view->toPlainText())) loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!done(view->toPlainText())) loop.exec();
    return view->toPlainText();
  }
  static QString WaitForTextEqual(QTextEdit* view, const QString& text) {
    return WaitForText(view, [&](const QString& now) { return now == text; });
  }
  void EnterTerminal() {
    ASSERT_TRUE(set.Connect());
    ClearWrites();
    set.module->ClearReceivedFrames();
    w().PageControl1->setCurrentIndex(3);
    ASSERT_TRUE(w().Zavedo->HasRing());
    ASSERT_FALSE(set.module->InProtocolMode());
  }
  std::vector<std::uint8_t> ReceivedTypes() {
    std::vector<std::uint8_t> types;
    for (const Frame& f : set.module->ReceivedFrames()) types.push_back(f.type());
    return types;
  }

  test::TempDir temp;
  test::DemoSet set;
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> writes;
};

TEST_F(TerminalTabTest, KeysGoOutAsSingleBytesAndTheEchoShowsInHexOrText) {
  EnterTerminal();
  EXPECT_EQ(ReceivedTypes(), std::vector<std::uint8_t>{ptype::ExitProtocolMode});
  ClearWrites();
  QTextEdit* term = w().ZavedoRichEdit;
  QTest::keyClicks(term, "A");
  QTest::keyClick(term, Qt::Key_Return);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"A", "\r"}));
  EXPECT_EQ(WaitForTextEqual(term, "41 0D "), "41 0D ");

  QTest::keyClick(term, Qt::Key_F8);
  EXPECT_FALSE(w().ShowSettingsInHex1->isChecked());
  QTest::keyClicks(term, "ok");
  EXPECT_EQ(WaitForTextEqual(term, "41 0D ok"), "41 0D ok");
  EXPECT_EQ(Writes().size(), 4u);
}

TEST_F(TerminalTabTest, F6TwiceStartsAndStopsTheRepeatedTransmission) {
  EnterTerminal();
  QTextEdit* term = w().ZavedoRichEdit;
  QTest::keyClick(term, Qt::Key_F6);
  EXPECT_TRUE(w().Zavedo->Transmitting());
  WaitForWrite("This is a test");
  QTest::keyClick(term, Qt::Key_F6);
  EXPECT_FALSE(w().Zavedo->Transmitting());
  const std::size_t atStop = CountWrites("This is a test");
  w().Zavedo->WaitTransmitEnded();
  EXPECT_LE(CountWrites("This is a test"), atStop + 1);
  EXPECT_EQ(w().EventRichEdit->toPlainText(), "Transmit Started\nTransmit Stopped");
}

TEST_F(TerminalTabTest, LeavingTheTerminalForEventsReentersProtocolModeAndRereadsTheRadio) {
  EnterTerminal();
  set.module->ClearReceivedFrames();
  w().ClearLocalStatus();
  w().PageControl1->setCurrentIndex(2);
  EXPECT_FALSE(w().Zavedo->HasRing());
  EXPECT_TRUE(set.module->InProtocolMode());
  std::vector<std::uint8_t> expected{ptype::EnterProtocolMode};
  expected.insert(expected.end(), 8, ptype::GetRegister);
  EXPECT_EQ(ReceivedTypes(), expected);
  EXPECT_EQ(w().StatusValues()[1], "0x1234");
  EXPECT_TRUE(set.prompter.All().empty());

  // The parser has the ring again: an event from a remote shows, stamped.
  set.module->SendRxEvent(0x0002, std::vector<std::uint8_t>{0x01});
  const QStringList lines = WaitForText(w().EventRichEdit, [](const QString& t) { return t.contains("Data="); })
                                .split('\n');
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].contains("  |  ")) << lines[0].toStdString();
  EXPECT_EQ(lines[1], "Received Event from 0x0002");
  EXPECT_EQ(lines[2], "Data={01}");
}

}  // namespace
}  // namespace qmx

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
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <functional>
#include <span>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/packet.h"
#include "mainwindow/ui/events_tab.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "mainwindow/ui/serial_tab.h"
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
      const bool protocolMode = set.module->InProtocolMode();
      {
        std::lock_guard lock(mutex);
        writes.emplace_back(bytes.begin(), bytes.end());
        inProtocolMode.push_back(protocolMode);
        cv.notify_all();
      }
      if (onWrite) onWrite(bytes);
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
    inProtocolMode.clear();
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

  // The frame types of every write, one list per write.
  std::vector<std::vector<std::uint8_t>> WrittenFrames() {
    std::vector<std::vector<std::uint8_t>> out;
    for (const std::string& w : Writes()) {
      FrameAssembler assembler;
      out.emplace_back();
      for (char c : w)
        if (assembler.Push(static_cast<std::uint8_t>(c))) out.back().push_back(assembler.frame().type());
    }
    return out;
  }

  test::TempDir temp;
  test::DemoSet set;
  std::function<void(std::span<const std::uint8_t>)> onWrite;
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> writes;
  // Whether the radio was in protocol mode as each write reached it.
  std::vector<bool> inProtocolMode;
};

// A write made of whole command frames and nothing else.
bool WholeFrames(const std::string& bytes) {
  std::size_t at = 0;
  while (at + 2 <= bytes.size()) {
    const auto length = static_cast<std::uint8_t>(bytes[at + 1]);
    if (static_cast<std::uint8_t>(bytes[at]) != kStartOfPacket || length < 2 || length > kMaxPacketLength) return false;
    at += 2 + length;
  }
  return !bytes.empty() && at == bytes.size();
}

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

TEST_F(TerminalTabTest, TabGoesToTheRadioAndCtrlTabLeavesTheTerminal) {
  w().show();
  EnterTerminal();
  ClearWrites();
  QTest::keyClick(w().ZavedoRichEdit, Qt::Key_Tab);
  EXPECT_EQ(Writes(), std::vector<std::string>{"\t"});
  QTest::keyClick(w().ZavedoRichEdit, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_NE(w().PageControl1->currentIndex(), 3);
  EXPECT_FALSE(w().Zavedo->HasRing());
  EXPECT_TRUE(set.module->InProtocolMode());
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

// The wire, judged from the radio's side: while it is in protocol mode
// every byte written is part of a whole frame; while the terminal holds the
// port only what the user typed or asked to send (and the frame that takes
// the radio back). The terminal's repeated transmit ends with the terminal.
TEST_F(TerminalTabTest, EveryByteWrittenBelongsToTheModeTheRadioIsIn) {
  EnterTerminal();
  QTextEdit* term = w().ZavedoRichEdit;
  QTest::keyClick(term, Qt::Key_F6);
  QTest::keyClicks(term, "hi");
  WaitForWrite("This is a test");
  w().PageControl1->setCurrentIndex(0);
  EXPECT_FALSE(w().Zavedo->Transmitting());
  EXPECT_EQ(w().EventRichEdit->toPlainText(), "Transmit Started\nTransmit Stopped");
  EXPECT_TRUE(w().StatusText().contains("repeated transmit stopped")) << w().StatusText().toStdString();
  QTest::qWait(1300);  // real time on purpose: one more repeat would show
  w().RefreshButtonClick();
  // A send without a destination goes nowhere, not to 0x0000.
  const std::size_t before = Writes().size();
  w().NetworkAddrComboBox->setEditText("");
  w().TransmitEdit->setText("x");
  w().Serial->TransmitButtonClick();
  EXPECT_EQ(Writes().size(), before);

  const std::vector<std::string> all = Writes();
  std::vector<bool> modes;
  {
    std::lock_guard lock(mutex);
    modes = inProtocolMode;
  }
  ASSERT_EQ(all.size(), modes.size());
  bool typed = false;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (modes[i]) {
      EXPECT_TRUE(WholeFrames(all[i])) << "raw bytes in protocol mode: " << all[i];
    } else {
      const bool asked = all[i] == "h" || all[i] == "i" || all[i] == "This is a test";
      typed = typed || all[i] == "i";
      const std::vector<std::vector<std::uint8_t>> frames = WrittenFrames();
      const bool back = WholeFrames(all[i]) && frames[i] == std::vector<std::uint8_t>{ptype::EnterProtocolMode};
      EXPECT_TRUE(asked || back) << "written in the terminal: " << all[i];
    }
  }
  EXPECT_TRUE(typed);
  EXPECT_TRUE(set.module->InProtocolMode());
}

// The repeated transmit started while the radio is still in protocol mode
// (the terminal not yet holding the port) writes nothing until it does.
TEST_F(TerminalTabTest, TheRepeatWritesOnlyWhileTheTerminalHoldsThePort) {
  ASSERT_TRUE(set.Connect());
  ClearWrites();
  w().Zavedo->ZavedoTransmitButtonClick();
  QTest::qWait(200);  // real time on purpose: the first write is at once
  EXPECT_EQ(CountWrites("This is a test"), 0u);
  w().PageControl1->setCurrentIndex(3);
  WaitForWrite("This is a test");
  w().PageControl1->setCurrentIndex(0);
  EXPECT_FALSE(w().Zavedo->Transmitting());
}

// The terminal entered while a poll request waits for its reply, with a
// repeated transmission running: no protocol frame goes out between Exit and
// Enter Protocol Mode, and both go on afterwards.
TEST_F(TerminalTabTest, ThePollAndTheRepeatedTransmissionPauseWhileTheTerminalHoldsThePort) {
  ASSERT_TRUE(set.Connect());
  TForm1& f = w();
  f.RadioNetworkAddressComboBox[0]->setEditText("0x0001");
  f.PollIO->RefreshUpDown->setValue(0);
  f.NetworkAddrComboBox->setEditText("0x0002");
  f.IntervalEdit->setText("1");
  f.Serial->TransmitButtonClick();
  bool entered = false;
  onWrite = [&](std::span<const std::uint8_t> bytes) {
    if (entered || bytes.size() < 4 || bytes[3] != ptype::GetRemoteRegister) return;
    entered = true;  // from inside the request's wait for its reply
    QTimer::singleShot(0, &f, [&f] { f.PageControl1->setCurrentIndex(3); });
  };
  ClearWrites();
  f.PollIO->RefreshButton1Click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.Zavedo->HasRing(); }, 3000));
  QTest::qWait(300);  // real time on purpose: a frame sent while the terminal holds the port would show
  EXPECT_TRUE(f.StatusText().contains("paused")) << f.StatusText().toStdString();
  f.PageControl1->setCurrentIndex(0);

  auto sentAfterExit = [this](std::uint8_t type) {
    std::vector<std::uint8_t> types;
    for (const auto& frames : WrittenFrames()) types.insert(types.end(), frames.begin(), frames.end());
    const auto exit = std::find(types.begin(), types.end(), ptype::ExitProtocolMode);
    return exit != types.end() && std::find(exit + 1, types.end(), type) != types.end();
  };
  // The next repeated send is a second away.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return sentAfterExit(ptype::GetRemoteRegister) && sentAfterExit(ptype::TxData); }, 5000));

  std::vector<std::uint8_t> types;
  for (const auto& frames : WrittenFrames()) {
    if (std::count(frames.begin(), frames.end(), ptype::ExitProtocolMode) > 0) {
      EXPECT_EQ(frames.size(), 1u);
    }
    types.insert(types.end(), frames.begin(), frames.end());
  }
  const auto exit = std::find(types.begin(), types.end(), ptype::ExitProtocolMode);
  ASSERT_NE(exit, types.end());
  ASSERT_NE(exit + 1, types.end());
  EXPECT_EQ(exit[1], ptype::EnterProtocolMode) << "frames while the terminal held the port";
  EXPECT_NE(std::find(exit + 1, types.end(), ptype::GetRemoteRegister), types.end());
  EXPECT_NE(std::find(exit + 1, types.end(), ptype::TxData), types.end());
  EXPECT_EQ(set.prompter.Count(), 0u);
  EXPECT_EQ(f.RefreshPollButton->text(), "Stop");
  EXPECT_EQ(f.TransmitButton->text(), "Stop");
}

TEST_F(TerminalTabTest, LeavingTheTerminalForEventsReentersProtocolModeAndRereadsTheRadio) {
  EnterTerminal();
  EXPECT_EQ(w().windowTitle(), "QMXDemo 2.0 - SIM, terminal mode");
  set.module->ClearReceivedFrames();
  w().ClearLocalStatus();
  w().PageControl1->setCurrentIndex(2);
  EXPECT_FALSE(w().Zavedo->HasRing());
  EXPECT_TRUE(set.module->InProtocolMode());
  EXPECT_EQ(w().windowTitle(), "QMXDemo 2.0 - SIM, protocol mode");
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

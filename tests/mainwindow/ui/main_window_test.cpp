// The main window with every window of the program around it, on the
// simulated module: start-up, connect and disconnect, refresh, the lost
// port, the MAC gesture, keyboard shortcuts and the settings file.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mainwindow/settings_file.h"
#include "mainwindow/ui/main_window.h"
#include "mainwindow/ui/received_column.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/mainwindow/ui/demo_set.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using test::Shown;

using Values = std::array<QString, 8>;

// What the window shows of its state, to compare before and after.
struct WindowState {
  QString caption, status, connectText;
  std::vector<bool> enabled;
  Values values;
  bool operator==(const WindowState&) const = default;
};

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : set(temp.path()) {}
  explicit MainWindowTest(test::FakeTime) : set(temp.path(), test::FakeTime{}) {}

  TForm1& w() { return set.form1; }

  WindowState State() {
    WindowState s{w().windowTitle(), w().StatusText(), w().ConnectButton->text(), {}, w().StatusValues()};
    for (QWidget* c :
         std::initializer_list<QWidget*>{w().ConnectButton, w().RefreshButton, w().ConfigButton, w().UpgradeButton,
                                         w().PageControl1, w().RefreshPollButton, w().RadioNetworkAddressComboBox[0]})
      s.enabled.push_back(c->isEnabled());
    for (QAction* a : {w().Connect1, w().SaveSettings1, w().Exit1, w().PacketBuilder1, w().Diag1, w().About1})
      s.enabled.push_back(a->isEnabled());
    return s;
  }
  void ExpectDisconnectedControls() {
    EXPECT_EQ(w().ConnectButton->text(), "Connect");
    EXPECT_TRUE(w().ConnectButton->isEnabled());
    for (QWidget* c : std::initializer_list<QWidget*>{w().RefreshButton, w().ConfigButton, w().UpgradeButton,
                                                      w().PageControl1, w().RefreshPollButton})
      EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    for (QComboBox* box : w().RadioNetworkAddressComboBox) EXPECT_FALSE(box->isEnabled());
    EXPECT_FALSE(w().PacketBuilder1->isEnabled());
    EXPECT_FALSE(w().Diag1->isEnabled());
    EXPECT_TRUE(w().SaveSettings1->isEnabled());
    EXPECT_EQ(w().StatusValues(), Values{});
  }
  void ExpectConnectedControls() {
    EXPECT_EQ(w().ConnectButton->text(), "Disconnect");
    for (QWidget* c : std::initializer_list<QWidget*>{w().ConnectButton, w().RefreshButton, w().ConfigButton,
                                                      w().UpgradeButton, w().PageControl1, w().RefreshPollButton})
      EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    for (QComboBox* box : w().RadioNetworkAddressComboBox) EXPECT_TRUE(box->isEnabled());
    EXPECT_TRUE(w().PacketBuilder1->isEnabled());
    EXPECT_TRUE(w().Diag1->isEnabled());
  }
  // The panel as the module's registers say it should read.
  Values ExpectedValues() {
    auto regs = [&](std::uint8_t bank, std::uint8_t span) {
      return *set.module->Registers(sim::kLocal, bank, 0, span);
    };
    const auto b0 = regs(0, 1), b1 = regs(1, 1), b2 = regs(2, 16);
    QStringList mac;
    for (int i = 7; i >= 0; --i) mac << QString::asprintf("%02X", b2[static_cast<std::size_t>(i)]);
    return {b0[0] ? "Base" : "Remote",
            QString::asprintf("0x%04X", b2[10] | b2[11] << 8),
            QString::asprintf("0x%02X (%d MHz)", b2[12], 2400 + 5 * (b2[12] - 10)),
            QString::asprintf("0x%04X", b2[8] | b2[9] << 8),
            mac.join(':'),
            QString::asprintf("%X.%X", b2[15] >> 4, b2[15] & 0xF),
            b2[13] ? "Linked" : "Unlinked",
            b1[0] ? "Enabled" : "Disabled"};
  }
  // Commands the module took, as (type, bank) with bank 0 for non-reads.
  std::vector<std::pair<int, int>> Commands() {
    std::vector<std::pair<int, int>> out;
    for (const Frame& f : set.module->ReceivedFrames())
      out.emplace_back(f.type(), f.type() == ptype::GetRegister ? f.payload()[1] : 0);
    return out;
  }
  void ShowAndActivate() {
    w().show();
    Reactivate();
  }
  // The offscreen platform has no window manager to hand the activation
  // back to the main window when a modal dialog closes; shortcuts need it.
  void Reactivate() {
    w().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w()));
  }

  test::TempDir temp;
  test::DemoSet set;
};

// The window on a fake clock, for commands that run out their time-outs:
// each time-out passes at once, and the clock tells how long was waited.
class MainWindowTimeoutTest : public MainWindowTest {
 protected:
  MainWindowTimeoutTest() : MainWindowTest(test::FakeTime{}) {}
};

const std::vector<std::pair<int, int>> kEnterAndReadAll = {
    {ptype::EnterProtocolMode, 0}, {ptype::GetRegister, 0}, {ptype::GetRegister, 1},
    {ptype::GetRegister, 2},       {ptype::GetRegister, 3}, {ptype::GetRegister, 4},
    {ptype::GetRegister, 5},       {ptype::GetRegister, 6}, {ptype::GetRegister, 16}};

TEST_F(MainWindowTest, StartUpState) {
  EXPECT_EQ(w().windowTitle(), "QMXDemo 2.0");
  EXPECT_EQ(w().StatusText(), "Not Connected to Device");
  ExpectDisconnectedControls();
  EXPECT_TRUE(set.link.parser.Running());
  EXPECT_EQ(set.link.sequence.Current(), 0);
  // The designed client size at first, and free to grow.
  EXPECT_EQ(w().size(), QSize(951, 553 + w().menuBar()->sizeHint().height()).expandedTo(w().minimumSizeHint()));
  EXPECT_GT(w().maximumWidth(), 951);
  EXPECT_GT(w().maximumHeight(), 553);

  QStringList tabs;
  for (int i = 0; i < w().PageControl1->count(); ++i) tabs << w().PageControl1->tabText(i);
  EXPECT_EQ(tabs, (QStringList{"Serial", "Poll I/O", "Events", "Zavedo", "Network"}));
  EXPECT_EQ(w().PageControl1->currentIndex(), 0);

  // Menus, items in order ("-" a separator), shortcuts and check items.
  auto items = [](QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? "-" : a->text());
    return out;
  };
  QStringList titles;
  std::vector<QMenu*> menus;
  for (QAction* a : w().menuBar()->actions()) {
    titles << a->text();
    menus.push_back(a->menu());
  }
  ASSERT_EQ(titles, (QStringList{"&File", "&View", "&Options", "&Help"}));
  EXPECT_EQ(items(menus[0]), (QStringList{"Connect", "-", "Save Settings", "-", "E&xit"}));
  EXPECT_EQ(items(menus[1]), (QStringList{"Show Comm Errors", "Show Settings In Hex", "Log Data"}));
  EXPECT_EQ(items(menus[2]),
            (QStringList{"Packet Builder", "-", "Diagnostics", "Write MAC Address...", "-", "Obey CTS"}));
  EXPECT_EQ(items(menus[3]), (QStringList{"&About"}));
  EXPECT_EQ(w().Connect1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
  EXPECT_EQ(w().SaveSettings1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  struct Check {
    QAction* item;
    bool checked;
  };
  for (auto [item, checked] : {Check{w().ShowCommErrors1, false}, Check{w().ShowSettingsInHex1, true},
                               Check{w().LogData1, false}, Check{w().ObeyCTS, false}}) {
    EXPECT_TRUE(item->isCheckable()) << item->text().toStdString();
    EXPECT_EQ(item->isChecked(), checked) << item->text().toStdString();
  }
  for (QAction* a : {w().Connect1, w().SaveSettings1, w().Exit1, w().PacketBuilder1, w().Diag1, w().About1})
    EXPECT_FALSE(a->isCheckable()) << a->text().toStdString();

  // The check items drive the link's switches.
  w().ObeyCTS->setChecked(true);
  w().ShowCommErrors1->setChecked(true);
  EXPECT_TRUE(set.link.options.obeyCts.load());
  EXPECT_TRUE(set.link.options.showCommErrors.load());
}

TEST_F(MainWindowTest, ConnectReadsEveryBankAndShowsTheLocalRadio) {
  ASSERT_TRUE(set.Connect());
  EXPECT_TRUE(set.portDialogShown);
  EXPECT_EQ(set.prompter.Count(), 0u);
  EXPECT_EQ(w().StatusText(), "Connected to local radio on SIM at 9600");
  EXPECT_EQ(w().windowTitle(), "QMXDemo 2.0 - SIM, protocol mode");
  ExpectConnectedControls();
  EXPECT_TRUE(set.link.transport.IsOpen());

  // The dialog's attempt, then one read per bank, in bank order.
  EXPECT_EQ(Commands(), kEnterAndReadAll);
  EXPECT_EQ(w().StatusValues(), ExpectedValues());
  // The simulated module's factory identity, as a person would read it.
  const Values values = w().StatusValues();
  EXPECT_EQ(values[0], "Base");
  EXPECT_EQ(values[1], "0x1234");
  EXPECT_EQ(values[2], "0x0F (2425 MHz)");
  EXPECT_EQ(values[6], "Linked");

  // Slot 0 holds what the module has (banks whose values do not drift).
  for (std::uint8_t bank : {0, 1, 2, 3, 4, 6}) {
    const BankInfo info = *FindBank(bank);
    const auto want = *set.module->Registers(sim::kLocal, bank, 0, info.length);
    const auto got = set.image.Bank(0, info);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end())) << "bank " << int(bank);
  }
}

TEST_F(MainWindowTest, ConnectOnAnotherRateShowsItInTheStatusLine) {
  set.module->SetLine({57600, 8, parity::Odd, stopbits::One, false});
  set.WhenPortDialogShows([](TCommPortForm& d) {
    d.BaudrateComboBox->setCurrentIndex(d.BaudrateComboBox->findText("57600"));
    d.ParityComboBox->setCurrentIndex(d.ParityComboBox->findText("ODD"));
    d.OKButtonClick();
  });
  w().ConnectButtonClick();
  ASSERT_TRUE(w().Connected());
  EXPECT_EQ(w().StatusText(), "Connected to local radio on SIM at 57600");
}

// The program's --port and --baud: what the dialog's OK does, unseen.
TEST_F(MainWindowTest, APortNamedAtStartConnectsOrSaysWhyNot) {
  set.module->SetLine({19200, 8, parity::None, stopbits::One, false});
  ASSERT_TRUE(w().ConnectTo("SIM", "19200"));
  EXPECT_FALSE(set.portDialogShown);
  EXPECT_EQ(w().StatusText(), "Connected to local radio on SIM at 19200");
  EXPECT_EQ(set.prompter.Count(), 0u);
  w().ConnectButtonClick();
  ASSERT_FALSE(w().Connected());

  // One box, with the port's reason: there was no radio to ask.
  EXPECT_FALSE(w().ConnectTo("/dev/qmx-no-such-port", "19200"));
  EXPECT_EQ(set.prompter.All(),
            (std::vector<Shown>{{"Could not open selected CommPort.  Please close all programs and try again.",
                                 "Invalid Comm Port", false}}));
  EXPECT_EQ(w().StatusText(), "Disconnected.");
  ExpectDisconnectedControls();
  EXPECT_FALSE(set.link.transport.IsOpen());
}

TEST_F(MainWindowTest, ConnectByAutoDetectOnATypedPathShowsThePathAndTheRateFound) {
  // A stable device name of a USB adapter, dashes and all.
  set.simPath = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0";
  set.module->SetLine({57600, 8, parity::None, stopbits::One, false});
  set.port.SetAttemptTimeoutMs(50);
  set.WhenPortDialogShows([this](TCommPortForm& d) {
    d.CommPortComboBox->setEditText(QString::fromStdString(set.simPath));
    d.AutoDetectComboBox->setCurrentIndex(1);
    d.OKButtonClick();
  });
  w().ConnectButtonClick();
  ASSERT_TRUE(w().Connected());
  EXPECT_EQ(w().StatusText(), QString::fromStdString("Connected to local radio on " + set.simPath + " at 57600"));
  EXPECT_EQ(w().StatusValues(), ExpectedValues());
}

TEST_F(MainWindowTest, ACancelledConnectChangesNothing) {
  const WindowState before = State();
  set.WhenPortDialogShows([](TCommPortForm& d) { d.CancelButtonClick(); });
  w().ConnectButtonClick();
  EXPECT_TRUE(set.portDialogShown);
  EXPECT_EQ(State(), before);
  EXPECT_EQ(set.prompter.Count(), 0u);
  EXPECT_FALSE(set.link.transport.IsOpen());
  EXPECT_TRUE(set.module->ReceivedFrames().empty());

  // A failed attempt in the dialog followed by Cancel: only the dialog spoke.
  set.WhenPortDialogShows([](TCommPortForm& d) {
    d.BaudrateComboBox->setCurrentIndex(0);
    d.OKButtonClick();
    d.CancelButtonClick();
  });
  w().ConnectButtonClick();
  EXPECT_EQ(State(), before);
  EXPECT_EQ(set.prompter.Captions(), std::vector<std::string>{"Invalid Comm Port Settings"});
  EXPECT_FALSE(set.link.transport.IsOpen());
}

TEST_F(MainWindowTimeoutTest, ConnectFailsWhenOnlyTheLastBankFails) {
  // Every request for bank 16 is lost on the way: 1 + 3 retries, a second each.
  // Writes happen on the waiting thread, so the wait that follows a lost one
  // is the one that runs out.
  int lost = 0;
  set.loseWrite = [&](std::span<const std::uint8_t> bytes) {
    const bool bank16 = bytes.size() >= 7 && bytes[3] == ptype::GetRegister && bytes[5] == 16;
    lost += bank16;
    if (bank16) set.clock.ExpireWaits(1);
    return bank16;
  };
  EXPECT_FALSE(set.Connect());
  EXPECT_EQ(lost, 4);
  EXPECT_EQ(set.clock.Elapsed(), 4s);  // only the lost requests waited out their second
  EXPECT_EQ(set.prompter.All(),
            (std::vector<Shown>{{"Could not get data from radio.  Please try again.", "BANKALL Failed", false}}));
  EXPECT_EQ(w().StatusText(), "Disconnected.");
  ExpectDisconnectedControls();
  EXPECT_FALSE(set.link.transport.IsOpen());
  // The failed bank is zero in slot 0; the others were read.
  const auto bank16 = set.image.Bank(0, *FindBank(16));
  EXPECT_TRUE(std::all_of(bank16.begin(), bank16.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_NE(set.image.Byte(0, FindBank(2)->offset + 10), 0);
}

TEST_F(MainWindowTest, APortLostDuringTheConnectReadFailsTheConnect) {
  // Unplugged as the bank 16 request arrives: the dialog's answer and seven
  // banks went through.
  set.module->SetFault(sim::Fault::Unplug, 1, 8);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(set.Connect());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);  // no waiting on a port that is gone
  // The loss is posted before a command sees the port closed: had the window
  // taken it for a lost connection, it would show now.
  QCoreApplication::processEvents();
  EXPECT_EQ(set.prompter.Captions(), std::vector<std::string>{"BANKALL Failed"});
  EXPECT_EQ(w().StatusText(), "Disconnected.");
  ExpectDisconnectedControls();
  EXPECT_FALSE(set.link.transport.IsOpen());
}

TEST_F(MainWindowTest, RefreshRedrawsThePanel) {
  ASSERT_TRUE(set.Connect());
  const Values before = w().StatusValues();
  const std::uint8_t mode[] = {0};
  const std::uint8_t security[] = {1};
  const std::uint8_t bank2[] = {1, 2, 3, 4, 5, 6, 7, 8, 0x42, 0x00, 0xEF, 0xBE, 0x1A, 0x00};
  const std::uint8_t firmware[] = {0x05};
  ASSERT_TRUE(set.module->PokeRegisters(sim::kLocal, 0, 0, mode));
  ASSERT_TRUE(set.module->PokeRegisters(sim::kLocal, 1, 0, security));
  ASSERT_TRUE(set.module->PokeRegisters(sim::kLocal, 2, 0, bank2));
  ASSERT_TRUE(set.module->PokeRegisters(sim::kLocal, 2, 15, firmware));
  EXPECT_EQ(w().StatusValues(), before);  // nothing shows a change before the refresh
  set.module->ClearReceivedFrames();

  test::Click(w().RefreshButton);
  EXPECT_EQ(set.prompter.All(), (std::vector<Shown>{{"Refresh Successful.", "Refresh Successful", false}}));
  EXPECT_EQ(set.prompter.busyAt, std::vector<bool>{false});  // the normal cursor is back first
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(w().StatusValues(), (Values{"Remote", "0xBEEF", "0x1A (2480 MHz)", "0x0042", "08:07:06:05:04:03:02:01",
                                        "0.5", "Unlinked", "Enabled"}));
  EXPECT_EQ(Commands(), kEnterAndReadAll);
  EXPECT_TRUE(w().Connected());

  // The lowest channel.
  const std::uint8_t channel[] = {0x0A};
  ASSERT_TRUE(set.module->PokeRegisters(sim::kLocal, 2, 12, channel));
  test::Click(w().RefreshButton);
  EXPECT_EQ(w().StatusValues()[2], "0x0A (2400 MHz)");
}

TEST_F(MainWindowTimeoutTest, RefreshWithASilentRadio) {
  ASSERT_TRUE(set.Connect());
  const WindowState before = State();
  set.module->SetFault(sim::Fault::NeverReply);
  // Connect (here: disconnect) and Refresh pressed while the refresh waits
  // are ignored; the waiting refresh keeps its port.
  QTimer::singleShot(0, &w(), [this] {
    EXPECT_EQ(set.waiter.Depth(), 1);  // inside the first attempt's wait
    set.clock.ExpireWaits();
    w().ConnectButtonClick();
    w().RefreshButtonClick();
    set.clock.Advance(1s);  // the first attempt's time-out
  });
  test::Click(w().RefreshButton);  // one attempt and three retries, a second each
  EXPECT_EQ(set.clock.Elapsed(), 4s);
  EXPECT_EQ(set.prompter.All(),
            (std::vector<Shown>{{"Could not enter protocol mode.", "EnterProtocolMode Error", false}}));
  EXPECT_EQ(State(), before);
  EXPECT_TRUE(set.link.transport.IsOpen());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, DisconnectClosesThePortAndClearsThePanel) {
  ASSERT_TRUE(set.Connect());
  const auto sent = set.module->ReceivedFrames().size();
  test::Click(w().ConnectButton);
  EXPECT_EQ(w().StatusText(), "Disconnected.");
  EXPECT_EQ(w().windowTitle(), "QMXDemo 2.0");
  ExpectDisconnectedControls();
  EXPECT_FALSE(set.link.transport.IsOpen());
  EXPECT_FALSE(set.link.transport.CommThreadRunning());
  EXPECT_EQ(set.module->ReceivedFrames().size(), sent);  // nothing said to the radio
  EXPECT_EQ(set.prompter.Count(), 0u);

  // And connects again.
  set.module->ClearReceivedFrames();
  ASSERT_TRUE(set.Connect());
  EXPECT_EQ(Commands(), kEnterAndReadAll);
  EXPECT_EQ(w().StatusValues(), ExpectedValues());
}

TEST_F(MainWindowTest, DisconnectWaitsWithTheWindowAlive) {
  w().SetDisconnectDelayMs(100);
  ASSERT_TRUE(set.Connect());
  // A timer due halfway through the delay (and so always ahead of the
  // delay's own timer) fires inside the wait: the wait lasted at least that
  // long, and the window's events ran meanwhile.
  QString statusThen = "not fired during the wait";
  QTimer::singleShot(50ms, Qt::PreciseTimer, &w(), [&] { statusThen = w().StatusText(); });
  w().ConnectButtonClick();
  EXPECT_NE(statusThen, "not fired during the wait");
  EXPECT_NE(statusThen, "Disconnected.");
  EXPECT_EQ(w().StatusText(), "Disconnected.");
}

TEST_F(MainWindowTest, CtrlCConnectsAndDisconnects) {
  ShowAndActivate();
  // Disconnected: the key opens the port dialog.
  set.WhenPortDialogShows([](TCommPortForm& d) { d.CancelButtonClick(); });
  QTest::keyClick(&w(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(set.portDialogShown);
  EXPECT_FALSE(w().Connected());

  Reactivate();
  set.WhenPortDialogShows([](TCommPortForm& d) { d.OKButtonClick(); });
  QTest::keyClick(&w(), Qt::Key_C, Qt::ControlModifier);
  ASSERT_TRUE(w().Connected());

  // Connected: the key disconnects, wherever the focus is.
  Reactivate();
  QTest::keyClick(w().focusWidget() ? w().focusWidget() : &w(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_FALSE(w().Connected());
  EXPECT_EQ(w().StatusText(), "Disconnected.");
  EXPECT_EQ(w().StatusValues(), Values{});
  EXPECT_FALSE(set.link.transport.IsOpen());
}

// Ctrl+C copies where a text control has the focus and a selection, and is
// Connect everywhere else.
TEST_F(MainWindowTest, CtrlCCopiesASelectionAndConnectsElsewhere) {
  ShowAndActivate();
  ASSERT_TRUE(set.Connect());
  Reactivate();
  QClipboard* clipboard = QApplication::clipboard();
  clipboard->clear();
  w().TransmitEdit->setFocus();
  w().TransmitEdit->setSelection(0, 4);
  QTest::keyClick(w().TransmitEdit, Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(w().Connected());
  EXPECT_EQ(clipboard->text(), "This");

  // The received view copies whole frames of its three columns, one line
  // each, however many screen rows a frame takes.
  std::vector<std::uint8_t> data(30, 0xAB);
  w().Sink().ReceivedData(0x0002, 0x5A, data);
  w().Sink().ReceivedData(0x0003, 0x07, std::vector<std::uint8_t>{0x41});
  QCoreApplication::processEvents();
  // A press on the first row, Shift and a press on the second.
  ReceivedColumn* view = w().ReceivedDataRichEdit;
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(20, view->RowTop(0) + 5));
  QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(30, view->RowTop(1) + 5));
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(w().Connected());
  const QStringList rows = view->toPlainText().split('\n');
  const QString first = rows[0];
  const QString second = rows[1];
  EXPECT_EQ(clipboard->text(), "0x0002\t" + first + second + "\t0x5A");

  // No selection: Connect (here, disconnect) wins.
  w().TransmitEdit->setFocus();
  w().TransmitEdit->deselect();
  QTest::keyClick(w().TransmitEdit, Qt::Key_C, Qt::ControlModifier);
  EXPECT_FALSE(w().Connected());
}

TEST_F(MainWindowTest, UnplugWhileConnected) {
  ASSERT_TRUE(set.Connect());
  set.module->Unplug();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !w().Connected(); }, 2000));
  EXPECT_EQ(set.prompter.Captions(), std::vector<std::string>{"Port Lost"});
  EXPECT_EQ(w().StatusText(), "Disconnected.");
  EXPECT_EQ(w().windowTitle(), "QMXDemo 2.0");
  ExpectDisconnectedControls();
  EXPECT_FALSE(set.link.transport.IsOpen());

  // Plugged in again, the radio connects as before.
  set.module->Plug();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !set.module->Booting(); }, 2000));
  set.prompter.Clear();
  ASSERT_TRUE(set.Connect());
  EXPECT_EQ(set.prompter.Count(), 0u);
  EXPECT_EQ(w().StatusValues(), ExpectedValues());
}

// A radio reached through a link, as /dev/serial/by-id names are: the
// device goes away (qmxsim ends, its terminal with it) and comes back as
// another terminal behind the same link.
TEST_F(MainWindowTest, ARadioThatComesBackIsReconnectedUntilConnectIsPressed) {
  const std::filesystem::path link = temp.path() / "usb-radio-if00-port0";
  auto pointLinkTo = [&](const std::string& device) {
    const std::filesystem::path fresh = temp.path() / "link.new";
    std::filesystem::create_symlink(device, fresh);
    std::filesystem::rename(fresh, link);  // replaced in one step, as udev does
  };
  auto first = std::make_unique<test::QmxsimProcess>();
  if (first->Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  pointLinkTo(first->Path());
  set.realPorts = true;
  ASSERT_TRUE(w().ConnectTo(QString::fromStdString(link.string()), "9600"));

  first->Kill();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w().Connected(); }, 5000));
  EXPECT_EQ(w().WaitingForDevice(), link.string());
  EXPECT_TRUE(w().StatusText().startsWith("Port lost.  Waiting for " + QString::fromStdString(link.string())));
  ExpectDisconnectedControls();

  test::QmxsimProcess second;
  pointLinkTo(second.Path());
  ASSERT_TRUE(QTest::qWaitFor([&] { return w().Connected(); }, 5000));
  EXPECT_EQ(w().StatusText(), "Reconnected to local radio on " + QString::fromStdString(link.string()) + " at 9600");
  EXPECT_EQ(w().StatusValues(), ExpectedValues());
  EXPECT_EQ(set.prompter.Count(), 0u) << "no box is left behind";

  // Gone again; Connect ends the wait (the port dialog is cancelled).
  second.Kill();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w().WaitingForDevice().empty(); }, 5000));
  set.WhenPortDialogShows([](TCommPortForm& d) { d.CancelButtonClick(); });
  w().ConnectButtonClick();
  EXPECT_TRUE(w().WaitingForDevice().empty());
  EXPECT_EQ(w().StatusText(), "Disconnected.");
  EXPECT_FALSE(w().Connected());
}

// The device comes back while a box of an earlier operation is still open
// (Refresh's report, not yet closed when the radio was unplugged): the
// return is not lost, the window reconnects.
TEST_F(MainWindowTest, ARadioThatComesBackBehindAnOpenBoxIsReconnected) {
  const std::filesystem::path link = temp.path() / "usb-radio-if00-port0";
  auto pointLinkTo = [&](const std::string& device) {
    const std::filesystem::path fresh = temp.path() / "link.new";
    std::filesystem::create_symlink(device, fresh);
    std::filesystem::rename(fresh, link);
  };
  auto first = std::make_unique<test::QmxsimProcess>();
  if (first->Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  pointLinkTo(first->Path());
  set.realPorts = true;
  ASSERT_TRUE(w().ConnectTo(QString::fromStdString(link.string()), "9600"));

  std::unique_ptr<test::QmxsimProcess> second;
  set.prompter.WhileShown([&](const test::Shown& box) {
    if (box.caption != "Refresh Successful") return;
    first->Kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w().WaitingForDevice().empty(); }, 5000));
    second = std::make_unique<test::QmxsimProcess>();
    pointLinkTo(second->Path());
    QTest::qWait(1500);  // the return is seen while the box is open
  });
  w().RefreshButtonClick();
  set.prompter.WhileShown(nullptr);
  ASSERT_TRUE(second);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w().Connected(); }, 5000)) << w().StatusText().toStdString();
  EXPECT_EQ(w().StatusText(), "Reconnected to local radio on " + QString::fromStdString(link.string()) + " at 9600");
}

// A radio that returns in its boot code (no working firmware) is found and
// its upgrade offered, as Connect offers it; answered No, the window says
// where the radio is instead of waiting for a device that is present.
TEST_F(MainWindowTest, ARadioBackInItsBootCodeIsOfferedTheUpgrade) {
  const std::filesystem::path link = temp.path() / "usb-radio-if00-port0";
  auto first = std::make_unique<test::QmxsimProcess>();
  if (first->Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  std::filesystem::create_symlink(first->Path(), link);
  set.realPorts = true;
  set.link.session.SetBootProbeInterval(std::chrono::milliseconds(100));
  ASSERT_TRUE(w().ConnectTo(QString::fromStdString(link.string()), "9600"));

  first->Kill();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w().WaitingForDevice().empty(); }, 5000));
  test::QmxsimProcess second({"--boot-only"});
  const std::filesystem::path fresh = temp.path() / "link.new";
  std::filesystem::create_symlink(second.Path(), fresh);
  std::filesystem::rename(fresh, link);
  ASSERT_TRUE(QTest::qWaitFor([&] { return set.prompter.Count() > 0; }, 10000));
  EXPECT_EQ(set.prompter.Captions(), std::vector<std::string>{"Radio in Boot Code"});
  EXPECT_FALSE(w().Connected());
  EXPECT_TRUE(w().WaitingForDevice().empty());
  EXPECT_EQ(w().StatusText(), QString::fromStdString(BootCodeNotice(link.string())));
  EXPECT_EQ(w().windowTitle(), "QMXDemo 2.0");
  EXPECT_FALSE(set.link.transport.IsOpen());
}

TEST_F(MainWindowTest, AltClickOnTheMacAddressOpensTheMacDialog) {
  w().show();
  ASSERT_TRUE(set.Connect());
  int opened = 0;
  auto expectDialog = [&] {
    QTimer::singleShot(0, &set.mac, [&] {
      opened += set.mac.isVisible();
      EXPECT_TRUE(set.mac.MACAddressEdit->text().isEmpty());
      set.mac.reject();
    });
  };
  const QString mac = w().MACAddressStaticText->text();
  ASSERT_FALSE(mac.isEmpty());

  // Other presses do nothing.
  QTest::mouseClick(w().MACAddressStaticText, Qt::LeftButton);
  QTest::mouseClick(w().MACAddressStaticText, Qt::RightButton, Qt::AltModifier);
  QTest::mouseClick(w().DeviceModeStaticText, Qt::LeftButton, Qt::AltModifier);
  EXPECT_EQ(w().MACAddressStaticText->text(), mac);

  set.mac.MACAddressEdit->setText("01:02");
  expectDialog();
  QTest::mouseClick(w().MACAddressStaticText, Qt::LeftButton, Qt::AltModifier);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(w().MACAddressStaticText->text(), mac) << "Cancel keeps the address shown";
  EXPECT_TRUE(set.mac.MACAddressEdit->text().isEmpty());
  EXPECT_FALSE(set.mac.isVisible());

  // The labels and the link status answer too, and a disconnected window.
  w().ConnectButtonClick();
  ASSERT_FALSE(w().Connected());
  for (QWidget* target :
       std::initializer_list<QWidget*>{w().MACAddressLabel, w().LinkStatusLabel, w().LinkStatusStaticText}) {
    expectDialog();
    QTest::mouseClick(target, Qt::LeftButton, Qt::AltModifier);
  }
  EXPECT_EQ(opened, 4);
}

// Besides Alt + click, which window managers take for moving the window:
// "Write MAC Address..." in the menus and in the MAC address's context menu,
// usable while connected. A written address replaces the one shown.
TEST_F(MainWindowTest, MacDialogOpensFromTheMenusToo) {
  w().show();
  QAction* write = w().WriteMACAddress1;  // in the Options menu (StartUpState)
  EXPECT_FALSE(write->isEnabled());
  ASSERT_TRUE(set.Connect());
  EXPECT_TRUE(write->isEnabled());
  const QString mac = w().MACAddressStaticText->text();

  // The context menu of the address and of its caption: Copy where there is
  // an address to copy, and the write.
  for (QWidget* label : std::initializer_list<QWidget*>{w().MACAddressStaticText, w().MACAddressLabel}) {
    QStringList items;
    QTimer::singleShot(0, label, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      for (QAction* a : menu->actions()) {
        items << a->text();
        if (a->text() == "&Copy") a->trigger();
      }
      EXPECT_TRUE(menu->actions().contains(write));
      menu->close();
    });
    QApplication::clipboard()->clear();
    QContextMenuEvent press(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(label, &press);
    EXPECT_EQ(items, (QStringList{"&Copy", "Write MAC Address..."}));
    EXPECT_EQ(QApplication::clipboard()->text(), mac);
  }

  // From the menu: a written address is shown.
  QTimer::singleShot(0, &set.mac, [&] {
    EXPECT_TRUE(set.mac.isVisible());
    set.mac.MACAddressEdit->setText("00:11:22:33:44:55:66:77");
    set.mac.WriteButtonClick();
  });
  write->trigger();
  EXPECT_FALSE(set.mac.isVisible());
  EXPECT_EQ(w().MACAddressStaticText->text(), "00:11:22:33:44:55:66:77");

  w().ConnectButtonClick();
  EXPECT_FALSE(write->isEnabled());
}

TEST_F(MainWindowTest, ExitClosesTheWindowAndStopsTheParser) {
  w().show();
  w().Exit1->trigger();
  EXPECT_FALSE(w().isVisible());
  EXPECT_FALSE(set.link.parser.Running());
}

TEST_F(MainWindowTimeoutTest, ClosingTheWindowDuringAWaitEndsTheCommandAtOnce) {
  ASSERT_TRUE(set.Connect());
  set.module->SetFault(sim::Fault::NeverReply);
  QTimer::singleShot(0, &w(), [this] {
    EXPECT_EQ(set.waiter.Depth(), 1);  // inside the first attempt's wait
    w().close();
  });
  // Would wait four seconds for a silent radio; the clock never moves, so
  // only the close can end the wait (a wait left running blocks the test).
  w().RefreshButtonClick();
  EXPECT_EQ(set.clock.Elapsed(), 0s);
  EXPECT_FALSE(set.link.transport.IsOpen());
}

// --- the settings file ---

TEST_F(MainWindowTest, CtrlSWithTheDefaultsWritesTheDesignedFile) {
  ShowAndActivate();
  QTest::keyClick(&w(), Qt::Key_S, Qt::ControlModifier);
  std::vector<std::uint8_t> want = {0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x30, 0x0E};
  for (char c : std::string("This is a test")) want.push_back(static_cast<std::uint8_t>(c));
  for (std::uint8_t b : {0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00}) want.push_back(b);
  ASSERT_EQ(want.size(), 29u);
  EXPECT_EQ(ReadFile(set.dir.File("qmxdemo.ini")), want);
  EXPECT_EQ(set.prompter.Count(), 0u);
}

TEST_F(MainWindowTest, SavedSettingsComeBackInTheNextRun) {
  const std::vector<PortInfo> ports = {{"/dev/ttyUSB0", "ttyUSB0", 0, "", ""}};
  const std::filesystem::path workdir = temp.path() / "run";
  std::filesystem::create_directory(workdir);
  {
    test::DemoSet first(workdir, ports);
    TForm1& f = first.form1;
    f.show();
    f.ShowCommErrors1->setChecked(true);
    f.ShowSettingsInHex1->setChecked(false);
    f.HexCheckBox->setChecked(false);
    f.ScrollRealTimeCheckBox->setChecked(true);
    f.IntervalEdit->clear();
    f.TransmitEdit->setText("Hello radio");
    f.DataCheckBox->setChecked(false);
    f.CRCheckBox->setChecked(true);
    // Choices made in the port dialog, then cancelled: still its selections.
    first.WhenPortDialogShows([](TCommPortForm& d) {
      d.CommPortComboBox->setCurrentIndex(1);  // SIM-OK
      d.BaudrateComboBox->setCurrentIndex(8);  // 57600
      d.ParityComboBox->setCurrentIndex(2);    // ODD
      d.StopBitsComboBox->setCurrentIndex(1);  // 2
      d.AutoDetectComboBox->setCurrentIndex(1);
      d.CancelButtonClick();
    });
    f.ConnectButtonClick();
    f.SaveSettings1->trigger();
    EXPECT_EQ(first.port.Remembered(TCommPortForm::BaudList), 8);
  }

  test::DemoSet second(workdir, ports);
  TForm1& f = second.form1;
  EXPECT_TRUE(f.ShowSettingsInHex1->isChecked());  // nothing is read before the first show
  f.show();
  EXPECT_TRUE(f.ShowCommErrors1->isChecked());
  EXPECT_TRUE(second.link.options.showCommErrors.load());
  EXPECT_FALSE(f.ShowSettingsInHex1->isChecked());
  EXPECT_FALSE(f.LogData1->isChecked());
  EXPECT_FALSE(f.HexCheckBox->isChecked());
  EXPECT_TRUE(f.ScrollRealTimeCheckBox->isChecked());
  EXPECT_EQ(f.IntervalEdit->text(), "");
  EXPECT_EQ(f.TransmitEdit->text(), "Hello radio");
  EXPECT_FALSE(f.DataCheckBox->isChecked());
  EXPECT_TRUE(f.CRCheckBox->isChecked());
  const int remembered[] = {1, 8, 2, 1, 1};
  for (int i = 0; i < TCommPortForm::ListCount; ++i)
    EXPECT_EQ(second.port.Remembered(static_cast<TCommPortForm::List>(i)), remembered[i]) << "list " << i;

  // The dialog shows them.
  QStringList shown;
  second.WhenPortDialogShows([&](TCommPortForm& d) {
    for (QComboBox* box :
         {d.CommPortComboBox, d.BaudrateComboBox, d.ParityComboBox, d.StopBitsComboBox, d.AutoDetectComboBox})
      shown << box->currentText();
    d.CancelButtonClick();
  });
  f.ConnectButtonClick();
  EXPECT_EQ(shown, (QStringList{"SIM-OK", "57600", "ODD", "2", "TRUE"}));

  // A second show does not read the file again.
  f.ShowCommErrors1->setChecked(false);
  f.hide();
  f.show();
  EXPECT_FALSE(f.ShowCommErrors1->isChecked());
}

TEST_F(MainWindowTest, SettingsSavedBeforeTheDialogShowsKeepTheLoadedPortChoices) {
  const std::filesystem::path workdir = temp.path() / "run";
  std::filesystem::create_directory(workdir);
  AppSettings s;
  s.portIndex = 2;
  s.baudIndex = 9;
  s.parityIndex = 1;
  s.stopBitsIndex = 1;
  s.autoDetectIndex = 1;
  s.transmitText = "Gr\u00FC\u00DFe";
  ASSERT_TRUE(SaveSettings(WorkDir(workdir), s));
  test::DemoSet run(workdir);
  run.form1.show();
  EXPECT_EQ(run.form1.TransmitEdit->text(), QString::fromUtf8("Gr\u00FC\u00DFe"));
  run.form1.SaveSettings1->trigger();
  AppSettings back;
  ASSERT_TRUE(LoadSettings(WorkDir(workdir), back));
  EXPECT_EQ(back, s);
}

TEST_F(MainWindowTest, TheWindowComesBackWithTheSizeItWasClosedWith) {
  const std::filesystem::path workdir = temp.path() / "run";
  std::filesystem::create_directory(workdir);
  QSize initial;
  {
    test::DemoSet first(workdir);
    first.form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first.form1));
    initial = first.form1.size();
    first.form1.resize(initial + QSize(200, 150));
    QCoreApplication::processEvents();
    first.form1.close();
  }
  {
    test::DemoSet second(workdir);
    second.form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second.form1));
    EXPECT_EQ(second.form1.size(), initial + QSize(200, 150));
  }
  // A file that makes no sense gives the first size.
  for (const char* bad : {"", "garbage", "10 10 -5 0 0"}) {
    {
      std::ofstream(WorkDir(workdir).File(kWindowFileName)) << bad;
    }
    test::DemoSet third(workdir);
    third.form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&third.form1));
    EXPECT_EQ(third.form1.size(), initial) << bad;
  }
}

TEST_F(MainWindowTest, LogDataFromTheFileStartsTheLogWithItsHeader) {
  const std::filesystem::path workdir = temp.path() / "run";
  std::filesystem::create_directory(workdir);
  AppSettings s;
  s.logData = true;
  ASSERT_TRUE(SaveSettings(WorkDir(workdir), s));

  test::DemoSet run(workdir);
  EXPECT_FALSE(std::filesystem::exists(workdir / "logfile.dat"));
  run.form1.show();
  EXPECT_TRUE(run.form1.LogData1->isChecked());
  EXPECT_TRUE(run.link.options.logData.load());
  const std::string header = "New Data" + std::string(42, '-') + "\r\n";
  auto text = [&] {
    run.link.log.Flush();
    const auto bytes = ReadFile(workdir / "logfile.dat");
    return std::string(bytes.begin(), bytes.end());
  };
  ASSERT_GE(text().size(), header.size());
  EXPECT_EQ(text().substr(0, header.size()), header);

  // The frames of a connect follow it.
  ASSERT_TRUE(run.Connect());
  const std::string log = text();
  EXPECT_EQ(log.substr(0, header.size()), header);
  EXPECT_NE(log.find("Sent Data : "), std::string::npos);
  EXPECT_NE(log.find("Recv Data : "), std::string::npos);
}

}  // namespace
}  // namespace qmx

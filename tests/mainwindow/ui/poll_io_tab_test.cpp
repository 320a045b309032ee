// The Poll I/O tab in the main window on the simulated module: which radios
// are read and when, the bytes of writes on the wire, the automatic poll,
// I/O events and the collapsed status panel.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "link/packet.h"
#include "mainwindow/ui/main_window.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/mainwindow/ui/demo_set.h"
#include "widgets/gauge.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One remote register command as the module took it.
struct Remote {
  std::uint8_t type;
  std::uint16_t address;
  std::uint8_t reg, bank;
  Bytes data;  // Set Remote Register only
  bool operator==(const Remote&) const = default;
};

class PollIoTabTest : public ::testing::Test {
 protected:
  PollIoTabTest() : set(temp.path()) {}

  PollIoTab& tab() { return *set.form1.PollIO; }
  RemoteRadioRow& row(int n) { return tab().RemoteRadioControls[static_cast<std::size_t>(n - 1)]; }
  std::vector<Remote> Sent() {
    std::vector<Remote> out;
    for (const Frame& f : set.module->ReceivedFrames()) {
      if (f.type() != ptype::GetRemoteRegister && f.type() != ptype::SetRemoteRegister) continue;
      const std::uint8_t* p = f.payload();
      Remote r{f.type(), static_cast<std::uint16_t>(p[0] | p[1] << 8), p[2], p[3], {}};
      if (f.type() == ptype::SetRemoteRegister) r.data.assign(p + 5, p + f.payloadSize());
      out.push_back(r);
    }
    set.module->ClearReceivedFrames();
    return out;
  }
  static std::vector<Remote> Reads(std::uint16_t address, std::initializer_list<std::uint8_t> banks) {
    std::vector<Remote> out;
    for (std::uint8_t b : banks) out.push_back({ptype::GetRemoteRegister, address, 0, b, {}});
    return out;
  }
  void ConnectOnPollTab() {
    ASSERT_TRUE(set.Connect());
    set.form1.PageControl1->setCurrentWidget(&tab());
    set.module->ClearReceivedFrames();
  }

  test::TempDir temp;
  test::DemoSet set;
};

TEST_F(PollIoTabTest, SelectionChangesReadOnceAndEnterReadsTheTypedText) {
  ConnectOnPollTab();
  for (std::uint16_t a : {0x0001, 0x0002}) set.form1.Sink().RemoteJoined(a);
  QCoreApplication::processEvents();
  QComboBox* box = row(1).networkAddress;
  ASSERT_EQ(box->count(), 2);

  box->setCurrentIndex(0);
  EXPECT_EQ(Sent(), Reads(0x0001, {0, 2, 5, 6}));
  EXPECT_EQ(row(1).userTag->text(), "Remote 1");
  tab().NetworkAddressComboBoxChange(1);  // the same item again
  EXPECT_EQ(Sent(), std::vector<Remote>{});
  box->setCurrentIndex(1);
  EXPECT_EQ(Sent(), Reads(0x0002, {0, 2, 5, 6}));

  // Typing reads once, as the selection turns to none; Enter reads the text.
  box->setEditText("0x000");
  box->setEditText("0x0003");
  EXPECT_EQ(Sent(), Reads(0x0000, {0, 2, 5, 6}));
  set.prompter.Clear();
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(Sent(), Reads(0x0003, {0, 2, 5, 6}));
  EXPECT_EQ(set.prompter.Count(), 0u);
  EXPECT_EQ(row(1).userTag->text(), "Remote 3");

  box->setEditText("0x0009");  // no such radio
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(set.prompter.All(),
            (std::vector<test::Shown>{{"Could not communicate with device", "CheckParameters Failed", false}}));
}

TEST_F(PollIoTabTest, AReconnectRefillsTheAddressListsFromTheKnownAddresses) {
  ConnectOnPollTab();
  for (std::uint16_t a : {0x0001, 0x0002}) set.form1.Sink().RemoteJoined(a);
  QCoreApplication::processEvents();
  set.form1.ConnectButtonClick();
  ASSERT_FALSE(set.form1.Connected());
  ASSERT_TRUE(set.Connect());
  for (QComboBox* box : set.form1.RadioNetworkAddressComboBox) {
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(1), "0x0002");
    EXPECT_EQ(box->currentText(), "");  // nothing chosen, nothing read
  }
  EXPECT_EQ(Sent(), std::vector<Remote>{});
}

TEST_F(PollIoTabTest, WritesPutTheirBytesOnTheWire) {
  ConnectOnPollTab();
  row(2).networkAddress->setEditText("0x0002");
  row(2).pwm0->setText("0x1FF");
  QTest::keyClick(row(2).pwm0, Qt::Key_Return);
  row(2).pwm1->setText("0x1234");
  QTest::mouseDClick(row(2).pwm1, Qt::LeftButton);
  EXPECT_EQ(Sent(), (std::vector<Remote>{{ptype::SetRemoteRegister, 0x0002, 17, 5, {0x00, 0xFF}},
                                         {ptype::SetRemoteRegister, 0x0002, 19, 5, {0x34, 0x12}}}));
  EXPECT_EQ(row(2).rssiValue->text(), QString::number(row(2).rssiGauge->Value()));
  EXPECT_NE(row(2).rssiGauge->Value(), 0);

  // A remote action goes to the address its caller names.
  ASSERT_TRUE(set.link.commands.MemorySave({1000, 0}, RadioAddress::Remote(0x0002)));
  const Frame save = set.module->ReceivedFrames().back();
  EXPECT_EQ(save.payload()[0] | save.payload()[1] << 8, 0x0002);
}

// The alternate-functions byte (bank 6, register 2) decides PWM1: bit 0x04
// shows its value, editable; 0x02 (another function) shows "Disabled".
TEST_F(PollIoTabTest, Pwm1ShowsItsValueOnlyWhenItsAlternateFunctionIsOn) {
  ConnectOnPollTab();
  auto set_remote = [this](std::uint8_t bank, std::uint8_t reg, Bytes data) {
    PacketRecord rec;
    rec.NetworkAddress = 0x0001;
    rec.Bank = bank;
    rec.Register = reg;
    rec.Span = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), rec.Data.begin());
    ASSERT_TRUE(set.link.commands.SetRemoteRegister(rec));
  };
  set_remote(6, 2, {0x04});
  set_remote(5, 19, {0x34, 0x12});
  row(1).networkAddress->setEditText("0x0001");
  QTest::keyClick(row(1).networkAddress, Qt::Key_Return);
  EXPECT_EQ(row(1).pwm1->text(), "0x1234");
  EXPECT_TRUE(row(1).pwm1->isEnabled());

  set_remote(6, 2, {0x02});
  QTest::keyClick(row(1).networkAddress, Qt::Key_Return);
  EXPECT_EQ(row(1).pwm1->text(), "Disabled");
  EXPECT_FALSE(row(1).pwm1->isEnabled());
}

TEST_F(PollIoTabTest, ConfigOpensTheDialogOnTheRadioOnlyAfterAFullRead) {
  ConnectOnPollTab();
  // Notes the dialog's radio as it shows, and closes it.
  struct Closer : QObject {
    int shownFor = -1;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (e->type() == QEvent::Show) {
        auto* dialog = static_cast<TDeviceConfigForm*>(o);
        shownFor = dialog->RadioIndex;
        QTimer::singleShot(0, dialog, &QDialog::reject);
      }
      return false;
    }
  } closer;
  set.config.installEventFilter(&closer);
  int& shownFor = closer.shownFor;
  row(3).networkAddress->setEditText("0x0002");
  row(3).config->click();
  EXPECT_EQ(shownFor, 3);
  EXPECT_EQ(Sent(), Reads(0x0002, {0, 1, 2, 3, 4, 5, 6, 16}));

  shownFor = -1;
  row(3).networkAddress->setEditText("0x0009");
  row(3).config->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(shownFor, -1);
  EXPECT_EQ(set.prompter.All(),
            (std::vector<test::Shown>{{"Could not get data from radio.  Please try again.", "BANKALL Failed", false}}));
}

TEST_F(PollIoTabTest, APollCycleWritesOutputsThenReadsEachRadioWithAnAddress) {
  const std::uint8_t gpio0Output[] = {0x01};
  set.module->PokeRegisters(0x0001, 6, 0, gpio0Output);
  ConnectOnPollTab();
  row(1).networkAddress->setEditText("0x0001");
  QTest::keyClick(row(1).networkAddress, Qt::Key_Return);
  ASSERT_EQ(row(1).gpioDirection[0]->text(), "(Output)");
  row(1).gpio[0]->setText("0x1FF");
  row(3).networkAddress->setEditText("0x0003");
  row(3).pollRadio->setChecked(false);
  // Radio 2 has no address and radio 4 is empty too: neither is polled.
  tab().RefreshUpDown->setValue(0);
  Sent();

  tab().RefreshButton1Click();
  EXPECT_EQ(set.form1.StatusText(), "Starting automatic refresh...");
  EXPECT_FALSE(row(1).config->isEnabled());
  EXPECT_EQ(tab().RefreshTimer->interval(), 10);
  tab().RefreshTimerTimer();  // the tick, without waiting for it
  std::vector<Remote> expected{{ptype::SetRemoteRegister, 0x0001, 0, 5, {0xFF}}};
  for (const Remote& r : Reads(0x0001, {0, 5, 6})) expected.push_back(r);
  EXPECT_EQ(Sent(), expected);
  // The refresh runs on: the line does not say polling is over.
  EXPECT_EQ(set.form1.StatusText(), "Polling complete.  Automatic refresh running.");
  EXPECT_TRUE(tab().RefreshTimer->isActive());
  EXPECT_EQ(tab().RefreshTimer->interval(), 10);

  tab().RefreshButton1Click();
  EXPECT_EQ(set.form1.StatusText(), "Automatic refresh stopped.");
  EXPECT_FALSE(tab().RefreshTimer->isActive());
  EXPECT_TRUE(row(1).config->isEnabled());

  // Disconnecting ends the poll.
  tab().RefreshButton1Click();
  set.form1.ConnectButtonClick();
  ASSERT_FALSE(set.form1.Connected());
  EXPECT_FALSE(tab().RefreshTimer->isActive());
  EXPECT_FALSE(tab().Polling());
  EXPECT_EQ(tab().RefreshPollButton->text(), "Start");
  EXPECT_EQ(row(1).networkAddress->currentText(), "");
}

// A group's address that is empty or no address sends nothing: reading,
// Config and the writes say why, half-typed text reads nothing silently, the
// poll does not start with it, and a cycle skips a group whose text turned
// into none meanwhile.
TEST_F(PollIoTabTest, AnEmptyOrMalformedAddressSendsNothing) {
  ConnectOnPollTab();
  const std::string none = "No network address.  Please enter the radio's address, 0x0000 to 0xFFFF.";
  const std::string notNumber = "\"zz\" is not a network address.  Please enter a number from 0x0000 to 0xFFFF.";
  auto shown = [this](const std::string& text) {
    const auto all = set.prompter.All();
    set.prompter.Clear();
    return all == std::vector<test::Shown>{{text, "Invalid Network Address", false}};
  };
  row(1).networkAddress->setEditText("");
  row(1).config->click();
  EXPECT_TRUE(shown(none));
  row(1).networkAddress->setEditText("zz");
  QTest::keyClick(row(1).networkAddress, Qt::Key_Return);
  EXPECT_TRUE(shown(notNumber));
  row(1).pwm0->setText("1");
  QTest::keyClick(row(1).pwm0, Qt::Key_Return);
  EXPECT_TRUE(shown(notNumber));
  row(1).networkAddress->setEditText("0x10000");
  QTest::mouseDClick(row(1).pwm1, Qt::LeftButton);
  EXPECT_EQ(set.prompter.Count(), 1u);
  set.prompter.Clear();
  EXPECT_TRUE(set.module->ReceivedFrames().empty());

  // Typing after a choice: the half-typed "0x" reads nothing, says nothing.
  set.form1.Sink().RemoteJoined(0x0001);
  QCoreApplication::processEvents();
  row(2).networkAddress->setCurrentIndex(0);
  Sent();
  row(2).networkAddress->setEditText("0x");
  EXPECT_EQ(Sent(), std::vector<Remote>{});
  EXPECT_EQ(set.prompter.Count(), 0u);

  // The poll: refused at Start while a ticked group holds no address.
  row(1).networkAddress->setEditText("zz");
  row(2).networkAddress->setEditText("0x0001");  // its item again: read at once
  Sent();
  tab().RefreshUpDown->setValue(0);
  tab().RefreshButton1Click();
  EXPECT_TRUE(shown("Radio 1: " + notNumber));
  EXPECT_FALSE(tab().Polling());
  EXPECT_EQ(tab().RefreshPollButton->text(), "Start");
  row(1).pollRadio->setChecked(false);
  tab().RefreshButton1Click();
  ASSERT_TRUE(tab().Polling());
  row(1).pollRadio->setChecked(true);  // ticked again while polling
  row(2).networkAddress->setEditText("0x000G");
  row(3).networkAddress->setEditText("1");
  tab().RefreshTimerTimer();
  EXPECT_EQ(Sent(), Reads(0x0001, {0, 5, 6}));
  EXPECT_EQ(set.prompter.Count(), 0u);
  tab().RefreshButton1Click();
}

TEST_F(PollIoTabTest, AnIoEventChangesOnlyTheGroupShowingItsSender) {
  ConnectOnPollTab();
  row(2).networkAddress->setEditText("0x8001");
  auto texts = [this] {
    QStringList all;
    for (int n = 1; n <= 4; ++n)
      for (QLineEdit* e : row(n).gpio) all << e->text();
    return all;
  };
  const QStringList before = texts();
  const Bytes data{1, 0, 1, 0, 1, 1, 0x34, 0x12};
  for (std::uint16_t stranger : {0x0009, 0x0000}) set.form1.Sink().IoEvent(stranger, data);
  QCoreApplication::processEvents();
  EXPECT_EQ(texts(), before);
  set.form1.Sink().IoEvent(0x8001, data);
  QCoreApplication::processEvents();
  EXPECT_EQ(row(2).gpio[5]->text(), "1");
  EXPECT_EQ(row(2).adc[0]->text(), "0x1234");
  EXPECT_EQ(row(1).gpio[0]->text(), "");
}

TEST_F(PollIoTabTest, PollIoCannotBeLeftWhileThePanelIsCollapsed) {
  ConnectOnPollTab();
  TForm1& w = set.form1;
  const int panel = w.Panel1->width();
  ASSERT_TRUE(w.CloseCheckBox->isVisibleTo(&w));
  w.CloseCheckBox->click();
  EXPECT_LT(w.Panel1->width(), panel);
  EXPECT_FALSE(w.StaticText1->isVisibleTo(&w));
  w.PageControl1->setCurrentIndex(0);
  EXPECT_EQ(w.PageControl1->currentWidget(), &tab());

  w.CloseCheckBox->click();
  EXPECT_EQ(w.Panel1->width(), panel);
  EXPECT_TRUE(w.StaticText1->isVisibleTo(&w));
  w.PageControl1->setCurrentIndex(2);
  EXPECT_EQ(w.PageControl1->currentIndex(), 2);
  EXPECT_FALSE(w.CloseCheckBox->isVisibleTo(&w));
}

}  // namespace
}  // namespace qmx

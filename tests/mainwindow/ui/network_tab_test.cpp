// The Network tab in the main window on the simulated module: rows from what
// the radio reports (and nothing sent for them), the actions on a row and
// their frames on the wire, Find Radios, Export, names, the age timer, and
// pictures of a full table in a light and a dark palette.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "link/decoder.h"
#include "link/packet.h"
#include "mainwindow/ui/main_window.h"
#include "mainwindow/ui/network_tab.h"
#include "mainwindow/ui/poll_io_tab.h"
#include "tests/fixtures/fake_clock.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/ui/palettes.h"
#include "tests/mainwindow/ui/demo_set.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A remote register command: type, address, register, bank, data (Set only).
using Remote = std::tuple<std::uint8_t, std::uint16_t, std::uint8_t, std::uint8_t, Bytes>;

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class NetworkTabTest : public ::testing::Test {
 protected:
  NetworkTabTest() : set(temp.path()) {}

  NetworkTab& tab() { return *set.form1.Network; }
  QAbstractItemModel& model() { return *tab().NodesView->model(); }
  QString Cell(int row, NetColumn column) {
    return model().data(model().index(row, static_cast<int>(column))).toString();
  }
  int RowOf(std::uint16_t address) {
    for (int r = 0; r < model().rowCount(); ++r)
      if (Cell(r, NetColumn::Address) == QString::fromStdString(NetworkAddressText(address))) return r;
    return -1;
  }
  void Select(std::uint16_t address) {
    const int row = RowOf(address);
    ASSERT_GE(row, 0);
    tab().NodesView->selectRow(row);
  }
  // The window connected, on the Network tab, the join of `remotes` seen.
  void ConnectOnNetworkTab(std::initializer_list<std::uint16_t> remotes = {1, 2, 3}) {
    ASSERT_TRUE(set.Connect());
    set.form1.PageControl1->setCurrentWidget(&tab());
    for (std::uint16_t a : remotes) set.module->JoinRemote(a);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model().rowCount() == static_cast<int>(remotes.size()) + 1; }, 5000));
    set.module->ClearReceivedFrames();
  }
  // The remote register commands the module took since the last call.
  std::vector<Remote> Sent() {
    std::vector<Remote> out;
    for (const Frame& f : set.module->ReceivedFrames())
      if (const std::uint8_t t = f.type(); t == ptype::GetRemoteRegister || t == ptype::SetRemoteRegister) {
        const std::span<const std::uint8_t> p(f.payload(), f.payloadSize());
        out.push_back({t, static_cast<std::uint16_t>(p[0] | p[1] << 8), p[2], p[3],
                       t == ptype::SetRemoteRegister ? Bytes(p.begin() + 5, p.end()) : Bytes{}});
      }
    set.module->ClearReceivedFrames();
    return out;
  }

  // The addresses of the TX Data packets the module took since the last call.
  std::vector<std::uint16_t> TxDataTo() {
    std::vector<std::uint16_t> out;
    for (const Frame& f : set.module->ReceivedFrames())
      if (f.type() == ptype::TxData) out.push_back(static_cast<std::uint16_t>(f.payload()[0] | f.payload()[1] << 8));
    set.module->ClearReceivedFrames();
    return out;
  }

  test::TempDir temp;
  test::DemoSet set;
};

TEST_F(NetworkTabTest, TheFifthTabComesAfterTheFourAndLeavingTheTerminalForItRestoresProtocolMode) {
  QStringList tabs;
  for (int i = 0; i < set.form1.PageControl1->count(); ++i) tabs << set.form1.PageControl1->tabText(i);
  EXPECT_EQ(tabs, (QStringList{"Serial", "Poll I/O", "Events", "Zavedo", "Network"}));
  ASSERT_TRUE(set.Connect());
  set.form1.PageControl1->setCurrentIndex(3);
  ASSERT_EQ(set.link.session.State(), LinkState::Terminal);
  set.form1.PageControl1->setCurrentWidget(&tab());
  EXPECT_EQ(set.link.session.State(), LinkState::Protocol);
  EXPECT_EQ(set.form1.PageControl1->currentWidget(), &tab());
  EXPECT_TRUE(set.prompter.All().empty());
}

TEST_F(NetworkTabTest, RowsComeFromWhatTheRadioReportsAndNothingIsSentForThem) {
  ConnectOnNetworkTab();
  // The base first: the local radio as the status panel shows it.
  EXPECT_EQ(Cell(0, NetColumn::Address), set.form1.StatusValues()[3]);
  EXPECT_EQ(Cell(0, NetColumn::Mac), set.form1.StatusValues()[4]);
  const int row2 = RowOf(0x0002);
  ASSERT_GT(row2, 0);
  EXPECT_EQ(Cell(row2, NetColumn::State), "joined");
  EXPECT_EQ(Cell(row2, NetColumn::Mac).size(), 23);
  EXPECT_EQ(Cell(row2, NetColumn::Frames), "0");

  set.module->SetRemoteLqi(0x0002, 0x80);
  const Bytes data{1, 2, 3};
  set.module->SendRxData(0x0002, data);
  set.module->SendRxData(0x0002, data);
  set.module->SendRxEvent(0x0002);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(row2, NetColumn::Frames) == "3"; }, 5000));
  EXPECT_EQ(Cell(row2, NetColumn::LastLqi), "128");
  // A radio first heard through its data gets a row of its own.
  set.module->SendRxData(0x0077, data);
  ASSERT_TRUE(QTest::qWaitFor([&] { return RowOf(0x0077) > 0; }, 5000));
  EXPECT_EQ(Cell(RowOf(0x0077), NetColumn::State), "heard");

  set.module->LeaveRemote(0x0002);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(row2, NetColumn::State) == "left"; }, 5000));
  // A rejoin under the same address is the same row.
  set.module->JoinRemote(0x0002);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(row2, NetColumn::State) == "joined"; }, 5000));
  EXPECT_EQ(model().rowCount(), 5);
  EXPECT_TRUE(set.module->ReceivedFrames().empty());
}

TEST_F(NetworkTabTest, ARemoteThatAnswersACommandIsHeardAndOneThatDoesNotIsNot) {
  ConnectOnNetworkTab();
  const int row3 = RowOf(0x0003);
  ASSERT_GT(row3, 0);
  const int frames = Cell(row3, NetColumn::Frames).toInt();
  PacketRecord rec;
  rec.Bank = 0;
  rec.Register = 0;
  rec.Span = 1;
  rec.NetworkAddress = 0x0003;
  ASSERT_TRUE(set.link.commands.GetRemoteRegister(rec));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(row3, NetColumn::Frames).toInt() == frames + 1; }, 5000));
  EXPECT_EQ(Cell(row3, NetColumn::LastLqi), QString::number(rec.Lqi));

  const int row1 = RowOf(0x0001);
  const QString before = Cell(row1, NetColumn::Frames);
  set.module->SetRemoteLoss(0x0001, 100);
  rec.NetworkAddress = 0x0001;
  EXPECT_FALSE(set.link.commands.GetRemoteRegister(rec, {200, 0}));
  QTest::qWait(50);
  EXPECT_EQ(Cell(row1, NetColumn::Frames), before);
}

TEST_F(NetworkTabTest, IdentifyBlinksTheOutputAndLeavesItAsItWas) {
  ConnectOnNetworkTab();
  tab().SetPause({});
  const std::uint8_t before = (*set.module->Registers(0x0002, 5, kIdentifyLine, 1))[0];
  const std::uint8_t other = before ? 0 : 1;
  Select(0x0002);
  tab().IdentifyButton->click();
  std::vector<Remote> expected{{ptype::GetRemoteRegister, 0x0002, kIdentifyLine, 5, {}}};
  for (int i = 0; i < kIdentifyBlinks; ++i) {
    expected.push_back({ptype::SetRemoteRegister, 0x0002, kIdentifyLine, 5, {other}});
    expected.push_back({ptype::SetRemoteRegister, 0x0002, kIdentifyLine, 5, {before}});
  }
  EXPECT_EQ(Sent(), expected);
  EXPECT_EQ((*set.module->Registers(0x0002, 5, kIdentifyLine, 1))[0], before);
  EXPECT_TRUE(set.prompter.All().empty());

  // A radio that does not answer is not written to, and the user is told.
  set.module->SetRemoteLoss(0x0003, 100);
  Select(0x0003);
  tab().IdentifyButton->click();
  for (const Remote& r : Sent()) EXPECT_EQ(std::get<0>(r), ptype::GetRemoteRegister);
  EXPECT_EQ(set.prompter.All(), (std::vector<test::Shown>{{kIdentifyFailed, kIdentifyCaption, false}}));
}

TEST_F(NetworkTabTest, PollPutsTheRadioIntoAFreeSlotAndSaysSoWhenNoneIsFree) {
  ConnectOnNetworkTab();
  auto& rows = set.form1.PollIO->RemoteRadioControls;
  rows[0].networkAddress->setEditText("0x0001");
  rows[1].pollRadio->setChecked(false);
  Sent();
  Select(0x0003);
  tab().PollButton->click();
  EXPECT_EQ(rows[1].networkAddress->currentText(), "0x0003");
  EXPECT_TRUE(rows[1].pollRadio->isChecked());
  // Read once, as a chosen address is.
  const std::vector<Remote> read = Sent();
  ASSERT_FALSE(read.empty());
  for (const Remote& r : read) EXPECT_EQ(std::get<1>(r), 0x0003);
  // Again: the same slot, nothing read.
  tab().PollButton->click();
  EXPECT_EQ(Sent(), std::vector<Remote>{});
  EXPECT_EQ(rows[2].networkAddress->currentText(), "");

  rows[2].networkAddress->setEditText("0x0005");
  rows[3].networkAddress->setEditText("0x0006");
  Sent();
  Select(0x0002);
  tab().PollButton->click();
  EXPECT_EQ(set.prompter.All(), (std::vector<test::Shown>{{kNoFreePollSlot, kNoFreePollSlotCaption, false}}));
  EXPECT_EQ(Sent(), std::vector<Remote>{});
  for (int i = 0; i < kRemoteRadios; ++i) EXPECT_NE(rows[static_cast<std::size_t>(i)].networkAddress->currentText(), "0x0002");
}

TEST_F(NetworkTabTest, ConfigureOpensTheDialogOnThatRemoteWithItsName) {
  ConnectOnNetworkTab();
  const int row = RowOf(0x0003);
  ASSERT_TRUE(model().setData(model().index(row, static_cast<int>(NetColumn::Name)), "Pump house", Qt::EditRole));
  Select(0x0003);
  QString shown;
  QTimer::singleShot(0, &set.config, [&] {
    ASSERT_TRUE(QTest::qWaitFor([&] { return set.config.isVisible(); }, 5000));
    shown = set.config.StatusBar1->text();
    set.config.CancelButton->click();
  });
  tab().ConfigureButton->click();
  EXPECT_EQ(shown, "Poll I/O radio 1 at 0x0003  (Pump house)");
}

TEST_F(NetworkTabTest, DiagnosticsMeasuresTheLinkToThatAddress) {
  ConnectOnNetworkTab();
  Select(0x0001);
  tab().DiagnosticsButton->click();
  EXPECT_EQ(TxDataTo(), std::vector<std::uint16_t>(kMeasurePackets, 0x0001));
  ASSERT_EQ(set.prompter.All().size(), 1u);
  EXPECT_EQ(set.prompter.All()[0].caption, kMeasureCaption);
  EXPECT_EQ(set.prompter.All()[0].text.rfind("Link to 0x0001: 10 of 10 test packets acknowledged, mean LQI ", 0), 0u)
      << set.prompter.All()[0].text;
}

TEST_F(NetworkTabTest, NamesAreKeptByMacInTheWorkDirectoryAndShownWithTheAddress) {
  ConnectOnNetworkTab();
  const int row = RowOf(0x0002);
  const QString mac = Cell(row, NetColumn::Mac);
  set.form1.NetworkAddrComboBox->setCurrentIndex(set.form1.NetworkAddrComboBox->findText("0x0002"));
  set.form1.NetworkAddrComboBox->setEditText("0x0042");
  ASSERT_TRUE(model().setData(model().index(row, static_cast<int>(NetColumn::Name)), " Pump house ", Qt::EditRole));
  EXPECT_EQ(Cell(row, NetColumn::Name), "Pump house");
  const std::map<std::string, std::string> named{{mac.toStdString(), "Pump house"}};
  EXPECT_EQ(net::ParseNames(ReadText(set.dir.SettingsFile("names.ini"))), named);
  EXPECT_EQ(tab().NameAt(0x0002), "Pump house");
  // The address lists name it too, their texts untouched.
  QComboBox* dest = set.form1.NetworkAddrComboBox;
  const int item = dest->findText("0x0002");
  ASSERT_GE(item, 0);
  EXPECT_EQ(dest->itemData(item, Qt::ToolTipRole).toString(), "Pump house");
  EXPECT_EQ(set.form1.RadioNetworkAddressComboBox[0]->itemData(item, Qt::ToolTipRole).toString(), "Pump house");
  EXPECT_EQ(dest->currentText(), "0x0042");  // what was typed stays
  // A radio known only by its address cannot be named.
  set.form1.Sink().ReceivedData(0x0099, 10, Bytes{});
  ASSERT_TRUE(QTest::qWaitFor([&] { return RowOf(0x0099) > 0; }, 5000));
  EXPECT_FALSE(model().flags(model().index(RowOf(0x0099), static_cast<int>(NetColumn::Name))) & Qt::ItemIsEditable);

  // Another run of the program reads them back.
  NetworkTab again(set.link.commands, set.prompter, set.dir);
  again.Announced(DecodeAnnouncement(Bytes{}));  // nothing to add
  const auto macText = mac.toStdString();
  Announcement join;
  join.code = 0xA2;
  join.address = 0x0002;
  join.mac = macText;
  again.Announced(join);
  again.EventsApplied();
  EXPECT_EQ(again.NameAt(0x0002), "Pump house");
  // An empty name removes it.
  ASSERT_TRUE(model().setData(model().index(row, static_cast<int>(NetColumn::Name)), "", Qt::EditRole));
  EXPECT_TRUE(net::ParseNames(ReadText(set.dir.SettingsFile("names.ini"))).empty());
  EXPECT_FALSE(dest->itemData(item, Qt::ToolTipRole).isValid());
}

TEST_F(NetworkTabTest, ExportWritesTheTableWhereTheUserChoseAndNothingWhenCancelled) {
  ConnectOnNetworkTab();
  tab().ExportButton->click();  // cancelled
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()) || !std::filesystem::exists(set.dir.File("network.csv")));
  set.prompter.AnswerFile("network.csv");
  tab().ExportButton->click();
  const std::string csv = ReadText(set.dir.File("network.csv"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), model().rowCount() + 1);
  EXPECT_NE(csv.find("0x0003"), std::string::npos);
  EXPECT_TRUE(set.prompter.All().empty());

  set.prompter.AnswerFile((temp.path() / "no-such-folder" / "x.csv").string());
  tab().ExportButton->click();
  ASSERT_EQ(set.prompter.All().size(), 1u);
  EXPECT_EQ(set.prompter.All()[0].caption, "Export");
}

TEST_F(NetworkTabTest, CopyGivesTheRowAndTheActionsWaitForARowAndAConnection) {
  for (QPushButton* b : {tab().ConfigureButton, tab().PollButton, tab().DiagnosticsButton, tab().IdentifyButton,
                         tab().CopyButton, tab().FindButton})
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  ConnectOnNetworkTab();
  EXPECT_TRUE(tab().FindButton->isEnabled());
  EXPECT_FALSE(tab().IdentifyButton->isEnabled());
  Select(0x0001);
  for (QPushButton* b : {tab().ConfigureButton, tab().PollButton, tab().DiagnosticsButton, tab().IdentifyButton,
                         tab().CopyButton})
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  tab().CopyButton->click();
  EXPECT_TRUE(QApplication::clipboard()->text().startsWith("0x0001\t\t")) << QApplication::clipboard()->text().toStdString();
  set.form1.ConnectButtonClick();
  ASSERT_FALSE(set.form1.Connected());
  // The window turns the tabs off as a whole; within, Copy still works.
  EXPECT_FALSE(tab().IdentifyButton->isEnabledTo(&tab()));
  EXPECT_TRUE(tab().CopyButton->isEnabledTo(&tab()));
}

TEST_F(NetworkTabTest, TheAgeTimerRunsOnlyWhileTheTabShowsInAWindowNotMinimised) {
  set.form1.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&set.form1));
  ConnectOnNetworkTab();
  EXPECT_TRUE(tab().AgeTimerActive());
  EXPECT_GE(tab().AgeTimer->interval(), 1000);
  set.form1.PageControl1->setCurrentIndex(0);
  EXPECT_FALSE(tab().AgeTimerActive());
  set.form1.PageControl1->setCurrentWidget(&tab());
  EXPECT_TRUE(tab().AgeTimerActive());
  set.form1.setWindowState(Qt::WindowMinimized);
  QCoreApplication::processEvents();
  EXPECT_FALSE(tab().AgeTimerActive());
  set.form1.setWindowState(Qt::WindowNoState);
  QCoreApplication::processEvents();
  EXPECT_TRUE(tab().AgeTimerActive());
  set.form1.hide();
  EXPECT_FALSE(tab().AgeTimerActive());
}

// Two of the addresses stay silent: a second each.
TEST_F(NetworkTabTest, FindRadiosAsksEachAddressAndAddsThoseThatAnswer) {
  ASSERT_TRUE(set.Connect());
  set.form1.PageControl1->setCurrentWidget(&tab());
  set.module->ClearReceivedFrames();
  tab().ScanFromEdit->setText("0x0002");
  tab().ScanToEdit->setText("0x0005");
  tab().FindButton->click();
  EXPECT_FALSE(tab().FindButton->isEnabled());
  EXPECT_TRUE(tab().CancelFindButton->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tab().Scanning(); }, 10000));
  EXPECT_EQ(TxDataTo(), (std::vector<std::uint16_t>{2, 3, 4, 5}));  // once each
  EXPECT_GE(RowOf(0x0002), 0);
  EXPECT_GE(RowOf(0x0003), 0);
  EXPECT_EQ(RowOf(0x0004), -1);
  EXPECT_EQ(tab().ScanProgress->value(), 4);
  EXPECT_EQ(tab().ScanStatusLabel->text(), "Found 2 radios in 0x0002 to 0x0005.");
  EXPECT_TRUE(tab().FindButton->isEnabled());

  // Cancel between two addresses: no further address is asked.
  tab().ScanToEdit->setText("0x0040");
  tab().SetSender([this](PacketRecord& rec) -> Done {
    if (rec.NetworkAddress == 0x0004) QTimer::singleShot(0, tab().CancelFindButton, &QPushButton::click);
    rec.TxStatus = txstatus::NoAcknowledgement;
    return {};
  });
  tab().FindButton->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tab().Scanning(); }, 10000));
  EXPECT_EQ(tab().ScanStatusLabel->text(), "Found 0 radios in 0x0002 to 0x0040, cancelled after 3 of 63.");

  tab().ScanFromEdit->setText("0x0050");
  tab().FindButton->click();
  EXPECT_EQ(set.prompter.All(), (std::vector<test::Shown>{{kBadScanRange, kScanCaption, false}}));
}

// ---- Pictures

void FillForPicture(NetworkTab& tab, test::FakeClock& clock) {
  tab.SetBase(0x0000, "02:51:4D:58:24:0A:11:00");
  for (int i = 1; i <= 30; ++i) {
    Announcement join;
    join.code = 0xA2;
    join.address = static_cast<std::uint16_t>(i);
    join.mac = QString::asprintf("02:51:4D:58:24:0A:%02X:%02X", i, 0x30 + i).toStdString();
    tab.Announced(join);
  }
  tab.EventsApplied();
  // A minute of traffic, each radio at its own level, some fading.
  for (int s = 0; s < 60; ++s) {
    clock.Advance(1s);
    for (int i = 1; i <= 30; ++i) {
      if ((s + i) % (1 + i % 4)) continue;
      const int base = 60 + (i * 37) % 180;
      const int swing = ((s * (i + 3)) % 41) - 20 - (i % 5 == 0 ? s : 0);
      tab.ReceivedData(static_cast<std::uint16_t>(i), static_cast<std::uint8_t>(std::clamp(base + swing, 0, 255)));
    }
    tab.EventsApplied();
  }
  Announcement left;
  left.code = 0xA5;
  left.address = 7;
  tab.Announced(left);
  tab.EventsApplied();
}

TEST(NetworkTabPicture, AFullTableReadsWellInALightAndADarkPalette) {
  test::TempDir temp;
  test::DemoSet set(temp.path());
  test::FakeClock clock;
  for (const bool dark : {false, true}) {
    NetworkTab tab(set.link.commands, set.prompter, set.dir, clock);
    if (dark) tab.setPalette(test::DarkPalette());
    tab.SetConnected(true);
    tab.resize(951 - 160, 520);
    FillForPicture(tab, clock);
    tab.Model().setData(tab.Model().index(3, static_cast<int>(NetColumn::Name)), "Pump house", Qt::EditRole);
    tab.NodesView->selectRow(5);
    tab.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(tab.Model().rowCount(), 31);
    // Every column's title fits; the LQI line has room.
    QHeaderView* header = tab.NodesView->horizontalHeader();
    for (int c = 0; c + 1 < kNetColumns; ++c)
      EXPECT_GE(header->sectionSize(c), header->fontMetrics().horizontalAdvance(NetColumnTitle(static_cast<NetColumn>(c))))
          << c;
    EXPECT_GE(header->sectionSize(kNetColumns - 1), 80);
    const QImage image = tab.grab().toImage();
    const std::filesystem::path out = std::filesystem::temp_directory_path() /
                                      (dark ? "qmx_network_tab_dark.png" : "qmx_network_tab_light.png");
    image.save(QString::fromStdString(out.string()));
    // The line is drawn: the highlight colour (or its lighter form) is on it.
    const QRect line = tab.NodesView->visualRect(tab.Model().index(2, kNetColumns - 1));
    const QImage cell = tab.NodesView->viewport()->grab(line).toImage();
    EXPECT_GT(test::Most(cell, test::Blueness).blue(), 150);
    tab.hide();
  }
}

}  // namespace
}  // namespace qmx

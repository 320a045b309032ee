// The diagnostics window against the in-process simulated module: a short
// scan and a poll as a user runs them, what stops them, the note window,
// and pictures of both tabs with live data (saved under
// <build>/screenshots for review).
#include "tools/ui/diag_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "link/number_text.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/ui/qt_app.h"
#include "tools/ui/note_form.h"
#include "widgets/gauge.h"

namespace qmx {
namespace {

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Save(QWidget* w, const char* file) {
  const std::filesystem::path dir = std::filesystem::path(test::BuildDir()) / "screenshots";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(w->grab().save(QString::fromStdString((dir / file).string()), "PNG")) << file;
}

class DiagFormTest : public ::testing::Test {
 protected:
  DiagFormTest() {
    log.SetClock([] { return std::string("07/12/26  |  13:00:00"); });
    form.SetNoteForm(&note);
    EXPECT_TRUE(sim.Open());
  }
  ~DiagFormTest() override { form.hide(); }

  // Runs the window until `count` scan sweeps (or poll ticks) have ended.
  void RunSweeps(int count) {
    QEventLoop loop;
    int ended = 0;
    auto counted = [&] {
      if (++ended == count) loop.quit();
    };
    auto c1 = QObject::connect(&form, &TDiagForm::ScanStepped, [&](int, bool sweepEnded) {
      if (sweepEnded) counted();
    });
    auto c2 = QObject::connect(&form, &TDiagForm::PollTicked, counted);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a stuck window fails below, not forever
    loop.exec();
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    EXPECT_EQ(ended, count);
  }
  std::string Cell(QListWidget* list, int address) const { return list->item(address - 1)->text().toStdString(); }
  std::string DiagFile() const { return ReadFile(sim.dir.File("diagfile.dat")); }
  // Data bytes of the TX Data frames the module took.
  std::vector<std::size_t> SentLengths() const {
    std::vector<std::size_t> out;
    for (const Frame& f : sim.module->ReceivedFrames())
      if (f.type() == ptype::TxData) out.push_back(f.payloadSize() - 2);
    return out;
  }

  struct AppFirst {
    AppFirst() { test::QtApp(); }
  } app_;
  test::SimLink sim;
  DiagLog log{sim.dir, sim.prompter};
  TDiagForm form{*sim.link, sim.prompter, log};
  TInsertNoteForm note{log, &form};
};

TEST_F(DiagFormTest, ScanOfFiveAddresses) {
  sim.module->SetRemoteLoss(3, 100);
  form.SetDeviceModeSource([] { return std::uint8_t{2}; });
  form.show();
  EXPECT_TRUE(form.PageControl1->isTabVisible(0));
  EXPECT_FALSE(form.PageControl1->isTabVisible(1));
  form.ClearAll1->trigger();
  for (int a = 1; a <= 5; ++a) form.PollCheckListBox->item(a - 1)->setCheckState(Qt::Checked);
  form.RefreshRateEdit->setText("0");

  form.TransmitButton->click();
  EXPECT_EQ(form.TransmitButton->text(), "Stop");
  RunSweeps(3);
  Save(&form, "diag_scan.png");
  form.Exit1->trigger();
  EXPECT_FALSE(form.Scanning());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.TransmitButton->text(), "Scan");

  // Remotes 1 and 2 answer; 3 loses every packet, 4 and 5 do not exist: the
  // local radio answers with TX Status 1 and LQI 0.
  for (int a : {1, 2}) {
    EXPECT_EQ(Cell(form.AddrListBox, a), std::to_string(a));
    EXPECT_EQ(Cell(form.RXPercentListBox, a), "100");
    EXPECT_EQ(Cell(form.TXPercentListBox, a), "100");
    EXPECT_GT(std::stoi(Cell(form.LQIListBox, a)), 0);
  }
  for (int a : {3, 4, 5}) {
    EXPECT_EQ(Cell(form.AddrListBox, a), "--");
    EXPECT_EQ(Cell(form.RXPercentListBox, a), "0");
    EXPECT_EQ(Cell(form.TXPercentListBox, a), "100");
    EXPECT_EQ(Cell(form.LQIListBox, a), "0");
  }
  EXPECT_EQ(Cell(form.AddrListBox, 6), "6");
  EXPECT_EQ(Cell(form.RXPercentListBox, 6), "");
  EXPECT_EQ(form.Counters()[0].attempts, 3u);
  EXPECT_EQ(SentLengths(), std::vector<std::size_t>(15, 16));

  // "10 sec": the first sweep alone was logged.
  const std::string file = DiagFile();
  EXPECT_EQ(file.rfind("New Data------------------------------------------\r\n07/12/26  |  13:00:00\r\nAddr 1 RX Percent 100, "
                       "TX Percent 100, LQI ", 0), 0u)
      << file;
  EXPECT_NE(file.find("\r\nAddr 5 RX Percent 0, TX Percent 100, LQI 0\r\n"), std::string::npos) << file;
  EXPECT_EQ(file.find("Addr 6 "), std::string::npos);
  EXPECT_EQ(file.find("Addr 1 ", 1), file.rfind("Addr 1 "));

  // Shown again: a fresh table, counters at 0; closing by the frame stops a
  // running scan too.
  form.show();
  EXPECT_EQ(Cell(form.AddrListBox, 3), "3");
  EXPECT_EQ(form.Counters()[0].attempts, 0u);
  form.TransmitButton->click();
  EXPECT_TRUE(form.Scanning());
  form.close();
  EXPECT_FALSE(form.Scanning());
  EXPECT_EQ(sim.prompter.Count(), 0u);
}

TEST_F(DiagFormTest, PollOfTheBase) {
  // The local radio is a remote; its base answers at 0x0000.
  sim.module->PokeRegisters(sim::kLocal, 0, 0, std::vector<std::uint8_t>{0});
  form.SetDeviceModeSource([] { return std::uint8_t{0}; });
  form.show();
  EXPECT_FALSE(form.PageControl1->isTabVisible(0));
  EXPECT_TRUE(form.PageControl1->isTabVisible(1));

  // Too long for one frame: refused, nothing sent.
  form.PacketLengthEdit->setText("0x61");
  form.PollButton->click();
  EXPECT_FALSE(form.Polling());
  EXPECT_EQ(sim.prompter.Captions(), std::vector<std::string>{diag::kLengthRefusedCaption});
  EXPECT_TRUE(SentLengths().empty());

  // Not a number: one byte.
  form.PacketLengthEdit->setText("one");
  form.PollButton->click();
  EXPECT_EQ(form.PollButton->text(), "Stop Polling");
  RunSweeps(4);
  form.PollButton->click();
  EXPECT_FALSE(form.Polling());
  EXPECT_EQ(form.PollButton->text(), "Start Polling");
  EXPECT_EQ(SentLengths(), std::vector<std::size_t>(4, 1));
  EXPECT_EQ(form.SuccessRateGauge->Value(), 100);
  EXPECT_GT(form.LastLqiGauge->Value(), 0);
  // The LQI itself stands beside its gauge, in hex as everywhere else; the
  // gauge shows no percentage of it.
  const auto* lqi = form.findChild<QLabel*>("LastLqiLabel");
  ASSERT_NE(lqi, nullptr);
  EXPECT_EQ(lqi->text().toStdString(), HexText(static_cast<std::uint32_t>(form.LastLqiGauge->Value()), 2));
  EXPECT_FALSE(form.LastLqiGauge->ShowText());
  Save(&form, "diag_poll.png");

  // A start writes an empty line, the first tick its result.
  const std::string file = DiagFile();
  EXPECT_TRUE(std::regex_match(file, std::regex("New Data-{42}\r\n07/12/26  \\|  13:00:00\r\n\r\n"
                                                "LQI [0-9]+,Packet Success Rate [0-9]+%\r\n")))
      << file;

  // A note goes in as typed; with "Log To File" off nothing is written.
  form.InsertNote1->trigger();
  EXPECT_TRUE(note.isVisible());
  note.Edit1->setText("antenna turned");
  note.WriteButton->click();
  EXPECT_EQ(note.Edit1->text(), "antenna turned");
  form.LogToFile1->setChecked(false);
  note.WriteButton->click();
  form.PollButton->click();
  RunSweeps(1);
  // A delay typed while polling sets the wait after the next tick: the
  // delay + 10 ms.
  EXPECT_EQ(form.Timer1->interval(), 10);
  form.PollingDelayEdit->setText("0x20");
  RunSweeps(1);
  EXPECT_EQ(form.Timer1->interval(), 0x20 + 10);
  form.Exit1->trigger();
  EXPECT_FALSE(form.Polling());
  EXPECT_EQ(DiagFile(), file + "antenna turned\r\n");
}

TEST_F(DiagFormTest, WheelScrollsTheTableTwentyPixels) {
  form.show();
  QScrollBar* bar = form.ScrollBox1->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 40);
  const QPoint at(5, 5);
  QWheelEvent down(at, form.AddrListBox->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
  QApplication::sendEvent(form.AddrListBox->viewport(), &down);
  QApplication::sendEvent(form.AddrListBox->viewport(), &down);
  EXPECT_EQ(bar->value(), 40);
  QWheelEvent up(at, form.AddrListBox->mapToGlobal(at), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                 Qt::NoScrollPhase, false);
  QApplication::sendEvent(form.LQIListBox->viewport(), &up);
  EXPECT_EQ(bar->value(), 20);
}

}  // namespace
}  // namespace qmx

// The Serial tab in the main window on the simulated module: the bytes a
// transmission puts on the wire, its end on disconnect, received rows and
// the destination list.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QCheckBox>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QColor>
#include <QImage>
#include <QPalette>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <algorithm>
#include <atomic>
#include <functional>
#include <filesystem>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/number_text.h"
#include "mainwindow/ui/main_window.h"
#include "mainwindow/ui/received_column.h"
#include "mainwindow/ui/serial_tab.h"
#include "mainwindow/ui/view_queue.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/mainwindow/ui/demo_set.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SerialTabTest : public ::testing::Test {
 protected:
  SerialTabTest() : set(temp.path()) {}

  SerialTab& tab() { return *set.form1.Serial; }
  // The data of the TX Data frames the module took, in order.
  std::vector<Bytes> SentData() {
    std::vector<Bytes> out;
    for (const Frame& f : set.module->ReceivedFrames())
      if (f.type() == ptype::TxData) out.emplace_back(f.payload() + 2, f.payload() + f.payloadSize());
    return out;
  }
  // The window shown and active, its tabs usable without a radio.
  void ShowActive() {
    set.form1.show();
    set.form1.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&set.form1));
    set.form1.PageControl1->setEnabled(true);
  }
  // A picture of the window for review, under <build>/screenshots.
  void Save(const char* file) {
    const auto dir = std::filesystem::path(test::BuildDir()) / "screenshots";
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(set.form1.grab().save(QString::fromStdString((dir / file).string()), "PNG"));
  }
  // Lines of a column.
  static QStringList Lines(ReceivedColumn* column) { return column->toPlainText().split('\n'); }

  test::TempDir temp;
  test::DemoSet set;
};

TEST_F(SerialTabTest, TransmittedBytesOnTheWire) {
  ASSERT_TRUE(set.Connect());
  struct Case {
    const char* text;
    bool ascii, cr;
    std::optional<Bytes> sent;  // nullopt: refused
  };
  const Case cases[] = {
      {" 01  02 03", false, false, Bytes{1, 2, 3}},
      // A token that is not one or two hex digits is refused, also the last
      // one: never sent changed (as 00 or FF).
      {"01 zz", false, false, std::nullopt},
      {"1FF", false, false, std::nullopt},
      {"01 zz 02", false, false, std::nullopt},
      {"", true, true, Bytes{0x0D}},
  };
  tab().NetworkAddrComboBox->setEditText("0x0002");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    set.module->ClearReceivedFrames();
    set.prompter.Clear();
    tab().DataCheckBox->setChecked(c.ascii);
    tab().CRCheckBox->setChecked(c.cr);
    tab().TransmitEdit->setText(c.text);
    tab().TransmitButtonClick();
    ASSERT_TRUE(tab().Timer1->isActive());
    tab().Timer1Timer();  // the tick, without waiting for it
    EXPECT_FALSE(tab().Timer1->isActive());
    if (c.sent) {
      EXPECT_EQ(SentData(), std::vector<Bytes>{*c.sent});
      EXPECT_EQ(set.prompter.Count(), 0u);
      EXPECT_EQ(tab().TXStatusEdit->text(), "0x00");
      const Frame tx = set.module->ReceivedFrames().back();
      EXPECT_EQ(tx.payload()[0] | tx.payload()[1] << 8, 0x0002);
    } else {
      EXPECT_TRUE(SentData().empty());
      EXPECT_EQ(set.prompter.All(), (std::vector<test::Shown>{
                                        {"Invalid data.  Please check data and try again.", "Invalid Data", false}}));
    }
  }
}

// No address, or text that is none, is never sent to 0x0000: the press is
// refused before anything goes out, and a repeated transmission whose
// address is emptied meanwhile ends at its next tick.
TEST_F(SerialTabTest, AnEmptyOrMalformedAddressSendsNothing) {
  ASSERT_TRUE(set.Connect());
  for (const char* address : {"", "zz", "0x10000"}) {
    SCOPED_TRACE(address);
    set.module->ClearReceivedFrames();
    set.prompter.Clear();
    tab().NetworkAddrComboBox->setEditText(address);
    tab().TransmitButtonClick();
    EXPECT_FALSE(tab().Timer1->isActive());
    EXPECT_TRUE(set.module->ReceivedFrames().empty());
    ASSERT_EQ(set.prompter.Count(), 1u);
    EXPECT_EQ(set.prompter.All()[0].caption, "Invalid Network Address");
  }

  tab().NetworkAddrComboBox->setEditText("$2");
  tab().IntervalEdit->setText("5");
  set.prompter.Clear();
  set.module->ClearReceivedFrames();
  tab().TransmitButtonClick();
  tab().Timer1Timer();
  ASSERT_EQ(SentData().size(), 1u);
  EXPECT_EQ(set.module->ReceivedFrames().back().payload()[0], 0x02);
  ASSERT_TRUE(tab().Timer1->isActive());
  set.module->ClearReceivedFrames();
  tab().NetworkAddrComboBox->setEditText("");
  tab().Timer1Timer();
  EXPECT_TRUE(set.module->ReceivedFrames().empty());
  EXPECT_FALSE(tab().Timer1->isActive());
  EXPECT_EQ(set.prompter.All(),
            (std::vector<test::Shown>{{"No network address.  Please enter the radio's address, 0x0000 to 0xFFFF.",
                                       "Invalid Network Address", false}}));
  // "Stop" still stops without an address.
  tab().TransmitButtonClick();
  EXPECT_EQ(tab().TransmitButton->text(), "Transmit");
  EXPECT_EQ(set.prompter.Count(), 1u);
}

TEST_F(SerialTabTest, DisconnectEndsARepeatedTransmission) {
  ASSERT_TRUE(set.Connect());
  tab().NetworkAddrComboBox->setEditText("0x0002");
  tab().IntervalEdit->setText("5");
  tab().TransmitButtonClick();
  EXPECT_EQ(tab().TransmitButton->text(), "Stop");
  ASSERT_TRUE(tab().Timer1->isActive());
  set.form1.ConnectButtonClick();
  ASSERT_FALSE(set.form1.Connected());
  EXPECT_FALSE(tab().Timer1->isActive());
  EXPECT_EQ(tab().TransmitButton->text(), "Transmit");
  EXPECT_EQ(tab().TransmitState(), TransmitSchedule::State::Idle);
}

TEST_F(SerialTabTest, ALongPacketKeepsTheColumnsAligned) {
  Bytes data(40);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
  set.form1.Sink().ReceivedData(0x0002, 0x5A, data);
  set.form1.Sink().ReceivedData(0x0003, 0x07, Bytes{});  // an empty line still takes a row
  set.form1.Sink().ReceivedData(0x0001, 0x10, Bytes{0x41});
  QCoreApplication::processEvents();
  const QStringList text = Lines(tab().ReceivedDataRichEdit);
  ASSERT_EQ(text.size(), 4);
  EXPECT_EQ(text[0].size(), 75);
  EXPECT_EQ(text[1].size(), 45);
  EXPECT_EQ(text[2], "");
  EXPECT_EQ(text[3], "41 ");
  EXPECT_EQ(Lines(tab().MACAddressRichEdit), (QStringList{"0x0002", "", "0x0003", "0x0001"}));
  EXPECT_EQ(Lines(tab().LQIRichEdit), (QStringList{"0x5A", "", "0x07", "0x10"}));

  tab().Clear1Click();
  EXPECT_EQ(tab().Rows(), 0u);
  EXPECT_TRUE(tab().ReceivedDataRichEdit->toPlainText().isEmpty());
}

TEST_F(SerialTabTest, AFullViewDropsItsOldestPacketsWithTheColumnsAligned) {
  constexpr std::size_t kCap = 25;
  constexpr int kPackets = 40;
  tab().SetMaxRows(kCap);
  // From another thread, as the parser sends them: every third packet takes
  // two rows, and each carries its number.
  std::thread parser([this] {
    for (int i = 0; i < kPackets; ++i) {
      Bytes data(i % 3 == 0 ? 30 : 1, 0xEE);
      data[0] = static_cast<std::uint8_t>(i);
      set.form1.Sink().ReceivedData(static_cast<std::uint16_t>(i), 0x40, data);
    }
  });
  parser.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(tab().PacketsShown(), static_cast<std::uint64_t>(kPackets));
  const QStringList addresses = Lines(tab().MACAddressRichEdit);
  const QStringList data = Lines(tab().ReceivedDataRichEdit);
  ASSERT_LE(tab().Rows(), kCap);
  ASSERT_EQ(static_cast<std::size_t>(data.size()), tab().Rows());
  EXPECT_EQ(Lines(tab().LQIRichEdit).size(), data.size());
  ASSERT_EQ(addresses.size(), data.size());
  // Whole packets, the newest, in order: each address row has its packet's
  // number as the first data byte.
  EXPECT_FALSE(addresses.front().isEmpty());
  int expected = kPackets - 1;
  for (qsizetype row = data.size() - 1; row >= 0; --row) {
    if (addresses[row].isEmpty()) continue;
    EXPECT_EQ(addresses[row], QString::fromStdString(NetworkAddressText(static_cast<std::uint16_t>(expected))));
    EXPECT_TRUE(data[row].startsWith(QString::fromStdString(HexText(static_cast<std::uint8_t>(expected), 2)).mid(2)))
        << data[row].toStdString();
    --expected;
  }
  // The view is as high as its rows need, no more.
  const int grown = static_cast<int>(tab().Rows()) - 19;
  EXPECT_EQ(tab().ReceivedDataRichEdit->height(), SerialTab::kColumnHeight + SerialTab::kGrowStep * grown);
}

// Rows of hex bytes, addresses and link qualities are copied from cells made
// once per word; a selected row and text rows are drawn by the painter. The
// columns look the same either way, to the pixel.
TEST_F(SerialTabTest, RowsCopiedFromCellsLookAsThePainterDrawsThem) {
  ShowActive();
  Bytes data(256);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  for (std::size_t at = 0; at < data.size(); at += 40)
    set.form1.Sink().ReceivedData(static_cast<std::uint16_t>(at * 97), static_cast<std::uint8_t>(at),
                                  std::span(data).subspan(at, std::min<std::size_t>(40, data.size() - at)));
  QCoreApplication::processEvents();  // laid out in hex
  tab().HexCheckBox->setChecked(false);
  set.form1.Sink().ReceivedData(0xFFFE, 0xFF, Bytes{'H', 'i', ' ', 'y', 'o', 'u', '!'});
  QCoreApplication::processEvents();
  QTest::mouseClick(tab().ReceivedDataRichEdit, Qt::LeftButton, {}, QPoint(20, tab().ReceivedDataRichEdit->RowTop(1) + 5));
  ASSERT_TRUE(tab().ReceivedDataRichEdit->HasSelection());
  // Enabled, then disabled (other colours: the cells are made again), then
  // with too few colours for most words: their rows go back to the painter.
  for (auto [enabled, colours] : {std::pair{true, std::size_t{256}}, {false, std::size_t{256}}, {true, std::size_t{3}}}) {
    set.form1.PageControl1->setEnabled(enabled);
    for (ReceivedColumn* column : {tab().MACAddressRichEdit, tab().ReceivedDataRichEdit, tab().LQIRichEdit}) {
      column->LimitCellColours(colours);
      const QImage cells = column->grab().toImage();
      column->UseCells(false);
      EXPECT_EQ(column->grab().toImage(), cells) << column->objectName().toStdString() << " enabled " << enabled << " colours " << colours;
      column->UseCells(true);
    }
  }
}

// A palette that changes only its background, or only its text colour,
// gives cells made anew: the rows still look as the painter draws them.
TEST_F(SerialTabTest, CellsFollowAChangeOfOnlyTheBackgroundOrOnlyTheText) {
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  Bytes data(40);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  set.form1.Sink().ReceivedData(0x0102, 0x40, data);
  QCoreApplication::processEvents();
  ReceivedColumn* column = tab().ReceivedDataRichEdit;
  (void)column->grab();  // cells made in the first colours
  for (auto [role, colour] : {std::pair{QPalette::Base, QColor(255, 255, 160)}, {QPalette::Text, QColor(160, 0, 0)}}) {
    QPalette palette = column->palette();
    palette.setColor(role, colour);
    column->setPalette(palette);
    const QImage cells = column->grab().toImage();
    column->UseCells(false);
    EXPECT_EQ(column->grab().toImage(), cells) << (role == QPalette::Base ? "background" : "text");
    column->UseCells(true);
  }
}

// Copy gives whole packets, one line each (address, tab, all the data, tab,
// link quality), even when a packet takes several rows and only its first
// was clicked.
TEST_F(SerialTabTest, CopyGivesWholePackets) {
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  Bytes data(90);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x20 + i);
  set.form1.Sink().ReceivedData(0x0001, 0x40, Bytes{0x41});
  set.form1.Sink().ReceivedData(0x0003, 0x9B, data);
  QCoreApplication::processEvents();
  ASSERT_GE(tab().Rows(), 3u);
  std::string hex;
  for (std::uint8_t b : data) hex += Hex2(b) + " ";
  ReceivedColumn* column = tab().ReceivedDataRichEdit;
  QTest::mouseClick(column, Qt::LeftButton, {}, QPoint(20, column->RowTop(1) + 5));
  QTest::keyClick(column, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "0x0003\t" + hex + "\t0x9B");
  // Every row of the packet shows as selected.
  for (std::size_t row = 1; row < tab().Rows(); ++row) {
    const QImage line = column->grab(QRect(20, column->RowTop(row) + 2, 1, 1)).toImage();
    EXPECT_EQ(line.pixelColor(0, 0), column->palette().color(QPalette::Highlight)) << row;
  }
}

// Hex rows take the width they have: wider, more bytes a row; back, as
// many as before; every row within its column, the packet at the top of
// the view still there.
TEST_F(SerialTabTest, HexRowsUseTheWidthTheyHave) {
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  TForm1& w = set.form1;
  Bytes data(90);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  for (std::uint16_t a = 1; a <= 30; ++a) set.form1.Sink().ReceivedData(a, 0x40, data);
  QCoreApplication::processEvents();
  ReceivedColumn* column = tab().ReceivedDataRichEdit;
  const qreal advance = QFontMetricsF(column->font()).horizontalAdvance('0');
  auto bytesPerRow = [&] { return Lines(column)[0].size() / 3; };
  auto rowsFit = [&] {
    const int room = column->contentsRect().width() - 2 * ReceivedColumn::kMargin;
    for (const QString& line : Lines(column))
      if (advance * static_cast<qreal>(line.trimmed().size()) > room) return false;
    return true;
  };
  const auto before = bytesPerRow();
  EXPECT_TRUE(rowsFit());
  QScrollBar* bar = tab().ScrollBox1->verticalScrollBar();
  bar->setValue(column->RowTop(tab().Rows() / 2) - column->RowTop(0));
  const QString topAddress = Lines(tab().MACAddressRichEdit)[static_cast<qsizetype>(column->RowAt(column->RowTop(0) + bar->value()))];

  w.resize(w.width() + 600, w.height());
  QCoreApplication::processEvents();
  EXPECT_GE(bytesPerRow(), before + static_cast<qsizetype>(600 / advance / 3) - 1);
  EXPECT_TRUE(rowsFit());
  const std::size_t top = column->RowAt(column->RowTop(0) + bar->value());
  EXPECT_EQ(Lines(tab().MACAddressRichEdit)[static_cast<qsizetype>(top)], topAddress);
  // The picture shows the count naming a bad token too.
  tab().DataCheckBox->setChecked(false);
  tab().TransmitEdit->setText("41 1FF zz");
  EXPECT_EQ(tab().TransmitCountLabel->text(), "1FF is not a byte");
  QCoreApplication::processEvents();
  EXPECT_GE(tab().TransmitCountLabel->width(), tab().TransmitCountLabel->sizeHint().width());
  Save("serial_tab_wide.png");

  w.resize(w.width() - 600, w.height());
  QCoreApplication::processEvents();
  EXPECT_EQ(bytesPerRow(), before);
  EXPECT_TRUE(rowsFit());
}

TEST_F(SerialTabTest, ScrollRealTimeFollowsTheDataWithoutTakingTheFocus) {
  TForm1& w = set.form1;
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  tab().TransmitEdit->setFocus();
  QTest::mouseClick(tab().ScrollRealTimeCheckBox, Qt::LeftButton);
  tab().TransmitEdit->setFocus();
  for (std::uint8_t i = 0; i < 40; ++i) {
    w.Sink().FrameReceived();
    w.Sink().ReceivedData(0x0001, 0x40, Bytes{i});
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), tab().TransmitEdit);
  const QScrollBar* bar = tab().ScrollBox1->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  QTest::keyClicks(tab().TransmitEdit, "!");
  EXPECT_EQ(tab().TransmitEdit->text(), "This is a test!");
}

// A key typed while a backlog of received rows waits is taken, and its
// field painted, before the backlog is through; the rows still all come,
// in order.
TEST_F(SerialTabTest, TypingIsNotHeldBehindABacklogOfRows) {
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  tab().TransmitEdit->setFocus();
  tab().TransmitEdit->clear();
  constexpr std::size_t kBacklog = 20000;
  const std::uint64_t before = tab().PacketsShown();
  for (std::size_t i = 0; i < kBacklog; ++i)
    set.form1.Sink().ReceivedData(static_cast<std::uint16_t>(i), 0x40, Bytes{0x11});
  // The key comes from the window system after the rows were queued.
  std::optional<std::uint64_t> shownAtKey, shownAtPaint;
  struct Watch : QObject {
    std::function<void(QEvent*)> seen;
    bool eventFilter(QObject*, QEvent* e) override {
      seen(e);
      return false;
    }
  } watch;
  watch.seen = [&](QEvent* e) {
    if (e->type() == QEvent::KeyPress && !shownAtKey) shownAtKey = tab().PacketsShown() - before;
    if (e->type() == QEvent::Paint && shownAtKey && !shownAtPaint) shownAtPaint = tab().PacketsShown() - before;
  };
  tab().TransmitEdit->installEventFilter(&watch);
  QCoreApplication::postEvent(tab().TransmitEdit, new QKeyEvent(QEvent::KeyPress, Qt::Key_4, Qt::NoModifier, "4"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return tab().PacketsShown() - before >= kBacklog; }, 60000));
  tab().TransmitEdit->removeEventFilter(&watch);
  EXPECT_EQ(tab().TransmitEdit->text(), "4");
  ASSERT_TRUE(shownAtKey && shownAtPaint);
  EXPECT_LT(*shownAtKey, kBacklog);
  EXPECT_LT(*shownAtPaint, kBacklog);
  // The newest rows, in order: each packet's address is its number.
  const QStringList addresses = Lines(tab().MACAddressRichEdit);
  ASSERT_EQ(static_cast<std::size_t>(addresses.size()), SerialTab::kMaxRows);
  for (std::size_t row = 0; row < SerialTab::kMaxRows; ++row) {
    const auto n = static_cast<std::uint16_t>(kBacklog - SerialTab::kMaxRows + row);
    ASSERT_EQ(addresses[static_cast<qsizetype>(row)], QString::fromStdString(NetworkAddressText(n))) << "row " << row;
  }
}

// Under a flood the user-interface thread is woken once for each pass over
// the queued rows, by the pass before it, not by the rows themselves.
TEST_F(SerialTabTest, AFloodWakesTheWindowOncePerPass) {
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  int posted = 0;
  struct Count : QObject {
    int* n;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::MetaCall) ++*n;
      return false;
    }
  } count;
  count.n = &posted;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> sent{0};
  std::thread radio([&] {
    while (!stop) {
      set.form1.Sink().FrameReceived();
      set.form1.Sink().ReceivedData(0x0002, 0x40, Bytes{0x11});
      ++sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const std::uint64_t before = tab().PacketsShown();
  // Counted once the flood is under way: its first rows wake the thread.
  QTest::qWait(static_cast<int>(2 * ViewQueue::kDrainGap.count()));
  set.form1.installEventFilter(&count);
  QTest::qWait(static_cast<int>(6 * ViewQueue::kDrainGap.count()));
  stop = true;
  radio.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return tab().PacketsShown() - before >= sent; }, 5000));
  set.form1.removeEventFilter(&count);
  EXPECT_LE(posted, 1) << sent << " frames";
}

// With Scroll RealTime on, each frame that arrives brings the view back to
// its end, wherever it was scrolled to meanwhile, and not only the first.
TEST_F(SerialTabTest, ScrollRealTimeKeepsTheEndInViewFrameAfterFrame) {
  TForm1& w = set.form1;
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  QTest::mouseClick(tab().ScrollRealTimeCheckBox, Qt::LeftButton);
  for (std::uint8_t i = 0; i < 40; ++i) w.Sink().ReceivedData(0x0001, 0x40, Bytes{i});
  QCoreApplication::processEvents();
  QScrollBar* bar = tab().ScrollBox1->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  for (int frame = 0; frame < 3; ++frame) {
    bar->setValue(0);
    w.Sink().FrameReceived();
    QTest::qWait(2 * static_cast<int>(ViewQueue::kDrainGap.count()));  // past a flood's pause
    EXPECT_EQ(bar->value(), bar->maximum()) << "frame " << frame;
  }
}

TEST_F(SerialTabTest, EnterInTheDataFieldTransmits) {
  ASSERT_TRUE(set.Connect());
  tab().NetworkAddrComboBox->setEditText("0x0002");
  QTest::keyClick(tab().TransmitEdit, Qt::Key_Return);
  ASSERT_TRUE(tab().Timer1->isActive());
  tab().Timer1Timer();
  EXPECT_EQ(SentData().size(), 1u);
}

// Every tab stop of the tab looks different with the focus than without.
TEST_F(SerialTabTest, TheFocusShowsOnEveryTabStop) {
  TForm1& w = set.form1;
  ASSERT_NO_FATAL_FAILURE(ShowActive());
  tab().ShowReceivedData(0x0002, 0x40, Bytes{1, 2, 3});
  std::vector<QWidget*> stops;
  for (QWidget* s = tab().nextInFocusChain(); s != &tab(); s = s->nextInFocusChain())
    if (s->isVisibleTo(&tab()) && s->isEnabled() && (s->focusPolicy() & Qt::TabFocus) && tab().isAncestorOf(s))
      stops.push_back(s);
  ASSERT_GE(stops.size(), 10u);
  // As after moving by keyboard: the style shows focus then.
  w.setAttribute(Qt::WA_KeyboardFocusChange);
  for (QWidget* stop : stops) {
    w.PageControl1->tabBar()->setFocus();
    QCoreApplication::processEvents();
    const QImage without = stop->grab().toImage();
    stop->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    EXPECT_NE(stop->grab().toImage(), without) << stop->objectName().toStdString() << " "
                                               << stop->metaObject()->className();
  }
}

TEST_F(SerialTabTest, TheFieldsSayWhatGoesOutAndWhatCameBack) {
  ASSERT_TRUE(set.Connect());
  QLabel* count = tab().TransmitCountLabel;
  EXPECT_EQ(count->text(), "14 bytes");
  tab().DataCheckBox->setChecked(false);
  tab().TransmitEdit->setText("01 02 03");
  EXPECT_EQ(count->text(), "3 bytes");
  tab().CRCheckBox->setChecked(true);
  EXPECT_EQ(count->text(), "4 bytes");

  // A paste that would be cut is refused whole; one that fits goes in.
  tab().CRCheckBox->setChecked(false);
  tab().TransmitEdit->setText("01 ");
  tab().TransmitEdit->end(false);
  QApplication::clipboard()->setText(QString("AB ").repeated(26) + "CD");  // 83 characters with the "01 "
  QTest::keyClick(tab().TransmitEdit, Qt::Key_V, Qt::ControlModifier);
  QCoreApplication::processEvents();
  EXPECT_EQ(set.prompter.Count(), 1u);
  EXPECT_EQ(tab().TransmitEdit->text(), "01 ");
  QApplication::clipboard()->setText(QString("AB ").repeated(25) + "CD");
  QTest::keyClick(tab().TransmitEdit, Qt::Key_V, Qt::ControlModifier);
  QCoreApplication::processEvents();
  EXPECT_EQ(set.prompter.Count(), 1u);
  EXPECT_EQ(count->text(), "27 bytes");

  // The transmit status is explained.
  struct Case {
    const char* address;
    const char* status;
    const char* meaning;
  };
  for (const Case& c : {Case{"0x0002", "0x00", "acknowledged"}, Case{"0x0009", "0x01", "no acknowledgement"}}) {
    tab().NetworkAddrComboBox->setEditText(c.address);
    tab().TransmitButtonClick();
    tab().Timer1Timer();
    EXPECT_EQ(tab().TXStatusEdit->text(), c.status);
    EXPECT_EQ(tab().TXStatusMeaningLabel->text(), c.meaning);
  }
}

TEST_F(SerialTabTest, AJoinAnnouncedTwiceAddsOneDestination) {
  set.form1.RadioNetworkAddressComboBox[0]->setEditText("0x0009");
  tab().NetworkAddrComboBox->setEditText("0x0007");
  for (int i = 0; i < 2; ++i) set.form1.Sink().RemoteJoined(0x0002);
  QCoreApplication::processEvents();
  EXPECT_EQ(tab().Destinations(), QStringList{"0x0002"});
  EXPECT_EQ(tab().NetworkAddrComboBox->currentText(), "0x0007");
  for (QComboBox* box : set.form1.RadioNetworkAddressComboBox) EXPECT_EQ(box->count(), 1);
  EXPECT_EQ(set.form1.RadioNetworkAddressComboBox[0]->currentText(), "0x0009");
}

}  // namespace
}  // namespace qmx

// The Events view on a busy network: it keeps its newest lines, whole events
// only, in order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QTextEdit>
#include <string>
#include <thread>

#include "mainwindow/ui/events_tab.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/ui/palettes.h"
#include "tests/fixtures/ui/qt_app.h"
#include "tests/mainwindow/ui/demo_set.h"

namespace qmx {
namespace {

TEST(EventsViewTest, AFullViewDropsItsOldestEventsWhole) {
  test::TempDir temp;
  test::DemoSet set(temp.path());
  EventsTab& tab = *set.form1.Events;
  constexpr int kCap = 20;
  constexpr int kEvents = 12;  // three lines each
  tab.SetMaxLines(kCap);
  std::thread parser([&set] {
    for (int i = 0; i < kEvents; ++i) {
      EventBlock block;
      block.lines = {"event " + std::to_string(i), "detail", ""};
      set.form1.Sink().EventText(block);
    }
  });
  parser.join();
  QCoreApplication::processEvents();
  const QStringList lines = tab.EventRichEdit->toPlainText().split('\n');
  ASSERT_LE(lines.size(), kCap);
  ASSERT_EQ(lines.size() % 3, 0);
  const int first = kEvents - static_cast<int>(lines.size()) / 3;
  for (qsizetype i = 0; i < lines.size(); i += 3) {
    EXPECT_EQ(lines[i], QString("event %1").arg(first + i / 3));
    EXPECT_EQ(lines[i + 1], "detail");
    EXPECT_EQ(lines[i + 2], "");
  }
}

// Red and green event lines keep their colours on a light palette and read
// at 4.5:1 on a dark one, also the lines written before the palette changed.
TEST(EventsViewTest, EventColoursReadOnADarkPalette) {
  test::QtApp();
  EventsTab tab;
  QFont font = tab.EventRichEdit->font();
  font.setPixelSize(28);
  font.setBold(true);
  tab.EventRichEdit->setFont(font);
  tab.resize(700, 450);
  auto append = [&tab] {
    tab.AppendEvent({TextColour::Red, {"Protocol Error -- general error"}, 0});
    tab.AppendEvent({TextColour::Green, {"Radio has completed startup initialization."}, 0});
  };
  auto check = [&tab](const char* when) {
    SCOPED_TRACE(when);
    const QColor base = tab.EventRichEdit->palette().color(QPalette::Base);
    const QImage img = tab.EventRichEdit->viewport()->grab().toImage();
    test::ExpectShownOn(test::Most(img, test::Redness), QColor(255, 0, 0), base);
    test::ExpectShownOn(test::Most(img, test::Greenness), QColor(0, 128, 0), base);
  };
  append();
  check("light");
  tab.setPalette(test::DarkPalette());
  check("written light, shown dark");
  tab.ClearEventButtonClick();
  append();
  check("dark");
  tab.setPalette(QPalette());
  check("written dark, shown light");
}

}  // namespace
}  // namespace qmx

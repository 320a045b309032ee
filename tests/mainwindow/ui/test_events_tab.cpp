// The Events view on a busy network: it keeps its newest lines, whole events
// only, in order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTextEdit>
#include <string>
#include <thread>

#include "mainwindow/ui/events_tab.h"
#include "tests/fixtures/temp_dir.h"
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

}  // namespace
}  // namespace qmx

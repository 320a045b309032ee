// The diagnostics charts on dark and light palettes.
#include "tools/ui/diag_chart.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "tests/fixtures/ui/palettes.h"
#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

// The background is the palette's base; the Rx bars and the LQI marks keep
// their colours on a light palette and read at 4.5:1 on a dark one.
TEST(DiagChart, DrawsFromThePalette) {
  test::QtApp();
  for (bool dark : {true, false}) {
    SCOPED_TRACE(dark ? "dark" : "light");
    DiagBarChart bars;
    DiagTimeChart times;
    for (QWidget* w : {static_cast<QWidget*>(&bars), static_cast<QWidget*>(&times)}) {
      if (dark) w->setPalette(test::DarkPalette());
      w->resize(w->sizeHint());
    }
    for (int row = 0; row < DiagBarChart::kColumns; ++row) bars.SetRow(row, 100, 255);
    const QColor base = bars.palette().color(QPalette::Base);
    const QImage img = bars.grab().toImage();
    EXPECT_EQ(img.pixelColor(0, 0), base);
    EXPECT_EQ(times.grab().toImage().pixelColor(0, 0), base);
    test::ExpectShownOn(test::Most(img, test::Greenness), QColor(0, 150, 0), base);
    test::ExpectShownOn(test::Most(img, test::Blueness), QColor(30, 90, 200), base);
  }
}

}  // namespace
}  // namespace qmx

#include "widgets/gauge.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <climits>

#include "tests/fixtures/ui/palettes.h"
#include "tests/fixtures/ui/qt_app.h"
#include "widgets/palette_colour.h"

namespace qmx {
namespace {

class GaugeTest : public ::testing::Test {
 protected:
  void SetUp() override { test::QtApp(); }
};

struct PercentCase {
  int minimum, maximum, value, percent;
};

TEST_F(GaugeTest, PercentIsTruncatedAndClamped) {
  const PercentCase cases[] = {
      {0, 100, 0, 0},      {0, 100, 66, 66},    {0, 100, 100, 100},  {0, 3, 2, 66},
      {0, 255, 254, 99},   {0, 255, 255, 100},  {0, 100, -5, 0},     {0, 100, 250, 100},
      {-50, 50, 0, 50},    {10, 20, 15, 50},    {10, 20, 9, 0},
      // An empty or inverted range has nothing to fill (and must not divide by zero).
      {5, 5, 5, 0},        {5, 5, 4, 0},        {7, 3, 5, 0},        {7, 3, 9, 0},
      {INT_MIN, INT_MAX, 0, 50}, {INT_MIN, INT_MAX, INT_MAX, 100},
  };
  Gauge g;
  for (const auto& c : cases) {
    g.SetRange(c.minimum, c.maximum);
    g.SetValue(c.value);
    EXPECT_EQ(g.Percent(), c.percent) << c.minimum << ".." << c.maximum << " value " << c.value;
    EXPECT_EQ(g.PercentText(), QString::number(c.percent) + "%");
    // The value itself is kept as given.
    EXPECT_EQ(g.Value(), c.value);
  }
}

// Counts pixels of `color` along the middle row (horizontal) or column
// (vertical) of a grab of the gauge.
int FilledPixels(Gauge& g, const QColor& color) {
  const QImage img = g.grab().toImage().convertToFormat(QImage::Format_RGB32);
  int n = 0;
  if (g.GaugeKind() == Gauge::Kind::HorizontalBar) {
    for (int x = 0; x < img.width(); ++x)
      if (QColor(img.pixel(x, img.height() / 2)) == color) ++n;
  } else {
    for (int y = 0; y < img.height(); ++y)
      if (QColor(img.pixel(img.width() / 2, y)) == color) ++n;
  }
  return n;
}

TEST_F(GaugeTest, DrawsFilledShareInBothOrientations) {
  const QColor fore(0, 200, 0), back(255, 255, 255);
  for (auto kind : {Gauge::Kind::HorizontalBar, Gauge::Kind::VerticalBar}) {
    Gauge g;
    g.SetKind(kind);
    g.SetShowText(false);
    g.SetForeColor(fore);
    g.SetBackColor(back);
    g.SetBorder(true);
    // 202 pixels minus a one-pixel border on each side: 200 inside.
    if (kind == Gauge::Kind::HorizontalBar)
      g.resize(202, 20);
    else
      g.resize(20, 202);
    g.SetRange(0, 255);

    const struct {
      int value, filled;
    } steps[] = {{0, 0}, {51, 40}, {128, 100}, {255, 200}, {400, 200}, {-10, 0}};
    for (const auto& s : steps) {
      g.SetValue(s.value);
      EXPECT_EQ(FilledPixels(g, fore), s.filled) << "value " << s.value;
      EXPECT_EQ(FilledPixels(g, back), 200 - s.filled) << "value " << s.value;
    }
  }
}

TEST_F(GaugeTest, VerticalBarFillsFromTheBottomAndHorizontalFromTheLeft) {
  const QColor fore(0, 200, 0);
  Gauge v;
  v.SetKind(Gauge::Kind::VerticalBar);
  v.SetShowText(false);
  v.SetForeColor(fore);
  v.resize(20, 102);
  v.SetValue(25);
  QImage img = v.grab().toImage();
  EXPECT_EQ(QColor(img.pixel(10, 100)), fore);
  EXPECT_NE(QColor(img.pixel(10, 2)), fore);

  Gauge h;
  h.SetShowText(false);
  h.SetForeColor(fore);
  h.resize(102, 20);
  h.SetValue(25);
  img = h.grab().toImage();
  EXPECT_EQ(QColor(img.pixel(1, 10)), fore);
  EXPECT_NE(QColor(img.pixel(100, 10)), fore);
}

TEST_F(GaugeTest, TextIsDrawnOnlyWhenAsked) {
  const QColor fore(0, 200, 0), back(255, 255, 255);
  Gauge g;
  g.SetForeColor(fore);
  g.SetBackColor(back);
  g.SetBorder(false);
  g.resize(g.sizeHint());
  g.SetValue(0);
  g.SetShowText(false);
  const QImage plain = g.grab().toImage();
  g.SetShowText(true);
  const QImage text = g.grab().toImage();
  EXPECT_NE(plain, text);
  // Without text an empty bar is the background only.
  for (int y = 0; y < plain.height(); ++y)
    for (int x = 0; x < plain.width(); ++x) ASSERT_EQ(QColor(plain.pixel(x, y)), back);
}

// At its own suggested size the text stands whole inside: no ink on the
// outermost rows and columns.
TEST_F(GaugeTest, TextFitsAtTheSuggestedSizeInBothOrientations) {
  const QColor back(255, 255, 255);
  for (auto kind : {Gauge::Kind::HorizontalBar, Gauge::Kind::VerticalBar}) {
    Gauge g;
    g.SetKind(kind);
    g.SetForeColor(back);
    g.SetBackColor(back);
    g.SetBorder(false);
    g.SetValue(100);
    const QSize hint = g.sizeHint();
    EXPECT_EQ(hint.width() > hint.height(), kind == Gauge::Kind::HorizontalBar);
    g.resize(hint);
    const QImage img = g.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(img.size(), hint);
    int ink = 0, edgeInk = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        if (QColor(img.pixel(x, y)) == back) continue;
        ++ink;
        if (x == 0 || y == 0 || x == img.width() - 1 || y == img.height() - 1) ++edgeInk;
      }
    EXPECT_GT(ink, 0);
    EXPECT_EQ(edgeInk, 0) << (kind == Gauge::Kind::VerticalBar ? "vertical" : "horizontal");
  }
}

TEST_F(GaugeTest, AnEmptyRangeDrawsAnEmptyBar) {
  const QColor fore(0, 200, 0);
  Gauge g;
  g.SetForeColor(fore);
  g.resize(g.sizeHint());
  g.SetRange(5, 5);
  g.SetValue(5);
  EXPECT_EQ(FilledPixels(g, fore), 0);
}

// The empty part is the palette's base. On a dark palette the bar and the
// text over both parts read at 4.5:1; on a light one the bar keeps its
// colour.
TEST_F(GaugeTest, DrawsFromThePalette) {
  const QColor fore(0, 128, 0);
  for (bool dark : {true, false}) {
    SCOPED_TRACE(dark ? "dark" : "light");
    Gauge g;
    if (dark) g.setPalette(test::DarkPalette());
    QFont font = g.font();
    font.setPixelSize(30);
    font.setBold(true);
    g.setFont(font);
    g.SetForeColor(fore);
    g.SetBorder(false);
    g.resize(200, 40);
    g.SetValue(50);
    const QImage img = g.grab().toImage();
    const QColor base = g.palette().color(QPalette::Base);
    EXPECT_EQ(g.BackColor(), base);
    EXPECT_EQ(img.pixelColor(198, 1), base);
    const QColor bar = img.pixelColor(1, 1);
    test::ExpectShownOn(bar, fore, base);
    // The text's strongest pixel on either side of the bar's end.
    for (const auto& [from, to, under] : {std::tuple{0, 100, bar}, std::tuple{100, 200, base}}) {
      const QImage part = img.copy(from, 0, to - from, img.height());
      const QColor ink =
          test::Most(part, [&](const QColor& c) { return static_cast<int>(100 * ContrastRatio(Rgb(c), Rgb(under))); });
      EXPECT_GE(ContrastRatio(Rgb(ink), Rgb(under)), kReadableContrast) << from;
    }
  }
}

}  // namespace
}  // namespace qmx

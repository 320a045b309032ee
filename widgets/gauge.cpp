#include "widgets/gauge.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "widgets/palette_colour.h"

namespace qmx {

Gauge::Gauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void Gauge::SetMinimum(int minimum) {
  if (minimum_ == minimum) return;
  minimum_ = minimum;
  update();
}

void Gauge::SetMaximum(int maximum) {
  if (maximum_ == maximum) return;
  maximum_ = maximum;
  update();
}

void Gauge::SetRange(int minimum, int maximum) {
  if (minimum_ == minimum && maximum_ == maximum) return;
  minimum_ = minimum;
  maximum_ = maximum;
  update();
}

void Gauge::SetValue(int value) {
  if (value_ == value) return;
  value_ = value;
  update();
}

void Gauge::SetKind(Kind kind) {
  if (kind_ == kind) return;
  kind_ = kind;
  updateGeometry();
  update();
}

void Gauge::SetForeColor(const QColor& color) {
  if (foreColor_ == color) return;
  foreColor_ = color;
  update();
}

void Gauge::SetBackColor(const QColor& color) {
  if (backColor_ == color) return;
  backColor_ = color;
  update();
}

void Gauge::SetShowText(bool show) {
  if (showText_ == show) return;
  showText_ = show;
  update();
}

void Gauge::SetBorder(bool border) {
  if (border_ == border) return;
  border_ = border;
  update();
}

double Gauge::Fraction() const {
  // 64-bit so that a range such as INT_MIN..INT_MAX cannot overflow.
  const std::int64_t span = std::int64_t{maximum_} - minimum_;
  const std::int64_t above = std::int64_t{value_} - minimum_;
  if (span <= 0) return 0.0;
  if (above <= 0) return 0.0;
  if (above >= span) return 1.0;
  return static_cast<double>(above) / static_cast<double>(span);
}

int Gauge::Percent() const {
  const std::int64_t span = std::int64_t{maximum_} - minimum_;
  const std::int64_t above = std::int64_t{value_} - minimum_;
  if (span <= 0) return 0;
  if (above <= 0) return 0;
  if (above >= span) return 100;
  // Exact integer truncation: 2 of 3 is 66, never 67 through rounding.
  return static_cast<int>(above * 100 / span);
}

QString Gauge::PercentText() const { return QString::number(Percent()) + QLatin1Char('%'); }

QSize Gauge::sizeHint() const {
  const QFontMetrics fm(font());
  // The widest text, "100%", with room on both sides, in either direction:
  // the text is always drawn across, so a vertical bar needs its width too.
  const int textWidth = fm.horizontalAdvance(QStringLiteral("100%")) + 12;
  const int thick = fm.height() + 6;
  const int longSide = std::max(100, textWidth);
  return kind_ == Kind::HorizontalBar ? QSize(longSide, thick) : QSize(std::max(thick, textWidth), longSide);
}

QSize Gauge::minimumSizeHint() const {
  return kind_ == Kind::HorizontalBar ? QSize(16, 8) : QSize(8, 16);
}

void Gauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QRect inner = rect();
  if (border_) {
    p.fillRect(inner, palette().color(QPalette::Dark));
    inner.adjust(1, 1, -1, -1);
  }
  if (inner.isEmpty()) return;
  const QColor back = BackColor();
  const QColor fore = ShownOn(foreColor_, back);
  p.fillRect(inner, back);

  // Whole pixels, rounded to nearest, so the bar is steady and testable.
  const double f = Fraction();
  QRect filled = inner;
  if (kind_ == Kind::HorizontalBar) {
    const int w = static_cast<int>(std::lround(f * inner.width()));
    filled.setWidth(w);
  } else {
    const int h = static_cast<int>(std::lround(f * inner.height()));
    filled.setTop(inner.bottom() - h + 1);
  }
  if (!filled.isEmpty()) p.fillRect(filled, fore);

  if (showText_) {
    // The text crosses the bar's end: each part in a colour that reads on it.
    const QColor text = palette().color(QPalette::Text);
    const QRegion over(filled);
    for (const auto& [clip, under] : {std::pair{over, fore}, std::pair{QRegion(inner) - over, back}}) {
      p.setClipRegion(clip);
      p.setPen(LiftContrast(text, under, kReadableContrast));
      p.drawText(inner, Qt::AlignCenter, PercentText());
    }
  }
}

}  // namespace qmx

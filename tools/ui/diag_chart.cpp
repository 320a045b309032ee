#include "tools/ui/diag_chart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <utility>
#include <vector>

#include "widgets/palette_colour.h"

namespace qmx {

namespace {

constexpr int kMaxLqi = 255;

// `a` with the share `t` of `b` mixed in.
QColor Mix(const QColor& a, const QColor& b, double t) {
  return QColor::fromRgbF(static_cast<float>(a.redF() + t * (b.redF() - a.redF())),
                          static_cast<float>(a.greenF() + t * (b.greenF() - a.greenF())),
                          static_cast<float>(a.blueF() + t * (b.blueF() - a.blueF())));
}

// The plot area inside a chart, with room for the axis texts and the legend,
// and the frame, grid and texts every chart shares. The colours come from
// the palette: its base behind the plot, its text for the words; the two
// series keep their colours on a light base and are lifted on a dark one.
struct Axes {
  QRect plot;
  QColor rateColor;
  QColor lqiColor;

  // Texts under the plot: at fractions 0 … 1 of its width.
  using Marks = std::vector<std::pair<double, QString>>;

  Axes(QPainter& p, const QPalette& palette, const QRect& all, const QString& rateName, const Marks& marks) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    rateColor = ShownOn(QColor(0, 150, 0), base);
    lqiColor = ShownOn(QColor(30, 90, 200), base);
    const QFontMetrics fm = p.fontMetrics();
    const int left = fm.horizontalAdvance("100%") + 6;
    const int right = std::max(fm.horizontalAdvance("255") + 6, fm.horizontalAdvance(marks.back().second) / 2 + 2);
    const int top = fm.height() + 6;
    const int bottom = fm.height() + 4;
    plot = all.adjusted(left, top, -right, -bottom);

    p.fillRect(all, base);
    p.setPen(Mix(base, text, 0.12));
    for (int i = 1; i < 4; ++i) {
      const int y = plot.top() + plot.height() * i / 4;
      p.drawLine(plot.left(), y, plot.right(), y);
    }
    p.setPen(Mix(base, text, 0.37));
    p.drawRect(plot);

    p.setPen(rateColor);
    const int topY = plot.top() + kHeadroom;
    p.drawText(QRect(all.left(), topY - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight, "100%");
    p.drawText(QRect(all.left(), plot.bottom() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight, "0");
    p.setPen(lqiColor);
    p.drawText(QRect(plot.right() + 4, topY - fm.height() / 2, right, fm.height()), Qt::AlignLeft, "255");
    p.drawText(QRect(plot.right() + 4, plot.bottom() - fm.height() / 2, right, fm.height()), Qt::AlignLeft, "0");

    // Legend: a coloured square before each name.
    int x = plot.left();
    const int box = fm.ascent() - 2;
    for (const auto& [name, color] : {std::pair{rateName, rateColor}, std::pair{QString("LQI"), lqiColor}}) {
      p.fillRect(QRect(x, 3 + (fm.height() - box) / 2, box, box), color);
      x += box + 4;
      p.setPen(text);
      p.drawText(QPoint(x, 3 + fm.ascent()), name);
      x += fm.horizontalAdvance(name) + 14;
    }
    p.setPen(ShownOn(Mix(base, text, 0.5), base));
    for (const auto& [at, mark] : marks) {
      const int x = plot.left() + static_cast<int>(at * plot.width());
      const int w = fm.horizontalAdvance(mark);
      p.drawLine(x, plot.bottom(), x, plot.bottom() + 2);
      p.drawText(QPoint(std::max(all.left(), x - w / 2), plot.bottom() + 2 + fm.ascent()), mark);
    }
  }

  // The top value sits a little below the frame, so that a line along it
  // stays visible.
  double Y(int value, int max) const {
    const double height = plot.height() - kHeadroom;
    return plot.bottom() - static_cast<double>(std::clamp(value, 0, max)) * height / max;
  }
  static constexpr int kHeadroom = 3;
};

}  // namespace

// ---------------------------------------------------------------------------

DiagTimeChart::DiagTimeChart(QWidget* parent, std::chrono::seconds span) : QWidget(parent), span_(span) {}

void DiagTimeChart::AddSample(TimePoint at, int successRate, int lqi) {
  samples_.push_back({at, successRate, lqi});
  while (!samples_.empty() && samples_.front().at < at - span_) samples_.pop_front();
  update();
}

void DiagTimeChart::Clear() {
  samples_.clear();
  update();
}

void DiagTimeChart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(span_).count();
  Axes::Marks marks;
  for (auto m = minutes; m > 0; --m) marks.emplace_back(1.0 - static_cast<double>(m) / minutes, QString("-%1 min").arg(m));
  marks.emplace_back(1.0, "now");
  Axes axes(p, palette(), rect(), "Success %", marks);
  if (samples_.empty()) return;
  const QRect& plot = axes.plot;
  const TimePoint end = samples_.back().at;
  const double spanSec = std::chrono::duration<double>(span_).count();
  auto x = [&](TimePoint at) {
    const double age = std::chrono::duration<double>(end - at).count();
    return plot.right() - age / spanSec * plot.width();
  };
  p.setRenderHint(QPainter::Antialiasing);
  p.setClipRect(plot);
  QPainterPath rate;
  QPainterPath lqi;
  for (std::size_t i = 0; i < samples_.size(); ++i) {
    const QPointF r(x(samples_[i].at), axes.Y(samples_[i].rate, 100));
    const QPointF q(x(samples_[i].at), axes.Y(samples_[i].lqi, kMaxLqi));
    if (i == 0) {
      rate.moveTo(r);
      lqi.moveTo(q);
    } else {
      rate.lineTo(r);
      lqi.lineTo(q);
    }
  }
  p.setPen(QPen(axes.lqiColor, 1.5));
  p.drawPath(lqi);
  p.setPen(QPen(axes.rateColor, 2));
  p.drawPath(rate);
}

// ---------------------------------------------------------------------------

DiagBarChart::DiagBarChart(QWidget* parent) : QWidget(parent) {}

void DiagBarChart::SetRow(int row, std::optional<int> rxPercent, std::optional<int> lqi) {
  if (row < 0 || row >= kColumns) return;
  columns_[static_cast<std::size_t>(row)] = {rxPercent, lqi};
  update();
}

void DiagBarChart::Clear() {
  columns_ = {};
  update();
}

void DiagBarChart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // Address a under the middle of its column.
  Axes::Marks marks;
  for (int a : {1, 10, 20, 30, 40, 50, 60}) marks.emplace_back((a - 0.5) / kColumns, QString::number(a));
  Axes axes(p, palette(), rect(), "Rx %", marks);
  const QRect& plot = axes.plot;
  const double step = static_cast<double>(plot.width()) / kColumns;
  const double bar = std::max(1.0, (step - 1) / 2);
  for (int c = 0; c < kColumns; ++c) {
    const Column& col = columns_[static_cast<std::size_t>(c)];
    const double left = plot.left() + c * step + 0.5;
    // A measured 0 still shows as a sliver on the axis.
    if (col.rx) {
      const double top = std::min(axes.Y(*col.rx, 100), plot.bottom() - 1.0);
      p.fillRect(QRectF(left, top, bar, plot.bottom() - top), axes.rateColor);
    }
    if (col.lqi) {
      const double top = std::min(axes.Y(*col.lqi, kMaxLqi), plot.bottom() - 1.0);
      p.fillRect(QRectF(left + bar, top, bar, plot.bottom() - top), axes.lqiColor);
    }
  }
}

}  // namespace qmx

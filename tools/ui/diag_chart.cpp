#include "tools/ui/diag_chart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <utility>
#include <vector>

namespace qmx {

namespace {

const QColor kRateColor(0, 150, 0);
const QColor kLqiColor(30, 90, 200);
constexpr int kMaxLqi = 255;

// The plot area inside a chart, with room for the axis texts and the legend,
// and the frame, grid and texts every chart shares.
struct Axes {
  QRect plot;

  // Texts under the plot: at fractions 0 … 1 of its width.
  using Marks = std::vector<std::pair<double, QString>>;

  Axes(QPainter& p, const QRect& all, const QString& rateName, const Marks& marks) {
    const QFontMetrics fm = p.fontMetrics();
    const int left = fm.horizontalAdvance("100%") + 6;
    const int right = std::max(fm.horizontalAdvance("255") + 6, fm.horizontalAdvance(marks.back().second) / 2 + 2);
    const int top = fm.height() + 6;
    const int bottom = fm.height() + 4;
    plot = all.adjusted(left, top, -right, -bottom);

    p.fillRect(all, Qt::white);
    p.setPen(QColor(225, 225, 225));
    for (int i = 1; i < 4; ++i) {
      const int y = plot.top() + plot.height() * i / 4;
      p.drawLine(plot.left(), y, plot.right(), y);
    }
    p.setPen(Qt::gray);
    p.drawRect(plot);

    p.setPen(kRateColor);
    const int topY = plot.top() + kHeadroom;
    p.drawText(QRect(all.left(), topY - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight, "100%");
    p.drawText(QRect(all.left(), plot.bottom() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight, "0");
    p.setPen(kLqiColor);
    p.drawText(QRect(plot.right() + 4, topY - fm.height() / 2, right, fm.height()), Qt::AlignLeft, "255");
    p.drawText(QRect(plot.right() + 4, plot.bottom() - fm.height() / 2, right, fm.height()), Qt::AlignLeft, "0");

    // Legend: a coloured square before each name.
    int x = plot.left();
    const int box = fm.ascent() - 2;
    for (const auto& [name, color] : {std::pair{rateName, kRateColor}, std::pair{QString("LQI"), kLqiColor}}) {
      p.fillRect(QRect(x, 3 + (fm.height() - box) / 2, box, box), color);
      x += box + 4;
      p.setPen(Qt::black);
      p.drawText(QPoint(x, 3 + fm.ascent()), name);
      x += fm.horizontalAdvance(name) + 14;
    }
    p.setPen(Qt::darkGray);
    for (const auto& [at, text] : marks) {
      const int x = plot.left() + static_cast<int>(at * plot.width());
      const int w = fm.horizontalAdvance(text);
      p.drawLine(x, plot.bottom(), x, plot.bottom() + 2);
      p.drawText(QPoint(std::max(all.left(), x - w / 2), plot.bottom() + 2 + fm.ascent()), text);
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
  Axes axes(p, rect(), "Success %", marks);
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
  p.setPen(QPen(kLqiColor, 1.5));
  p.drawPath(lqi);
  p.setPen(QPen(kRateColor, 2));
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
  Axes axes(p, rect(), "Rx %", marks);
  const QRect& plot = axes.plot;
  const double step = static_cast<double>(plot.width()) / kColumns;
  const double bar = std::max(1.0, (step - 1) / 2);
  for (int c = 0; c < kColumns; ++c) {
    const Column& col = columns_[static_cast<std::size_t>(c)];
    const double left = plot.left() + c * step + 0.5;
    // A measured 0 still shows as a sliver on the axis.
    if (col.rx) {
      const double top = std::min(axes.Y(*col.rx, 100), plot.bottom() - 1.0);
      p.fillRect(QRectF(left, top, bar, plot.bottom() - top), kRateColor);
    }
    if (col.lqi) {
      const double top = std::min(axes.Y(*col.lqi, kMaxLqi), plot.bottom() - 1.0);
      p.fillRect(QRectF(left + bar, top, bar, plot.bottom() - top), kLqiColor);
    }
  }
}

}  // namespace qmx

// A value between a minimum and a maximum shown as a filled bar, horizontal
// or vertical, optionally with the filled share as centred percentage text.
// Used for signal strength, success rates and progress.
//
// The value is stored as given, also outside [minimum, maximum]; only the
// drawing and Percent() clamp it. Every change repaints.
//
// Unless a back colour is set, the empty part is the palette's base colour.
// The bar keeps its colour on a light background and is lifted to a readable
// contrast on a dark one; the text stands out from both parts.
#pragma once

#include <QColor>
#include <QWidget>
#include <optional>

namespace qmx {

class Gauge : public QWidget {
  Q_OBJECT

 public:
  enum class Kind { HorizontalBar, VerticalBar };

  explicit Gauge(QWidget* parent = nullptr);

  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  int Value() const { return value_; }
  Kind GaugeKind() const { return kind_; }
  QColor ForeColor() const { return foreColor_; }
  // The colour the empty part is drawn in.
  QColor BackColor() const { return backColor_.value_or(palette().color(QPalette::Base)); }
  bool ShowText() const { return showText_; }
  bool HasBorder() const { return border_; }

  void SetMinimum(int minimum);
  void SetMaximum(int maximum);
  void SetRange(int minimum, int maximum);
  void SetValue(int value);
  void SetKind(Kind kind);
  void SetForeColor(const QColor& color);
  void SetBackColor(const QColor& color);
  void SetShowText(bool show);
  void SetBorder(bool border);

  // Filled share in whole percent, 0 to 100, truncated toward zero. An
  // empty range (maximum <= minimum) has nothing to fill: always 0.
  int Percent() const;
  // Filled share as a fraction 0.0 to 1.0, the same rules as Percent().
  double Fraction() const;
  // The percentage text, "NN%".
  QString PercentText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int minimum_ = 0;
  int maximum_ = 100;
  int value_ = 0;
  Kind kind_ = Kind::HorizontalBar;
  QColor foreColor_{Qt::green};
  std::optional<QColor> backColor_;
  bool showText_ = true;
  bool border_ = true;
};

}  // namespace qmx

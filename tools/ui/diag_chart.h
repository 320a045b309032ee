// Small painted charts of the diagnostics window: the poll's success rate
// and LQI over the last minutes, and the scan's Rx percentage and LQI per
// address. They only show what the window already measured.
#pragma once

#include <QWidget>
#include <array>
#include <chrono>
#include <deque>
#include <optional>

namespace qmx {

// Success rate (0 … 100 %) and LQI (0 … 255) against time, newest on the
// right, over a window of `span`.
class DiagTimeChart : public QWidget {
  Q_OBJECT

 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  explicit DiagTimeChart(QWidget* parent = nullptr, std::chrono::seconds span = std::chrono::minutes(5));

  void AddSample(TimePoint at, int successRate, int lqi);
  void Clear();
  std::size_t SampleCount() const { return samples_.size(); }

  QSize sizeHint() const override { return {420, 150}; }
  QSize minimumSizeHint() const override { return {240, 110}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Sample {
    TimePoint at;
    int rate;
    int lqi;
  };
  std::chrono::seconds span_;
  std::deque<Sample> samples_;
};

// One column per scan row: a bar of its Rx percentage, a mark at its LQI.
class DiagBarChart : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColumns = 60;
  explicit DiagBarChart(QWidget* parent = nullptr);

  // Nothing for a row not measured (yet); an LQI of nothing for no answer.
  void SetRow(int row, std::optional<int> rxPercent, std::optional<int> lqi);
  void Clear();

  QSize sizeHint() const override { return {440, 200}; }
  QSize minimumSizeHint() const override { return {380, 120}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Column {
    std::optional<int> rx;
    std::optional<int> lqi;
  };
  std::array<Column, kColumns> columns_{};
};

}  // namespace qmx

// One paint of the received view's data column in view (20 rows of hex
// bytes, offscreen), with its rows drawn from glyph cells or as glyph runs:
// what each batch of rows costs the user-interface thread under a flood.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollArea>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bench/ui/qt_bench_main.h"
#include "mainwindow/received_rows.h"
#include "mainwindow/serial_tab_logic.h"
#include "mainwindow/ui/received_column.h"

namespace {

void BM_PaintDataColumn(benchmark::State& state) {
  qmx::ReceivedRowsModel rows(5000);
  std::vector<std::uint8_t> data(16, 0x5A);
  for (std::uint32_t i = 0; i < 5000; ++i) {
    for (int b = 0; b < 4; ++b) data[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(i >> (24 - 8 * b));
    rows.Append(qmx::LayOutReceived(0x0002, 0xB8, data, true));
  }
  QScrollArea view;
  auto* column = new qmx::ReceivedColumn(rows, qmx::ReceivedColumn::Field::Data, Qt::AlignLeft);
  QFont font("DejaVu Sans Mono");
  font.setPixelSize(12);
  column->setFont(font);
  column->setFixedSize(555, static_cast<int>(rows.Size()) * qmx::ReceivedColumn::kRowHeight);
  view.setWidget(column);
  view.resize(580, 320);
  view.show();
  for (int i = 0; i < 10 && !view.windowHandle()->isExposed(); ++i) QApplication::processEvents();
  QApplication::processEvents();
  column->UseCells(state.range(0) != 0);
  column->repaint();  // the cells are made here
  for (auto _ : state) column->repaint();
}
BENCHMARK(BM_PaintDataColumn)->ArgName("cells")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return qmx::bench::RunWidgetBenchmarks(argc, argv);
}

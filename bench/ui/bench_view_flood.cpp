// The main window under a flood of received data: the simulated module sends
// RX Data frames at a steady rate from its own thread, whatever the window
// does, for a given time, with "Log Data" on. The real window (offscreen)
// shows them through the frame parser (on the port's reading thread) and its
// view channel.
//
// Reported:
// - frames sent, shown by the Serial tab and logged, and whether the log and
//   the newest rows of the view hold them in order;
// - the longest stall of the user-interface thread: the lateness of a 10 ms
//   timer, worst case over the run;
// - the process's CPU time (all threads, user and system) per frame sent,
//   and the user-interface thread's part of it;
// - resident memory when the view first holds its full number of rows, and
//   the most it reached after that (sampled every 2 s).
//
// Two cases: the Serial tab in view (network_tab:0), and the Network tab in
// view (network_tab:1) with kKnownRadios radios already in its table, the
// flood's sender among them, so that the cost of keeping the table and its
// view current shows as the difference in CPU per frame.
//
// Options before Google Benchmark's own: --flood_seconds=N (60),
// --flood_rate=FRAMES_PER_SECOND (1000), --flood_screenshot=FILE.png (the
// window after the flood) and --flood_paints (how often each widget was
// painted, and how many pixels, on stderr).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QPaintEvent>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/ui/flood_common.h"
#include "bench/ui/qt_bench_main.h"
#include "config/register_map.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/ui/comm_port_form.h"
#include "link/ui/qt_waiter.h"
#include "link/workdir.h"
#include "mainwindow/ui/main_window.h"
#include "mainwindow/ui/network_tab.h"
#include "mainwindow/ui/received_column.h"
#include "mainwindow/ui/serial_tab.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using namespace qmx::bench;

int g_seconds = 60;
int g_rate = 1000;
std::string g_screenshot;
bool g_paints = false;
constexpr auto kTick = 10ms;
constexpr auto kRssEvery = 2s;
constexpr int kKnownRadios = 250;

// Counts paint events by widget (class and object name) and the pixels they
// covered.
class PaintCensus : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const QRect r = static_cast<QPaintEvent*>(event)->rect();
      Entry& e = counts_[QString("%1:%2").arg(watched->metaObject()->className(), watched->objectName()).toStdString()];
      ++e.paints;
      e.pixels += static_cast<double>(r.width()) * r.height();
    }
    return false;
  }
  void Print() const {
    std::fprintf(stderr, "paints (widget: count, megapixels):\n");
    for (const auto& [name, e] : counts_) std::fprintf(stderr, "  %s: %llu, %.1f\n", name.c_str(), e.paints, e.pixels / 1e6);
  }

 private:
  struct Entry {
    unsigned long long paints = 0;
    double pixels = 0;
  };
  std::map<std::string, Entry> counts_;
};

void BM_ReceivedViewFlood(benchmark::State& state) {
  for (auto _ : state) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("qmx_flood_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    {
      qmx::WorkDir workdir(dir.string());
      CountingPrompter prompter;
      qmx::QtWaiter waiter;
      auto module = std::make_shared<qmx::sim::SimModule>();
      qmx::ForwardingSink sink;
      qmx::RadioLink link(qmx::sim::MakeSimPortFactory(module), workdir, prompter, waiter, sink);
      qmx::RadioImage image;
      qmx::TForm1 window(link, image, prompter, workdir);
      sink.SetTarget(&window.Sink());
      qmx::TCommPortForm port(link, prompter, &window);
      port.SetPortSource([] { return std::vector<qmx::PortInfo>{}; }, [](const std::string&) { return false; });
      window.SetForms({&port});
      window.show();
      window.LogData1->setChecked(true);
      if (!window.ConnectTo("SIM", "9600")) {
        state.SkipWithError("could not connect to the simulated module");
        break;
      }
      qmx::SerialTab& tab = *window.Serial;
      if (state.range(0) != 0) {
        for (int i = 1; i <= kKnownRadios; ++i) {
          qmx::Announcement join;
          join.code = 0xA2;
          join.address = static_cast<std::uint16_t>(i);
          join.mac = "02:51:4D:58:24:0A:" + qmx::NetworkAddressText(static_cast<std::uint16_t>(i)).substr(2, 2) + ":" +
                     qmx::NetworkAddressText(static_cast<std::uint16_t>(i)).substr(4, 2);
          window.Sink().Announced(join);
        }
        window.PageControl1->setCurrentWidget(window.Network);
        QCoreApplication::processEvents();
        if (window.Network->Model().rowCount() < kKnownRadios) {
          state.SkipWithError("the Network tab did not take the radios");
          break;
        }
      }
      const std::uint64_t before = tab.PacketsShown();
      const auto total = static_cast<std::uint32_t>(g_seconds * g_rate);

      // The flood, paced by the clock alone.
      std::atomic<bool> sent{false};
      std::atomic<double> peerCpuSeconds{0};
      PaintCensus census;
      if (g_paints) qApp->installEventFilter(&census);
      const double cpuStart = ProcessCpuSeconds();
      const double uiCpuStart = ThreadCpuSeconds();
      const auto start = SteadyClock::now();
      std::thread flood([&] {
        const auto period = std::chrono::nanoseconds(1s) / g_rate;
        for (std::uint32_t i = 0; i < total; ++i) {
          std::this_thread::sleep_until(start + period * i);
          const auto data = FrameData(i);
          module->SendRxData(0x0002, data);
        }
        peerCpuSeconds = ThreadCpuSeconds();
        sent = true;
      });

      // The user-interface thread's stalls, memory, and the end of the run.
      QEventLoop loop;
      QTimer tick;
      tick.setTimerType(Qt::PreciseTimer);
      auto last = SteadyClock::now();
      auto nextRss = last;
      SteadyClock::duration worst{};
      double rssFull = 0, rssMaxAfterFull = 0;
      std::vector<double> rssSamples;
      SteadyClock::time_point drainedBy{};
      QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = SteadyClock::now();
        worst = std::max(worst, now - last - kTick);
        last = now;
        if (now >= nextRss) {
          nextRss = now + kRssEvery;
          const double rss = RssMiB();
          rssSamples.push_back(rss);
          if (rssFull == 0 && tab.Rows() >= qmx::SerialTab::kMaxRows * 9 / 10)
            rssFull = rss;
          else if (rssFull > 0)
            rssMaxAfterFull = std::max(rssMaxAfterFull, rss);
        }
        const bool allShown = tab.PacketsShown() - before >= total;
        // Done when everything is shown, or at most 30 s after the flood ended.
        if (sent && drainedBy == SteadyClock::time_point{}) drainedBy = now + 30s;
        if (sent && (allShown || now >= drainedBy)) loop.quit();
      });
      tick.start(kTick);
      loop.exec();
      tick.stop();
      flood.join();
      const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
      const double cpuSeconds = ProcessCpuSeconds() - cpuStart;
      const double uiCpuSeconds = ThreadCpuSeconds() - uiCpuStart;
      const double rssEnd = RssMiB();
      PrintThreadCpu();
      if (g_paints) {
        qApp->removeEventFilter(&census);
        census.Print();
      }

      // The parser has logged every frame the window has shown (it logs
      // before decoding); the log holds the last of them in its buffer
      // until the port closes, as on a disconnect.
      link.transport.StopComm();
      std::uint64_t logged = 0;
      const bool logOrdered = LogInOrder(dir, logged);
      const std::uint64_t shown = tab.PacketsShown() - before;
      const bool viewOrdered = shown == total && ViewInOrder(tab, total - 1);
      state.counters["frames"] = total;
      state.counters["shown"] = static_cast<double>(shown);
      state.counters["logged"] = static_cast<double>(logged);
      state.counters["in_order"] = logOrdered && viewOrdered ? 1 : 0;
      state.counters["cpu_us_per_frame"] = cpuSeconds * 1e6 / total;
      // The program's own part: the simulated module's frames are built and
      // queued on the pacing thread, which stands in for the radio.
      state.counters["program_cpu_us_per_frame"] = (cpuSeconds - peerCpuSeconds.load()) * 1e6 / total;
      state.counters["ui_cpu_us_per_frame"] = uiCpuSeconds * 1e6 / total;
      state.counters["max_stall_ms"] = std::chrono::duration<double, std::milli>(worst).count();
      state.counters["rows"] = static_cast<double>(tab.Rows());
      state.counters["rss_full_MiB"] = rssFull;
      state.counters["rss_max_after_full_MiB"] = rssMaxAfterFull;
      state.counters["rss_end_MiB"] = rssEnd;
      state.counters["run_s"] = seconds;
      state.counters["messages"] = prompter.count.load();
      if (shown != total || logged != total || !logOrdered || !viewOrdered) {
        std::fprintf(stderr, "sent %u, shown %llu, logged %llu, log in order %d, view in order %d\n", total,
                     static_cast<unsigned long long>(shown), static_cast<unsigned long long>(logged), logOrdered,
                     viewOrdered);
        state.SkipWithError("frames lost or out of order");
      }

      std::fprintf(stderr, "resident MiB every %lld s:", static_cast<long long>(kRssEvery.count()));
      for (double rss : rssSamples) std::fprintf(stderr, " %.1f", rss);
      std::fprintf(stderr, "\n");
      if (!g_screenshot.empty()) window.grab().save(QString::fromStdString(g_screenshot), "PNG");
      sink.SetTarget(nullptr);
      link.parser.Stop();
      link.transport.StopComm();
    }
    std::filesystem::remove_all(dir);
  }
}
BENCHMARK(BM_ReceivedViewFlood)
    ->ArgName("network_tab")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Takes this benchmark's own options out of the arguments.
bool TakeOwnOption(const char* arg) {
  if (std::strcmp(arg, "--flood_paints") == 0)
    g_paints = true;
  else if (std::strncmp(arg, "--flood_screenshot=", 19) == 0)
    g_screenshot = arg + 19;
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TakeFloodOptions(argc, argv, g_seconds, g_rate, TakeOwnOption);
  return qmx::bench::RunWidgetBenchmarks(argc, argv);
}

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

int g_seconds = 60;
int g_rate = 1000;
std::string g_screenshot;
bool g_paints = false;
// One 48-character row per frame; every 16th frame takes two rows.
constexpr std::size_t kDataBytes = 16;
constexpr std::size_t kLongDataBytes = 40;
constexpr auto kTick = 10ms;
constexpr auto kRssEvery = 2s;
constexpr int kKnownRadios = 250;

class CountingPrompter : public qmx::Prompter {
 public:
  void Message(const std::string& text, const std::string& caption) override {
    std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
    ++count;
  }
  bool Question(const std::string& text, const std::string& caption) override {
    Message(text, caption);
    return false;
  }
  std::atomic<int> count{0};
};

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

// CPU time of the calling thread so far, in seconds.
double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Every thread's CPU time so far (user and system), in clock ticks, by
// thread id and name, printed to stderr: where the time goes.
void PrintThreadCpu() {
  std::fprintf(stderr, "thread CPU s (tid name):");
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream in(task.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    std::fprintf(stderr, " %s %s %.2f;", task.path().filename().c_str(), stat.substr(open + 1, close - open - 1).c_str(),
                 static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK)));
  }
  std::fprintf(stderr, " (main %d)\n", static_cast<int>(::gettid()));
}

// CPU time of the whole process so far, in seconds.
double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double RssMiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::vector<std::uint8_t> FrameData(std::uint32_t seq) {
  std::vector<std::uint8_t> data(seq % 16 == 15 ? kLongDataBytes : kDataBytes, 0x5A);
  for (int i = 0; i < 4; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(seq >> (24 - 8 * i));
  return data;
}

// The sequence number in a row or log text "FB 15 ss 26 aa aa ll XX XX XX XX ..."
// starting at `hex` (four hex bytes).
bool ParseSeq(const std::string& text, std::size_t at, std::uint32_t& seq) {
  seq = 0;
  for (int i = 0; i < 4; ++i) {
    if (at + 3 * static_cast<std::size_t>(i) + 2 > text.size()) return false;
    seq = seq << 8 | static_cast<std::uint32_t>(std::stoul(text.substr(at + 3 * static_cast<std::size_t>(i), 2),
                                                           nullptr, 16));
  }
  return true;
}

// Every RX Data frame in the log files, oldest file first: true when they are
// 0, 1, 2, ... in order; `count` is how many there were.
bool LogInOrder(const std::filesystem::path& dir, std::uint64_t& count) {
  std::vector<std::filesystem::path> files;
  for (int i = 0;; ++i) {
    const auto backup = dir / ("logfile" + std::to_string(i) + ".bak");
    if (!std::filesystem::exists(backup)) break;
    files.push_back(backup);
  }
  files.push_back(dir / "logfile.dat");
  // A rotation can fall between the pieces of one entry: the files are read
  // as one text.
  std::string all;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  count = 0;
  bool ordered = true;
  const std::string prefix = "Recv Data : ";
  std::istringstream lines(all);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) != 0 || line.find("(RX Data)") == std::string::npos) continue;
    // FB len seq type addrL addrH lqi, then the data.
    std::uint32_t seq = 0;
    if (!ParseSeq(line, prefix.size() + 7 * 3, seq) || seq != count) ordered = false;
    ++count;
  }
  return ordered;
}

// The newest rows of the view: the numbers of their frames follow one another
// up to the last frame sent, and each frame's first row has its address.
bool ViewInOrder(const qmx::SerialTab& tab, std::uint32_t last) {
  const QStringList rows = tab.ReceivedDataRichEdit->toPlainText().split('\n');
  const QStringList addresses = tab.MACAddressRichEdit->toPlainText().split('\n');
  if (addresses.size() != rows.size() || tab.LQIRichEdit->toPlainText().split('\n').size() != rows.size())
    return false;
  std::uint32_t expected = last;
  for (qsizetype i = rows.size() - 1; i >= 0; --i) {
    if (addresses[i].isEmpty()) continue;  // the second row of a long frame
    std::uint32_t seq = 0;
    if (addresses[i] != "0x0002" || !ParseSeq(rows[i].toStdString(), 0, seq) || seq != expected) return false;
    if (expected-- == 0) break;
  }
  return true;
}

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
          join.mac = "00:13:A2:00:40:0A:" + qmx::NetworkAddressText(static_cast<std::uint16_t>(i)).substr(2, 2) + ":" +
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

// Takes the --flood_ options out of the arguments.
void TakeOwnOptions(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--flood_seconds=", 16) == 0)
      g_seconds = std::max(1, std::atoi(argv[i] + 16));
    else if (std::strncmp(argv[i], "--flood_rate=", 13) == 0)
      g_rate = std::max(1, std::atoi(argv[i] + 13));
    else if (std::strcmp(argv[i], "--flood_paints") == 0)
      g_paints = true;
    else if (std::strncmp(argv[i], "--flood_screenshot=", 19) == 0)
      g_screenshot = argv[i] + 19;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
}

}  // namespace

int main(int argc, char** argv) {
  TakeOwnOptions(argc, argv);
  return qmx::bench::RunWidgetBenchmarks(argc, argv);
}

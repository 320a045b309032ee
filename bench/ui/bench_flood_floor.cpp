// The program under a flood of RX Data frames from a radio on a
// pseudo-terminal, "Log Data" on, set beside its floor and measured in the
// same run.
//
// BM_FloodBesideCat: the same bytes also go, as they are sent, to a second
// terminal that `cat` copies into a file. Reported: the program's CPU time
// per frame (every thread of this process but the radio's own), `cat`'s, and
// their ratio; the parts of the port's reading thread and the
// user-interface thread; whether every frame was shown and logged in order;
// resident memory at the start and at the end of the flood.
//
// BM_KeyToPixel/N: a typist, on a thread of its own as the window system
// is, presses a key in "Data to Transmit" every 10 to 40 ms while the flood
// runs, with N busy loops (other processes) beside the program. Reported:
// the time from the key press to the paint of the field that shows it, p50,
// p95 and max. The offscreen platform paints a frame as soon as it is asked
// for one (QT_QPA_UPDATE_IDLE_TIME=0 unless set otherwise).
//
// Options before Google Benchmark's own: --flood_seconds=N (30),
// --flood_rate=FRAMES_PER_SECOND (1000).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ui/flood_common.h"
#include "bench/ui/pty_flood.h"
#include "bench/ui/qt_bench_main.h"
#include "mainwindow/ui/serial_tab.h"

namespace {

using namespace std::chrono_literals;
using namespace qmx::bench;
using SteadyClock = std::chrono::steady_clock;

int g_seconds = 30;
int g_rate = 1000;
// Seldom: the check runs on the thread it measures.
constexpr auto kCheckEvery = 500ms;

std::uintmax_t FileSize(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
}

// Runs the user-interface thread until `done` says so (checked every
// kCheckEvery) or `limit` passed.
void RunUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  QEventLoop loop;
  QTimer check;
  const auto giveUp = SteadyClock::now() + limit;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done() || SteadyClock::now() >= giveUp) loop.quit();
  });
  check.start(kCheckEvery);
  loop.exec();
}

// CPU seconds of the threads whose name starts with `prefix`, from two
// ThreadCpuTimes() snapshots.
double ThreadsSpent(const std::map<int, ThreadCpu>& before, const std::map<int, ThreadCpu>& after,
                    const std::string& prefix) {
  double spent = 0;
  for (const auto& [tid, cpu] : after) {
    if (cpu.name.rfind(prefix, 0) != 0) continue;
    const auto was = before.find(tid);
    spent += cpu.seconds - (was == before.end() ? 0 : was->second.seconds);
  }
  return spent;
}

// Every frame shown in order and logged in order; the counters say how many.
bool AllShownAndLogged(benchmark::State& state, PtyFloodRig& rig, std::uint64_t shownBefore, std::uint32_t total) {
  // The log's last entries wait in its buffer until the port closes.
  rig.link.transport.StopComm();
  std::uint64_t logged = 0;
  const bool logOrdered = LogInOrder(rig.dir, logged);
  const std::uint64_t shown = rig.window.Serial->PacketsShown() - shownBefore;
  const bool viewOrdered = shown == total && ViewInOrder(*rig.window.Serial, total - 1);
  state.counters["frames"] = total;
  state.counters["shown"] = static_cast<double>(shown);
  state.counters["logged"] = static_cast<double>(logged);
  state.counters["in_order"] = logOrdered && viewOrdered ? 1 : 0;
  if (shown == total && logged == total && logOrdered && viewOrdered) return true;
  std::fprintf(stderr, "sent %u, shown %llu, logged %llu, log in order %d, view in order %d\n", total,
               static_cast<unsigned long long>(shown), static_cast<unsigned long long>(logged), logOrdered, viewOrdered);
  state.SkipWithError("frames lost or out of order");
  return false;
}

void BM_FloodBesideCat(benchmark::State& state) {
  for (auto _ : state) {
    std::filesystem::path dir;
    {
      PtyFloodRig rig;
      dir = rig.dir;
      if (!rig.connected) {
        state.SkipWithError("could not connect to the module on its terminal");
        break;
      }
      const auto total = static_cast<std::uint32_t>(g_seconds * g_rate);
      const std::uint64_t shownBefore = rig.window.Serial->PacketsShown();

      RawPty catPty;
      const std::filesystem::path catOut = rig.dir / "cat.out";
      ChildProcess cat({"cat"}, catPty.slave, catOut);
      if (!cat.Running()) {
        state.SkipWithError("cannot start cat");
        break;
      }
      rig.radio.Tee(catPty.master);

      std::atomic<bool> sent{false};
      std::atomic<double> radioCpu{0};
      const double rssStart = RssMiB();
      const auto threadsStart = ThreadCpuTimes();
      const double serveStart = rig.radio.ServeCpuSeconds();
      const double cpuStart = ProcessCpuSeconds();
      const auto start = SteadyClock::now();
      std::thread flood = rig.Flood(total, g_rate, sent, radioCpu);
      RunUntil(
          [&] {
            return sent && rig.window.Serial->PacketsShown() - shownBefore >= total &&
                   FileSize(catOut) >= rig.radio.TeedBytes();
          },
          std::chrono::seconds(g_seconds + 30));
      flood.join();
      const double cpu = ProcessCpuSeconds() - cpuStart - radioCpu - (rig.radio.ServeCpuSeconds() - serveStart);
      const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
      const auto threadsEnd = ThreadCpuTimes();
      const double rssEnd = RssMiB();
      rig.radio.Tee(-1);
      catPty.CloseMaster();
      const double catCpu = cat.Wait();
      PrintThreadCpu();

      state.counters["program_cpu_us_per_frame"] = cpu * 1e6 / total;
      state.counters["cat_cpu_us_per_frame"] = catCpu * 1e6 / total;
      state.counters["program_over_cat"] = catCpu > 0 ? cpu / catCpu : 0;
      state.counters["port_thread_us_per_frame"] = ThreadsSpent(threadsStart, threadsEnd, "qmx-port") * 1e6 / total;
      state.counters["log_thread_us_per_frame"] = ThreadsSpent(threadsStart, threadsEnd, "qmx-log") * 1e6 / total;
      const int ui = static_cast<int>(::gettid());
      state.counters["ui_thread_us_per_frame"] =
          (threadsEnd.at(ui).seconds - threadsStart.at(ui).seconds) * 1e6 / total;
      state.counters["cat_bytes_MiB"] = static_cast<double>(FileSize(catOut)) / (1024.0 * 1024.0);
      state.counters["rss_start_MiB"] = rssStart;
      state.counters["rss_end_MiB"] = rssEnd;
      state.counters["run_s"] = seconds;
      AllShownAndLogged(state, rig, shownBefore, total);
    }
    std::filesystem::remove_all(dir);
  }
}
BENCHMARK(BM_FloodBesideCat)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Times keys from their press (posted from another thread) to the first
// paint of their field after the field took them.
class KeyProbe : public QObject {
 public:
  explicit KeyProbe(QLineEdit& field) : field_(field) { field_.installEventFilter(this); }
  ~KeyProbe() override { field_.removeEventFilter(this); }

  // Typist's thread: presses a key and waits until it is painted (or a
  // second passed); false when it was not.
  bool Press(int key, const QString& text) {
    std::unique_lock lock(mutex_);
    painted_ = false;
    pressedAt_ = SteadyClock::now();
    QCoreApplication::postEvent(&field_, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    return wake_.wait_for(lock, 1s, [this] { return painted_; });
  }
  std::vector<double> Samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &field_) return false;
    if (event->type() == QEvent::KeyPress) {
      taken_ = true;
    } else if (event->type() == QEvent::Paint && taken_) {
      taken_ = false;
      std::lock_guard lock(mutex_);
      samples_.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - pressedAt_).count());
      painted_ = true;
      wake_.notify_one();
    }
    return false;
  }

 private:
  QLineEdit& field_;
  bool taken_ = false;  // user-interface thread only
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  SteadyClock::time_point pressedAt_;
  bool painted_ = false;
  std::vector<double> samples_;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

void BM_KeyToPixel(benchmark::State& state) {
  for (auto _ : state) {
    std::filesystem::path dir;
    {
      std::vector<std::unique_ptr<ChildProcess>> busy;
      for (int i = 0; i < state.range(0); ++i)
        busy.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{"sh", "-c", "while :; do :; done"}));
      PtyFloodRig rig;
      dir = rig.dir;
      if (!rig.connected) {
        state.SkipWithError("could not connect to the module on its terminal");
        break;
      }
      QLineEdit& field = *rig.window.Serial->TransmitEdit;
      field.activateWindow();
      field.setFocus();
      const auto total = static_cast<std::uint32_t>(g_seconds * g_rate);
      const std::uint64_t shownBefore = rig.window.Serial->PacketsShown();

      KeyProbe probe(field);
      std::atomic<bool> sent{false}, typed{false};
      std::atomic<double> radioCpu{0};
      std::atomic<int> missed{0};
      std::thread flood = rig.Flood(total, g_rate, sent, radioCpu);
      std::thread typist([&] {
        std::minstd_rand random(7);
        std::uniform_int_distribution<int> pause(10, 40);
        // A letter, then a backspace: the field never fills up.
        for (int i = 0; !sent; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
          if (!(i % 2 == 0 ? probe.Press(Qt::Key_A, "A") : probe.Press(Qt::Key_Backspace, QString()))) ++missed;
        }
        typed = true;
      });
      RunUntil([&] { return typed && rig.window.Serial->PacketsShown() - shownBefore >= total; },
               std::chrono::seconds(g_seconds + 30));
      flood.join();
      typist.join();
      busy.clear();

      const std::vector<double> samples = probe.Samples();
      state.counters["busy_loops"] = static_cast<double>(state.range(0));
      state.counters["keys"] = static_cast<double>(samples.size());
      state.counters["keys_not_painted"] = missed.load();
      state.counters["p50_ms"] = Percentile(samples, 0.50);
      state.counters["p95_ms"] = Percentile(samples, 0.95);
      state.counters["max_ms"] = samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
      AllShownAndLogged(state, rig, shownBefore, total);
    }
    std::filesystem::remove_all(dir);
  }
}
BENCHMARK(BM_KeyToPixel)->Arg(0)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  TakeFloodOptions(argc, argv, g_seconds, g_rate);
  if (!std::getenv("QT_QPA_UPDATE_IDLE_TIME")) ::setenv("QT_QPA_UPDATE_IDLE_TIME", "0", 1);
  return qmx::bench::RunWidgetBenchmarks(argc, argv);
}

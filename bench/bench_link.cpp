// The radio link under load and at rest:
// - how long a stored reply takes to reach the command waiting for it,
// - how long a full read of all eight banks of the simulated module takes,
// - how often the link's threads (and the simulated module's scheduler) wake
//   up while nothing happens, over the in-process port and over a pty.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "config/register_map.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"

namespace {

using namespace std::chrono_literals;
using qmx::Clock;

// Wall time over which idle wake-ups are counted.
constexpr auto kIdleDuration = 10s;
// Time the threads get to reach their blocking waits before counting starts.
constexpr auto kIdleSettle = 300ms;
// Hand-off samples, and the lead the waiting command gets to block before
// the reply is stored.
constexpr int kHandOffSamples = 2000;
constexpr auto kHandOffLead = 200us;

qmx::LineSettings FactoryLine() { return qmx::LineSettings{9600, 8, qmx::parity::None, qmx::stopbits::One, false}; }

// A private working directory, removed again at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qmx-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A radio link as the program wires it, over whatever ports `factory` makes.
struct BenchLink {
  explicit BenchLink(qmx::PortFactory factory) : dir(scratch.path()) {
    link = std::make_unique<qmx::RadioLink>(std::move(factory), dir, prompter, waiter, sink);
    link->transport.SetSettleTime(0ms);
  }
  ~BenchLink() { link.reset(); }
  bool Open(const std::string& port) { return link->transport.OpenCommPort(FactoryLine(), port, true).ok(); }

  ScratchDir scratch;
  qmx::WorkDir dir;
  qmx::StderrPrompter prompter;
  qmx::CondVarWaiter waiter;
  qmx::DiscardingSink sink;
  std::unique_ptr<qmx::RadioLink> link;
};

double Percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// --- 1. reply hand-off -----------------------------------------------------

// From the moment another thread (standing in for the parser thread) stores
// a reply in the queue to the moment WaitForReply returns it. One iteration
// is one sample; its time is the hand-off latency.
void BM_ReplyHandOff(benchmark::State& state) {
  auto module = std::make_shared<qmx::sim::SimModule>();
  BenchLink b(qmx::sim::MakeSimPortFactory(module));
  // WaitForReply gives up at once on a closed port.
  if (!b.Open(qmx::sim::kSimPortName)) {
    state.SkipWithError("cannot open the simulated port");
    return;
  }

  std::mutex mutex;
  std::condition_variable cv;
  int requested = 0;  // samples asked for
  std::uint8_t seq = 0;
  bool quit = false;
  std::atomic<Clock::rep> storedAt{0};

  std::thread storer([&] {
    pthread_setname_np(pthread_self(), "bench-store");
    int served = 0;
    for (;;) {
      std::uint8_t s;
      {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return quit || requested > served; });
        if (quit) return;
        served = requested;
        s = seq;
      }
      // Pacing, not waiting for anything: the command is to be blocked in
      // its wait when the reply comes, as it is for a real reply.
      std::this_thread::sleep_for(kHandOffLead);
      qmx::PacketRecord rec;
      rec.SequenceNumber = s;
      rec.PacketType = qmx::ptype::GetRegisterReply;
      rec.Length = 3;
      storedAt.store(Clock::now().time_since_epoch().count());
      b.link->queue.Store(rec);
    }
  });

  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  int n = 0;
  for (auto _ : state) {
    const auto s = static_cast<std::uint8_t>(n++ % 128);
    {
      std::lock_guard lock(mutex);
      seq = s;
      ++requested;
    }
    cv.notify_one();
    qmx::PacketRecord out;
    const qmx::Result<int> r = b.link->commands.WaitForReply(s, qmx::ptype::GetRegisterReply, 1000.0, out);
    const auto done = Clock::now().time_since_epoch().count();
    if (!r) {
      state.SkipWithError("no reply within 1000 ms");
      break;
    }
    const double us =
        std::chrono::duration<double, std::micro>(Clock::duration(done - storedAt.load())).count();
    state.SetIterationTime(us * 1e-6);
    samples.push_back(us);
  }
  {
    std::lock_guard lock(mutex);
    quit = true;
  }
  cv.notify_one();
  storer.join();

  std::sort(samples.begin(), samples.end());
  state.counters["p50_us"] = Percentile(samples, 0.50);
  state.counters["p99_us"] = Percentile(samples, 0.99);
  state.counters["max_us"] = samples.empty() ? 0 : samples.back();
}
BENCHMARK(BM_ReplyHandOff)->Iterations(kHandOffSamples)->UseManualTime()->Unit(benchmark::kMicrosecond);

// --- 2. full read of all banks ---------------------------------------------

// ReadBanks of the local radio over the in-process port: eight Get Register
// round trips, each through the port's reading thread, the receive ring, the
// parser thread and the reply queue.
void BM_ReadAllBanks(benchmark::State& state) {
  auto module = std::make_shared<qmx::sim::SimModule>();
  BenchLink b(qmx::sim::MakeSimPortFactory(module));
  if (!b.Open(qmx::sim::kSimPortName)) {
    state.SkipWithError("cannot open the simulated port");
    return;
  }
  b.link->parser.Start();
  if (!b.link->commands.EnterProtocolMode()) {
    state.SkipWithError("Enter Protocol Mode failed");
    return;
  }
  qmx::RadioImage image;
  const auto start = Clock::now();
  for (auto _ : state) {
    const qmx::BankMask got = qmx::ReadBanks(b.link->commands, image, qmx::kAllBanks, 0, 0);
    if (got != qmx::kAllBanks) {
      state.SkipWithError(("ReadBanks returned " + std::to_string(got) + ", not 383").c_str());
      break;
    }
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const auto reads = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  state.counters["ms_per_read"] = ms / reads;
  state.counters["us_per_command"] = ms * 1000.0 / (reads * static_cast<double>(qmx::kBanks.size()));
}
BENCHMARK(BM_ReadAllBanks)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// --- 3. idle wake-ups ------------------------------------------------------

struct ThreadInfo {
  std::string comm;
  long voluntary = 0;
  long involuntary = 0;
};

// Every thread of the process with its name and context-switch counts.
std::map<pid_t, ThreadInfo> ReadThreads() {
  std::map<pid_t, ThreadInfo> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    const pid_t tid = static_cast<pid_t>(std::stol(entry.path().filename().string()));
    ThreadInfo info;
    std::ifstream comm(entry.path() / "comm");
    std::getline(comm, info.comm);
    std::ifstream status(entry.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        info.voluntary = std::stol(line.substr(line.find(':') + 1));
      else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        info.involuntary = std::stol(line.substr(line.find(':') + 1));
    }
    out.emplace(tid, std::move(info));
  }
  return out;
}

std::set<pid_t> ThreadIds() {
  std::set<pid_t> ids;
  for (const auto& [tid, info] : ReadThreads()) ids.insert(tid);
  return ids;
}

// The threads that appeared since `before`.
std::set<pid_t> NewThreads(const std::set<pid_t>& before) {
  std::set<pid_t> now = ThreadIds();
  std::set<pid_t> fresh;
  std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::inserter(fresh, fresh.end()));
  return fresh;
}

// Thread ids by what the threads do ("comm", "parser", "sim_scheduler").
using Roles = std::map<std::string, std::set<pid_t>>;

// Sleeps kIdleDuration and reports the voluntary context switches of every
// thread in that time as wake-ups per second: in total (less the one of the
// benchmark's own sleep) and per role.
void CountIdleWakeups(benchmark::State& state, qmx::RadioLink& link, const Roles& roles, const char* backEnd) {
  std::this_thread::sleep_for(kIdleSettle);
  if (!link.transport.CommThreadRunning() || !link.parser.Running()) {
    state.SkipWithError("the port's reading thread or the parser thread is not running");
    return;
  }
  const pid_t self = ::gettid();
  const auto before = ReadThreads();
  const auto start = Clock::now();
  std::this_thread::sleep_for(kIdleDuration);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const auto after = ReadThreads();

  std::map<std::string, long> byRole;
  long total = 0;
  long own = 0;
  for (const auto& [tid, now] : after) {
    const auto was = before.find(tid);
    const long delta = now.voluntary - (was == before.end() ? 0 : was->second.voluntary);
    std::string role = tid == self ? "main" : "other";
    for (const auto& [name, ids] : roles)
      if (ids.count(tid)) role = name;
    byRole[role] += delta;
    total += delta;
    if (tid == self) own = delta;
    std::fprintf(stderr, "  %s: thread %d (%s, %s): %ld voluntary, %ld involuntary switches in %.1f s\n", backEnd,
                 static_cast<int>(tid), now.comm.c_str(), role.c_str(), delta,
                 now.involuntary - (was == before.end() ? 0 : was->second.involuntary), seconds);
  }
  total -= 1;  // the benchmark's own sleep
  state.counters["wakeups_per_s"] = static_cast<double>(total) / seconds;
  state.counters["main_switches"] = static_cast<double>(own);
  for (const auto& [name, ids] : roles) state.counters[name + "_per_s"] = static_cast<double>(byRole[name]) / seconds;
  if (byRole.count("other")) state.counters["other_per_s"] = static_cast<double>(byRole["other"]) / seconds;
  state.SetIterationTime(seconds);
}

void BM_IdleWakeupsSim(benchmark::State& state) {
  for (auto _ : state) {
    Roles roles;
    auto ids = ThreadIds();
    auto module = std::make_shared<qmx::sim::SimModule>();
    roles["sim_scheduler"] = NewThreads(ids);
    BenchLink b(qmx::sim::MakeSimPortFactory(module));
    ids = ThreadIds();
    if (!b.Open(qmx::sim::kSimPortName)) {
      state.SkipWithError("cannot open the simulated port");
      return;
    }
    roles["comm"] = NewThreads(ids);
    ids = ThreadIds();
    b.link->parser.Start();
    roles["parser"] = NewThreads(ids);
    CountIdleWakeups(state, *b.link, roles, "sim");
  }
}
BENCHMARK(BM_IdleWakeupsSim)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// A pseudo-terminal whose slave the link opens as a serial device; nothing
// is ever written on the master side.
class PtyMaster {
 public:
  PtyMaster() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    char name[128];
    if (::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0 || ::ptsname_r(fd_, name, sizeof name) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    slave_ = name;
  }
  ~PtyMaster() {
    if (fd_ >= 0) ::close(fd_);
  }
  PtyMaster(const PtyMaster&) = delete;
  PtyMaster& operator=(const PtyMaster&) = delete;
  bool ok() const { return fd_ >= 0; }
  const std::string& SlavePath() const { return slave_; }

 private:
  int fd_ = -1;
  std::string slave_;
};

void BM_IdleWakeupsPty(benchmark::State& state) {
  for (auto _ : state) {
    PtyMaster pty;
    if (!pty.ok()) {
      state.SkipWithError("no pseudo-terminal");
      return;
    }
    Roles roles;
    BenchLink b([](const std::string&) { return qmx::MakePosixSerialPort(); });
    auto ids = ThreadIds();
    if (!b.Open(pty.SlavePath())) {
      state.SkipWithError("cannot open the pty");
      return;
    }
    roles["comm"] = NewThreads(ids);
    ids = ThreadIds();
    b.link->parser.Start();
    roles["parser"] = NewThreads(ids);
    CountIdleWakeups(state, *b.link, roles, "pty");
  }
}
BENCHMARK(BM_IdleWakeupsPty)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

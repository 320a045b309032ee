// The table of radios heard under a flood of received data: 250 remotes,
// each announced by MAC, then RX Data from them in turn, with a join under a
// new address now and then and a view taking the changes every 100 frames.
// The time per frame is what a thousand frames a second cost the window's
// thread.
#include <benchmark/benchmark.h>

#include <vector>

#include "link/decoder.h"
#include "link/network_nodes.h"

namespace {

constexpr int kRemotes = 250;

// A clock that moves a millisecond a frame, so the LQI window fills.
class SteppingClock : public qmx::TimeSource {
 public:
  qmx::Clock::time_point Now() const override { return now; }
  void WaitUntil(std::unique_lock<std::mutex>&, std::condition_variable&, qmx::Clock::time_point) override {}
  void Sleep(qmx::Clock::duration) override {}
  qmx::Clock::time_point now{};
};

qmx::Announcement Join(int remote, std::uint16_t address) {
  std::vector<std::uint8_t> p{0xA2};
  for (int i = 1; i <= 8; ++i) p.push_back(static_cast<std::uint8_t>(i == 1 ? remote : i));
  p.push_back(static_cast<std::uint8_t>(address & 0xFF));
  p.push_back(static_cast<std::uint8_t>(address >> 8));
  return qmx::DecodeAnnouncement(p);
}

void BM_ReceivedDataFlood(benchmark::State& state) {
  SteppingClock clock;
  qmx::net::NodeTable table(clock);
  table.SetBase(0, "00:00:00:00:00:00:00:01");
  std::vector<std::uint16_t> address(kRemotes);
  for (int r = 0; r < kRemotes; ++r) {
    address[static_cast<std::size_t>(r)] = static_cast<std::uint16_t>(r + 1);
    table.Announced(Join(r, static_cast<std::uint16_t>(r + 1)));
  }
  std::size_t frame = 0;
  std::uint16_t spare = 1000;
  for (auto _ : state) {
    const std::size_t r = frame % kRemotes;
    if (frame % 1000 == 999) {  // churn: a remote comes back elsewhere
      address[r] = spare++;
      table.Announced(Join(static_cast<int>(r), address[r]));
    }
    table.ReceivedData(address[r], static_cast<std::uint8_t>(frame));
    if (frame % 100 == 99) benchmark::DoNotOptimize(table.TakeChanges());
    clock.now += std::chrono::milliseconds(1);
    ++frame;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(frame));
  state.counters["rows"] = static_cast<double>(table.Rows().size());
}
BENCHMARK(BM_ReceivedDataFlood);

}  // namespace

BENCHMARK_MAIN();

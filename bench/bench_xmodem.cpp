// Programming a firmware image of 131,999 bytes (the largest the upgrade
// takes) at 38400 baud into the simulated boot code, which paces every byte
// at its wire time in both directions, over the program's path: the
// in-process port, the reading thread, the receive ring and the XMODEM
// sender on a ring channel. Reported as the ratio of the transfer's time
// (from the start of the sender to the acknowledgement of its EOT) to the
// wire time of all the bytes it wrote and read; 1.0 is the line's limit.
// Checksum (the boot code starts with NAK) and CRC ("C") blocks.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"
#include "link/byte_channel.h"
#include "tools/firmware_upgrade.h"
#include "tools/xmodem.h"

namespace {

using namespace std::chrono_literals;
using qmx::Clock;

constexpr std::size_t kImageSize = 131999;
constexpr double kBaud = 38400;

// Counts what passes through a channel and notes when the last byte came.
class CountingChannel final : public qmx::ByteChannel {
 public:
  explicit CountingChannel(qmx::ByteChannel& inner) : inner_(inner) {}
  qmx::Done Write(std::span<const std::uint8_t> bytes) override {
    written += bytes.size();
    return inner_.Write(bytes);
  }
  int ReadByte(Clock::time_point deadline) override {
    const int b = inner_.ReadByte(deadline);
    if (b >= 0) {
      ++read;
      lastRead = Clock::now();
    }
    return b;
  }
  void DropInput() override { inner_.DropInput(); }

  std::size_t written = 0;
  std::size_t read = 0;
  Clock::time_point lastRead{};

 private:
  qmx::ByteChannel& inner_;
};

void BM_ProgramAtLineRate(benchmark::State& state) {
  const bool crc = state.range(0) != 0;
  std::string pattern = (std::filesystem::temp_directory_path() / "qmx-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    state.SkipWithError("mkdtemp");
    return;
  }
  qmx::WorkDir dir(pattern);
  qmx::StderrPrompter prompter;
  qmx::CondVarWaiter waiter;
  qmx::DiscardingSink sink;
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));

  double ratio = 0, seconds = 0, wire = 0;
  for (auto _ : state) {
    auto module = std::make_shared<qmx::sim::SimModule>();
    module->WithBootloader([crc](qmx::sim::SimBootloader& b) {
      b.Options().crc = crc;
      b.Options().paced = true;
    });
    qmx::RadioLink link(qmx::sim::MakeSimPortFactory(module), dir, prompter, waiter, sink);
    link.transport.SetSettleTime(0ms);
    if (!link.transport.OpenCommPort(qmx::sim::SimBootloader::Line(), qmx::sim::kSimPortName, true)) {
      state.SkipWithError("cannot open the simulated port");
      break;
    }
    qmx::RingChannel ring(link.ring, [&link](std::span<const std::uint8_t> b) { return link.transport.WritePort(b); });
    module->PowerCycle();
    qmx::FirmwareUpgrade upgrade(ring, qmx::SteadyTime());
    if (!upgrade.FindBootPrompt()) {
      state.SkipWithError("no boot prompt");
      break;
    }
    const std::uint8_t download[] = {'D', '\r', '\n'};
    if (!ring.Write(download)) {
      state.SkipWithError("cannot write D CR LF");
      break;
    }
    qmx::Xmodem prompt(ring, qmx::SteadyTime());
    if (prompt.AwaitPrompt("DL:", 1000, 1000) != 3) {
      state.SkipWithError("no DL: prompt");
      break;
    }

    CountingChannel counted(ring);
    qmx::Xmodem xmodem(counted, qmx::SteadyTime());
    const auto start = Clock::now();
    const auto sent = xmodem.Send(image);
    if (!sent || *sent < kImageSize) {
      state.SkipWithError("transfer failed");
      break;
    }
    seconds = std::chrono::duration<double>(counted.lastRead - start).count();
    wire = static_cast<double>(counted.written + counted.read) * 10.0 / kBaud;
    ratio = seconds / wire;
    state.SetIterationTime(seconds);
    link.transport.StopComm();
  }
  state.counters["ratio"] = ratio;
  state.counters["transfer_s"] = seconds;
  state.counters["wire_s"] = wire;
  std::error_code ec;
  std::filesystem::remove_all(pattern, ec);
}

BENCHMARK(BM_ProgramAtLineRate)->ArgName("crc")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// Throughput of frame assembly and decoding over a stream such as a busy
// radio produces: register replies, received data, I/O events, announces
// and the occasional noise byte.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "link/decoder.h"
#include "link/frame.h"
#include "link/packet_queue.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class CountingSink : public qmx::ViewSink {
 public:
  void EventText(const qmx::EventBlock& block) override { lines += block.lines.size(); }
  void ReceivedData(std::uint16_t, std::uint8_t, std::span<const std::uint8_t> data) override {
    bytes += data.size();
  }
  void IoEvent(std::uint16_t, std::span<const std::uint8_t> data) override { bytes += data.size(); }
  void RemoteJoined(std::uint16_t) override { ++joins; }
  std::size_t lines = 0, bytes = 0, joins = 0;
};

void Append(Bytes& stream, std::uint8_t seq, std::uint8_t type, const Bytes& payload) {
  auto f = qmx::BuildFrame(seq, type, payload);
  stream.insert(stream.end(), f->bytes.begin(), f->bytes.begin() + static_cast<long>(f->size));
}

// About 256 KiB of mixed traffic.
Bytes MakeStream() {
  std::mt19937 rng(2400);
  Bytes stream;
  std::uint8_t seq = 0;
  while (stream.size() < 256 * 1024) {
    seq = static_cast<std::uint8_t>((seq + 1) % 128);
    const unsigned kind = rng() % 100;
    if (kind < 40) {
      // Get Register reply of a whole bank.
      Bytes p = {0, static_cast<std::uint8_t>(rng() % 7), 44};
      for (int i = 0; i < 44; ++i) p.push_back(static_cast<std::uint8_t>(rng()));
      Append(stream, seq, 0x13, p);
    } else if (kind < 75) {
      // Received data of 1 … 80 bytes, 0xFB included now and then.
      Bytes p = {0x02, 0x00, static_cast<std::uint8_t>(rng())};
      const unsigned n = 1 + rng() % 80;
      for (unsigned i = 0; i < n; ++i) p.push_back(static_cast<std::uint8_t>(rng()));
      Append(stream, 0, 0x26, p);
    } else if (kind < 85) {
      Bytes p = {0x01, 0x80, 0x40};
      for (int i = 0; i < 21; ++i) p.push_back(static_cast<std::uint8_t>(rng()));
      Append(stream, 0, 0x28, p);
    } else if (kind < 90) {
      Append(stream, 0, 0x27, {0xA2, 1, 2, 3, 4, 5, 6, 7, 8, 0x02, 0x00});
    } else if (kind < 98) {
      Append(stream, seq, 0x15, {0x00, static_cast<std::uint8_t>(rng())});
    } else {
      for (int i = 0; i < 5; ++i) stream.push_back(static_cast<std::uint8_t>(rng() % 0xFB));
    }
  }
  return stream;
}

void BM_AssembleFrames(benchmark::State& state) {
  const Bytes stream = MakeStream();
  qmx::FrameAssembler assembler;
  std::size_t frames = 0;
  for (auto _ : state) {
    assembler.Feed(stream, [&](const qmx::Frame&) { ++frames; });
    benchmark::DoNotOptimize(frames);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_AssembleFrames);

void BM_AssembleAndDecode(benchmark::State& state) {
  const Bytes stream = MakeStream();
  qmx::PacketQueue queue;
  CountingSink sink;
  qmx::PacketDecoder decoder(queue, sink);
  qmx::FrameAssembler assembler;
  for (auto _ : state) {
    assembler.Feed(stream, [&](const qmx::Frame& f) { decoder.DecodePacket(f); });
    // The command layer takes its replies; here they are simply dropped.
    queue.Clear();
  }
  benchmark::DoNotOptimize(sink.bytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_AssembleAndDecode);

}  // namespace

BENCHMARK_MAIN();

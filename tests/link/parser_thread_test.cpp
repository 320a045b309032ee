// The parser thread between the receive ring and the decoder.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>

#include "link/data_log.h"
#include "link/decoder.h"
#include "link/options.h"
#include "link/packet_queue.h"
#include "link/parser_thread.h"
#include "link/ring.h"
#include "link/workdir.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Counts frames and keeps received data; lets the test wait for a count.
class WaitingSink : public ViewSink {
 public:
  void FrameReceived() override {
    std::lock_guard lock(mutex_);
    ++frames_;
    cv_.notify_all();
  }
  void EventText(const EventBlock&) override {}
  void ReceivedData(std::uint16_t address, std::uint8_t, std::span<const std::uint8_t> data) override {
    std::lock_guard lock(mutex_);
    data_.emplace_back(address, Bytes(data.begin(), data.end()));
  }
  void IoEvent(std::uint16_t, std::span<const std::uint8_t>) override {}
  void RemoteJoined(std::uint16_t) override {}

  bool WaitFrames(int n) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, 5s, [&] { return frames_ >= n; });
  }
  std::vector<std::pair<std::uint16_t, Bytes>> Data() {
    std::lock_guard lock(mutex_);
    return data_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int frames_ = 0;
  std::vector<std::pair<std::uint16_t, Bytes>> data_;
};

class ParserThreadTest : public ::testing::Test {
 protected:
  ParserThreadTest() { options.logData = true; }
  void Send(const Bytes& b) { ASSERT_EQ(ring->Write(b), b.size()); }
  std::string Log() {
    log.Flush();
    std::ifstream in(tmp.path() / "logfile.dat", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  test::TempDir tmp;
  WorkDir dir{tmp.path()};
  LinkOptions options;
  DataLog log{dir, options};
  std::unique_ptr<ReceiveRing> ring = std::make_unique<ReceiveRing>();
  PacketQueue queue;
  WaitingSink sink;
  PacketDecoder decoder{queue, sink};
  ParserThread parser{*ring, log, decoder, sink};
};

TEST_F(ParserThreadTest, LogsAndDecodesFramesFromTheRing) {
  parser.Start();
  ASSERT_TRUE(parser.Running());
  Send({0x00, 0xFB, 0x02, 0x01});  // noise, then a frame split over writes
  Send({0x10, 0xFB, 0x07, 0x02, 0x26, 0x34, 0x12, 0x80, 'h', 'i'});
  ASSERT_TRUE(sink.WaitFrames(2));
  parser.Stop();
  EXPECT_FALSE(parser.Running());

  EXPECT_TRUE(queue.Find(1, 0x10));
  ASSERT_EQ(sink.Data().size(), 1u);
  EXPECT_EQ(sink.Data()[0].first, 0x1234);
  EXPECT_EQ(sink.Data()[0].second, (Bytes{'h', 'i'}));
  EXPECT_EQ(Log(),
            "Recv Data : FB 02 01 10 (Enter Protocol Mode Reply)\r\n"
            "Recv Data : FB 07 02 26 34 12 80 68 69 (RX Data)\r\n");
}

TEST_F(ParserThreadTest, StopsAtOnceWhenIdleAndRestartsFresh) {
  parser.Start();
  // A complete frame and the start of another in one write: both are taken
  // out of the ring together.
  Send({0xFB, 0x02, 0x01, 0x10, 0xFB, 0x05, 0x01, 0x13});
  ASSERT_TRUE(sink.WaitFrames(1));
  const auto before = std::chrono::steady_clock::now();
  parser.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);

  // The new run hunts for 0xFB again instead of finishing the old frame.
  parser.Start();
  Send({0xFB, 0x02, 0x02, 0x11});
  ASSERT_TRUE(sink.WaitFrames(2));
  parser.Stop();
  EXPECT_TRUE(queue.Find(2, 0x11));
  EXPECT_FALSE(queue.Find(1, 0x13));
}

TEST_F(ParserThreadTest, ManyFramesUnderLoad) {
  parser.Start();
  constexpr int kFrames = 2000;
  Bytes stream;
  for (int i = 0; i < kFrames; ++i) {
    const std::uint8_t seq = static_cast<std::uint8_t>(i % 128);
    Bytes f = {0xFB, 0x07, seq, 0x26, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0x40, 0xFB, 0x00};
    stream.insert(stream.end(), f.begin(), f.end());
  }
  options.logData = false;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = std::min<std::size_t>(37, stream.size() - at);
    Send(Bytes(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + n)));
    at += n;
  }
  ASSERT_TRUE(sink.WaitFrames(kFrames));
  parser.Stop();
  const auto data = sink.Data();
  ASSERT_EQ(data.size(), static_cast<std::size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) EXPECT_EQ(data[static_cast<std::size_t>(i)].first, i);
}

}  // namespace
}  // namespace qmx

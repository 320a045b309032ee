// The parser between the receive ring and the decoder: on its own thread
// for bytes any producer puts into the ring, on the port's reading thread
// for what that thread receives.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "link/data_log.h"
#include "link/decoder.h"
#include "link/options.h"
#include "link/packet_queue.h"
#include "link/parser_thread.h"
#include "link/ring.h"
#include "link/serial_port.h"
#include "link/transport.h"
#include "link/workdir.h"
#include "tests/fixtures/pty_pair.h"
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
    threads_.push_back(std::this_thread::get_id());
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
  // The thread each frame was parsed on.
  std::vector<std::thread::id> Threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int frames_ = 0;
  std::vector<std::thread::id> threads_;
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

// With a port open, its reading thread parses what it received. While the
// parser rests the bytes stay in the ring, and a restart parses them at
// once, although nothing more arrives; once the reading thread has ended,
// the parser's own thread again parses what any producer puts into the ring.
TEST_F(ParserThreadTest, TheReadingThreadParsesWhileItRunsAndTheParserThreadOtherwise) {
  test::PtyPair pty;
  SerialTransport transport([](const std::string&) { return MakePosixSerialPort(); }, options, *ring);
  transport.SetSettleTime(0ms);
  transport.SetRingConsumer(&parser);
  std::mutex lostMutex;
  std::thread::id readingThread;
  transport.SetPortLostListener([&] {
    std::lock_guard lock(lostMutex);
    readingThread = std::this_thread::get_id();
  });
  ASSERT_TRUE(transport.OpenCommPort({9600, 8, parity::None, stopbits::One, false}, pty.SlavePath(), true));
  parser.Start();
  // The parser's thread may take the first frame while it starts; the
  // second comes when it sleeps.
  const Bytes frames[4] = {
      {0xFB, 0x02, 0x01, 0x10}, {0xFB, 0x02, 0x02, 0x11}, {0xFB, 0x02, 0x03, 0x12}, {0xFB, 0x02, 0x04, 0x10}};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(pty.WriteMaster(frames[i]), frames[i].size());
    ASSERT_TRUE(sink.WaitFrames(i + 1));
  }

  parser.Stop();
  ASSERT_EQ(pty.WriteMaster(frames[2]), frames[2].size());
  for (int i = 0; i < 2000 && ring->Available() < frames[2].size(); ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(ring->Available(), frames[2].size());
  parser.Start();
  ASSERT_TRUE(sink.WaitFrames(3));

  pty.CloseMaster();
  for (int i = 0; i < 2000 && transport.CommThreadRunning(); ++i) std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(transport.CommThreadRunning());
  Send(frames[3]);
  ASSERT_TRUE(sink.WaitFrames(4));
  parser.Stop();

  const auto threads = sink.Threads();
  {
    std::lock_guard lock(lostMutex);
    EXPECT_EQ(threads[1], readingThread);
  }
  EXPECT_NE(threads[2], threads[1]) << "the frame that waited in the ring was parsed by the parser thread";
  EXPECT_NE(threads[3], threads[1]);
  EXPECT_EQ(Log(),
            "Recv Data : FB 02 01 10 (Enter Protocol Mode Reply)\r\n"
            "Recv Data : FB 02 02 11 (Exit Protocol Mode Reply)\r\n"
            "Recv Data : FB 02 03 12 (Software Reset Reply)\r\n"
            "Recv Data : FB 02 04 10 (Enter Protocol Mode Reply)\r\n");
}

}  // namespace
}  // namespace qmx

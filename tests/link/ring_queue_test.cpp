// The receive ring, its events, the manual-reset event, the reply queue and
// the condition-variable waiter.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <numeric>
#include <span>
#include <thread>
#include <vector>

#include "link/event.h"
#include "link/packet_queue.h"
#include "link/ring.h"
#include "link/waiter.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t n, std::size_t start = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((start + i) % 251);
  return b;
}

TEST(Event, ManualResetAndWait) {
  Event e;
  EXPECT_FALSE(e.isSet());
  EXPECT_FALSE(e.wait(10ms));
  e.set();
  e.set();
  EXPECT_TRUE(e.isSet());
  EXPECT_TRUE(e.wait(0ms));
  EXPECT_TRUE(e.isSet());  // waiting does not clear it
  e.reset();
  EXPECT_FALSE(e.isSet());
  e.reset();  // resetting an unset event is harmless
  EXPECT_FALSE(e.isSet());

  std::thread t([&] {
    std::this_thread::sleep_for(20ms);
    e.set();
  });
  EXPECT_TRUE(e.wait());
  t.join();
}

TEST(ReceiveRing, StartsEmptyWithRoom) {
  auto ring = std::make_unique<ReceiveRing>();
  EXPECT_TRUE(ring->Empty());
  EXPECT_EQ(ring->FreeSpace(), ReceiveRing::kSize);
  EXPECT_FALSE(ring->dataEvent().isSet());
  EXPECT_TRUE(ring->spaceEvent().isSet());
  std::uint8_t b;
  EXPECT_FALSE(ring->Pop(b));
  EXPECT_FALSE(ring->Peek(b));
}

TEST(ReceiveRing, DataEventFollowsContents) {
  auto ring = std::make_unique<ReceiveRing>();
  ASSERT_EQ(ring->Write(Bytes{1, 2, 3}), 3u);
  EXPECT_TRUE(ring->dataEvent().isSet());
  std::uint8_t b = 0;
  ASSERT_TRUE(ring->Peek(b));
  EXPECT_EQ(b, 1);
  EXPECT_EQ(ring->Available(), 3u);  // Peek leaves it
  ASSERT_TRUE(ring->Pop(b));
  EXPECT_EQ(b, 1);
  EXPECT_TRUE(ring->dataEvent().isSet());  // two still waiting
  Bytes out(10);
  EXPECT_EQ(ring->Read(out), 2u);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 3);
  EXPECT_FALSE(ring->dataEvent().isSet());
}

// The reading thread puts a block in quietly and hands it to the parser on
// its own thread; only bytes the parser left wake another consumer.
TEST(ReceiveRing, AQuietBlockWakesNobodyUnlessBytesAreLeft) {
  auto ring = std::make_unique<ReceiveRing>();
  Bytes out(10);
  ASSERT_EQ(ring->Put(Bytes{1, 2}), 2u);
  EXPECT_FALSE(ring->dataEvent().isSet());
  ASSERT_EQ(ring->Read(out), 2u);
  ring->SignalIfUnread();
  EXPECT_FALSE(ring->dataEvent().isSet());

  ASSERT_EQ(ring->Put(Bytes{3, 4, 5}), 3u);
  ASSERT_EQ(ring->Read(std::span(out).first(1)), 1u);
  ring->SignalIfUnread();
  EXPECT_TRUE(ring->dataEvent().isSet());
  ASSERT_EQ(ring->Read(out), 2u);
  EXPECT_FALSE(ring->dataEvent().isSet());
}

TEST(ReceiveRing, NeverOverwritesUnreadBytes) {
  auto ring = std::make_unique<ReceiveRing>();
  const Bytes all = Pattern(ReceiveRing::kSize + 100);
  EXPECT_EQ(ring->Write(all), ReceiveRing::kSize);
  EXPECT_EQ(ring->FreeSpace(), 0u);
  EXPECT_FALSE(ring->spaceEvent().isSet());
  EXPECT_EQ(ring->Write(Bytes{0xEE}), 0u);

  Bytes first(10);
  ASSERT_EQ(ring->Read(first), 10u);
  EXPECT_EQ(first, Bytes(all.begin(), all.begin() + 10));
  EXPECT_TRUE(ring->spaceEvent().isSet());
  // Room for exactly ten more: the rest of the block is refused, not
  // written over the unread bytes.
  EXPECT_EQ(ring->Write(Bytes(all.begin() + ReceiveRing::kSize, all.end())), 10u);
  EXPECT_FALSE(ring->spaceEvent().isSet());

  Bytes rest(ReceiveRing::kSize);
  ASSERT_EQ(ring->Read(rest), ReceiveRing::kSize);
  EXPECT_EQ(rest, Bytes(all.begin() + 10, all.begin() + 10 + ReceiveRing::kSize));
  EXPECT_TRUE(ring->Empty());
  EXPECT_FALSE(ring->dataEvent().isSet());
}

TEST(ReceiveRing, WrapsAroundTheEnd) {
  auto ring = std::make_unique<ReceiveRing>();
  Bytes sink(60000);
  ASSERT_EQ(ring->Write(Pattern(60000)), 60000u);
  ASSERT_EQ(ring->Read(sink), 60000u);
  const Bytes block = Pattern(10000, 7);  // crosses the end of the buffer
  ASSERT_EQ(ring->Write(block), 10000u);
  Bytes out(10000);
  ASSERT_EQ(ring->Read(out), 10000u);
  EXPECT_EQ(out, block);
  // Byte by byte across the end as well.
  ring->Reset();
  ASSERT_EQ(ring->Write(Pattern(ReceiveRing::kSize - 1)), ReceiveRing::kSize - 1);
  ASSERT_EQ(ring->Read(sink), 60000u);
  ASSERT_EQ(ring->Write(Pattern(3, 200)), 3u);
  std::uint8_t b;
  for (std::size_t i = 0; i < ReceiveRing::kSize - 1 - 60000; ++i) ASSERT_TRUE(ring->Pop(b));
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(ring->Pop(b));
    EXPECT_EQ(b, (200 + i) % 251);
  }
  EXPECT_FALSE(ring->Pop(b));
}

TEST(ReceiveRing, ResetEmptiesIt) {
  auto ring = std::make_unique<ReceiveRing>();
  ring->Write(Pattern(ReceiveRing::kSize));
  ring->Reset();
  EXPECT_TRUE(ring->Empty());
  EXPECT_EQ(ring->FreeSpace(), ReceiveRing::kSize);
  EXPECT_FALSE(ring->dataEvent().isSet());
  EXPECT_TRUE(ring->spaceEvent().isSet());
  // What comes after the reset is kept, in order.
  ASSERT_EQ(ring->Write(Pattern(5, 40)), 5u);
  Bytes out(5);
  ASSERT_EQ(ring->Read(out), 5u);
  EXPECT_EQ(out, Pattern(5, 40));
}

// The consumer discards while the producer keeps writing: afterwards the
// ring holds a clean tail of the stream, never stale or torn bytes.
TEST(ReceiveRing, ResetWhileTheProducerRuns) {
  auto ring = std::make_unique<ReceiveRing>();
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    std::uint8_t next = 0;
    while (!stop.load()) {
      std::uint8_t block[64];
      for (auto& b : block) b = next++;
      std::size_t done = 0;
      while (done < sizeof block && !stop.load()) done += ring->Write({block + done, sizeof block - done});
      next = static_cast<std::uint8_t>(next - (sizeof block - done));
    }
  });
  for (int i = 0; i < 2000; ++i) {
    ring->Reset();
    Bytes out(256);
    const std::size_t n = ring->Read(out);
    for (std::size_t k = 1; k < n; ++k) ASSERT_EQ(static_cast<std::uint8_t>(out[k - 1] + 1), out[k]);
  }
  stop = true;
  producer.join();
}

// A producer and a consumer on two threads, both blocking on the ring's
// events with a generous time-out: a lost wake-up shows as a time-out, a
// lost or overwritten byte as a wrong sequence.
TEST(ReceiveRing, ProducerAndConsumerThreads) {
  auto ring = std::make_unique<ReceiveRing>();
  constexpr std::size_t kTotal = 3 * 1024 * 1024;
  std::atomic<bool> producerTimedOut{false};

  std::thread producer([&] {
    std::uint32_t rng = 12345;
    std::size_t sent = 0;
    Bytes chunk;
    while (sent < kTotal) {
      rng = rng * 1103515245u + 12345u;
      std::size_t n = std::min<std::size_t>(1 + (rng >> 16) % 3000, kTotal - sent);
      chunk = Pattern(n, sent);
      std::size_t done = 0;
      while (done < n) {
        done += ring->Write(std::span<const std::uint8_t>(chunk.data() + done, n - done));
        if (done < n) {
          pollfd p{ring->spaceEvent().fd(), POLLIN, 0};
          if (::poll(&p, 1, 5000) == 0) {
            producerTimedOut = true;
            return;
          }
        }
      }
      sent += n;
    }
  });

  std::size_t received = 0;
  bool inOrder = true;
  bool consumerTimedOut = false;
  std::uint64_t sum = 0;
  Bytes buf(777);
  while (received < kTotal && !producerTimedOut) {
    std::size_t n = ring->Read(buf);
    if (n == 0) {
      pollfd p{ring->dataEvent().fd(), POLLIN, 0};
      if (::poll(&p, 1, 5000) == 0) {
        consumerTimedOut = true;
        break;
      }
      continue;
    }
    for (std::size_t i = 0; i < n; ++i) {
      inOrder = inOrder && buf[i] == (received + i) % 251;
      sum += buf[i];
    }
    received += n;
  }
  producer.join();
  EXPECT_FALSE(producerTimedOut);
  EXPECT_FALSE(consumerTimedOut);
  EXPECT_EQ(received, kTotal);
  EXPECT_TRUE(inOrder);
  const Bytes expect = Pattern(kTotal);
  EXPECT_EQ(sum, std::accumulate(expect.begin(), expect.end(), std::uint64_t{0}));
  EXPECT_TRUE(ring->Empty());
}

PacketRecord Reply(std::uint8_t seq, std::uint8_t type, std::uint8_t lqi = 0) {
  PacketRecord r;
  r.SequenceNumber = seq;
  r.PacketType = type;
  r.Lqi = lqi;
  return r;
}

TEST(PacketQueue, KeyedBySequenceAndType) {
  PacketQueue q;
  q.Store(Reply(4, 0x13, 1));
  q.Store(Reply(4, 0x13, 2));  // same key: overwritten
  EXPECT_EQ(q.Count(), 1u);
  EXPECT_EQ(q.Find(4, 0x13)->Lqi, 2);

  q.Store(Reply(4, 0x14, 3));  // same number, other type: a second node
  EXPECT_EQ(q.Count(), 2u);
  EXPECT_EQ(q.Find(4, 0x14)->Lqi, 3);
  EXPECT_EQ(q.Find(4, 0x13)->Lqi, 2);
  EXPECT_FALSE(q.Find(5, 0x13));

  EXPECT_FALSE(q.Remove(9, 0x13));  // absent: nothing changes
  EXPECT_EQ(q.Count(), 2u);
  // Unclaimed replies stay until taken.
  EXPECT_TRUE(q.Find(4, 0x13));
  EXPECT_TRUE(q.Remove(4, 0x13));
  EXPECT_FALSE(q.Find(4, 0x13));
  EXPECT_EQ(q.Count(), 1u);

  auto taken = q.Take(4, 0x14);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->Lqi, 3);
  EXPECT_EQ(q.Count(), 0u);
  EXPECT_FALSE(q.Take(4, 0x14));
}

TEST(PacketQueue, AppendingStoreKeepsOldestFirst) {
  PacketQueue q;
  q.Store(Reply(1, 0x10, 1), false);
  q.Store(Reply(1, 0x10, 2), false);
  EXPECT_EQ(q.Count(), 2u);
  EXPECT_EQ(q.Find(1, 0x10)->Lqi, 1);
  EXPECT_TRUE(q.Remove(1, 0x10));
  EXPECT_EQ(q.Find(1, 0x10)->Lqi, 2);
  q.Clear();
  EXPECT_EQ(q.Count(), 0u);
}

TEST(PacketQueue, DiscardSequenceDropsEveryTypeOfThatNumber) {
  PacketQueue q;
  q.Store(Reply(7, 0x13));
  q.Store(Reply(7, 0x1A));
  q.Store(Reply(8, 0x13));
  EXPECT_EQ(q.DiscardSequence(7), 2u);
  EXPECT_FALSE(q.Find(7, 0x13));
  EXPECT_FALSE(q.Find(7, 0x1A));
  EXPECT_TRUE(q.Find(8, 0x13));
  EXPECT_EQ(q.DiscardSequence(7), 0u);
}

TEST(PacketQueue, ListenerRunsAfterStoreOutsideTheLock) {
  PacketQueue q;
  int calls = 0;
  bool sawRecord = false;
  // The listener looks into the queue itself: it would deadlock if it ran
  // under the queue's lock.
  q.SetStoreListener([&] {
    ++calls;
    sawRecord = q.Find(3, 0x15).has_value();
  });
  q.Store(Reply(3, 0x15));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(sawRecord);
}

TEST(PacketQueue, ConcurrentStoreAndTake) {
  PacketQueue q;
  constexpr int kN = 2000;
  std::thread writer([&] {
    for (int i = 0; i < kN; ++i) q.Store(Reply(static_cast<std::uint8_t>(i % 128), 0x13, static_cast<std::uint8_t>(i)));
  });
  int taken = 0;
  for (int round = 0; round < 50 && taken < kN; ++round)
    for (int s = 0; s < 128; ++s)
      if (q.Take(static_cast<std::uint8_t>(s), 0x13)) ++taken;
  writer.join();
  EXPECT_LE(q.Count(), 128u);
}

TEST(CondVarWaiter, NotificationIsNeverLost) {
  CondVarWaiter w;
  const auto seen = w.Generation();
  w.Notify();  // before the wait: the wait returns at once
  const auto start = Clock::now();
  w.WaitUntil(seen, start + 5s);
  EXPECT_LT(Clock::now() - start, 1s);

  const auto now = w.Generation();
  w.WaitUntil(now, Clock::now() + 30ms);  // nothing comes: returns at the deadline
  EXPECT_EQ(w.Generation(), now);

  std::thread t([&] {
    std::this_thread::sleep_for(20ms);
    w.Notify();
  });
  w.WaitUntil(now, Clock::now() + 5s);
  EXPECT_NE(w.Generation(), now);
  t.join();
}

}  // namespace
}  // namespace qmx

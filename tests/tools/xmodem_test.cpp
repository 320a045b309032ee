#include "tools/xmodem.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/fake_clock.h"
#include "tests/fixtures/temp_dir.h"

extern char** environ;

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(gen());
  return out;
}

Bytes ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(Crc16Xmodem, CheckValue) {
  const std::string s = "123456789";
  EXPECT_EQ(Crc16Xmodem({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}), 0x31C3);
}

// An lrzsz program with its standard input and output on one end of a
// socket pair; the engine talks over the other end on the steady clock.
class LrzszPeer {
 public:
  LrzszPeer(std::vector<std::string> args, const std::filesystem::path& dir) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) throw std::runtime_error("socketpair");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds_[1], 0);
    posix_spawn_file_actions_adddup2(&fa, fds_[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&fa, fds_[0]);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds_[1]);
    if (rc != 0) throw std::runtime_error("spawn " + args[0]);
  }
  ~LrzszPeer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(fds_[0]);
  }
  int Fd() const { return fds_[0]; }
  // The program's exit status.
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int fds_[2] = {-1, -1};
  pid_t pid_ = -1;
};

// A read waits far past any test's patience: only the arriving byte, the
// stop event or the peer's hang-up may end it.
TEST(FdChannel, ReadEndsOnAByteOnStopAndOnHangUp) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  FdChannel channel(fds[0], fds[0]);
  const auto never = Clock::now() + std::chrono::hours(1);
  std::thread writer([&] {
    const std::uint8_t b = 0x43;
    EXPECT_EQ(::write(fds[1], &b, 1), 1);
  });
  EXPECT_EQ(channel.ReadByte(never), 0x43);
  writer.join();

  std::thread stopper([&] { channel.Stop(); });
  EXPECT_EQ(channel.ReadByte(never), -1);
  stopper.join();

  EXPECT_EQ(channel.ReadByte(never), -1);

  FdChannel other(fds[0], fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(other.ReadByte(never), -1);
  ::close(fds[0]);
}

TEST(RingChannel, ReadEndsOnAByteAndOnStopAndDropEmptiesTheRing) {
  auto ring = std::make_unique<ReceiveRing>();
  Bytes sent;
  RingChannel channel(*ring, [&](std::span<const std::uint8_t> b) {
    sent.insert(sent.end(), b.begin(), b.end());
    return Done{};
  });
  const auto never = Clock::now() + std::chrono::hours(1);
  std::thread producer([&] { ring->Write(Bytes{0x15, 0x43}); });
  EXPECT_EQ(channel.ReadByte(never), 0x15);
  producer.join();
  channel.DropInput();
  EXPECT_TRUE(ring->Empty());
  EXPECT_EQ(channel.ReadByte(Clock::now()), -1);
  EXPECT_TRUE(channel.Write(Bytes{0x06}));
  EXPECT_EQ(sent, Bytes{0x06});

  std::thread stopper([&] { channel.Stop(); });
  EXPECT_EQ(channel.ReadByte(never), -1);
  stopper.join();
}

// What the sender puts on the wire for `data`: whole 128-byte blocks, the
// last one ending in 0x1A and zeros (a block of its own when the size is a
// multiple of 128).
Bytes SentImage(const Bytes& data) {
  Bytes out = data;
  out.push_back(xmodem::kPad);
  out.resize((out.size() + 127) / 128 * 128, 0);
  return out;
}

TEST(XmodemWithLrzsz, OurSenderToRx) {
  for (const bool crc : {false, true}) {
    for (const std::size_t size : {std::size_t{1000}, std::size_t{1024}}) {
      SCOPED_TRACE(testing::Message() << "crc " << crc << " size " << size);
      test::TempDir dir;
      std::vector<std::string> args = {"/usr/bin/rx", "-q", "-b"};
      if (crc) args.push_back("-c");
      args.push_back("image.bin");
      LrzszPeer peer(args, dir.path());
      FdChannel channel(peer.Fd(), peer.Fd());
      Xmodem xm(channel, SteadyTime());
      const Bytes data = RandomBytes(size, static_cast<unsigned>(size));
      const Bytes image = SentImage(data);
      EXPECT_EQ(xm.Send(data).value(), image.size());
      EXPECT_EQ(peer.Wait(), 0);
      EXPECT_EQ(ReadFile(dir.path() / "image.bin"), image);
    }
  }
}

TEST(XmodemWithLrzsz, OurReceiverFromSx) {
  for (const bool oneK : {false, true}) {
    SCOPED_TRACE(oneK ? "sx --1k" : "sx");
    test::TempDir dir;
    // Not a multiple of 128: the last block is padded with 0x1A.
    const Bytes data = RandomBytes(5000, 7);
    std::ofstream(dir.path() / "image.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    std::vector<std::string> args = {"/usr/bin/sx", "-q", "-b"};
    if (oneK) args.push_back("--1k");
    args.push_back("image.bin");
    LrzszPeer peer(args, dir.path());
    FdChannel channel(peer.Fd(), peer.Fd());
    std::size_t last = 0, largestStep = 0;
    Xmodem xm(channel, SteadyTime(), [&](std::size_t stored) {
      largestStep = std::max(largestStep, stored - last);
      last = stored;
    });
    Bytes buffer(132000);
    const int n = static_cast<int>(xm.Receive(buffer).value());
    EXPECT_EQ(peer.Wait(), 0);
    ASSERT_GE(n, static_cast<int>(data.size()));
    EXPECT_EQ(n % 128, 0);
    EXPECT_EQ(largestStep, oneK ? 1024u : 128u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(data.size()),
                            buffer.begin() + n, [](std::uint8_t b) { return b == xmodem::kPad; }));
  }
}

// Hostile and silent peers, on a fake clock: every time-out passes at once.
class XmodemPeer : public testing::Test {
 protected:
  using Ms = std::chrono::milliseconds;
  static Bytes Block(std::uint8_t number, const Bytes& data) {
    Bytes b = {data.size() == 1024 ? xmodem::kStx : xmodem::kSoh, number,
               static_cast<std::uint8_t>(~number)};
    b.insert(b.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (auto x : data) sum += x;
    b.push_back(static_cast<std::uint8_t>(sum));
    return b;
  }
  Ms Elapsed() const { return std::chrono::duration_cast<Ms>(clock.Elapsed()); }

  test::FakeClock clock;
  MemoryChannel::Answer answer;
  MemoryChannel channel{clock, [this](std::span<const std::uint8_t> w, MemoryChannel& self) {
                          if (answer) answer(w, self);
                        }};
  Xmodem xm{channel, clock};
};

TEST_F(XmodemPeer, SilenceEndsEachSideWithCansAfterSixteenWaitsAndADrain) {
  EXPECT_EQ(xm.Send(Bytes(10, 1)).status(), Status::NoReply);
  EXPECT_EQ(channel.Written(), Bytes(3, xmodem::kCan));
  EXPECT_EQ(Elapsed(), Ms(16 * 2000 + 1500));

  test::FakeClock clock2;
  MemoryChannel silent(clock2);
  Xmodem rx(silent, clock2);
  Bytes buffer(256);
  EXPECT_EQ(rx.Receive(buffer).status(), Status::NoReply);
  Bytes expected(16, xmodem::kNak);
  expected.insert(expected.end(), 3, xmodem::kCan);
  EXPECT_EQ(silent.Written(), expected);
  EXPECT_EQ(clock2.Elapsed(), Ms(16 * 2000 + 1500));
}

TEST_F(XmodemPeer, SenderPadsAWholeBlockAndResendsANakedEot) {
  int eots = 0;
  answer = [&](std::span<const std::uint8_t> w, MemoryChannel& self) {
    if (w[0] == xmodem::kEot) self.Queue(++eots == 1 ? xmodem::kNak : xmodem::kAck);
    else if (w[0] == xmodem::kSoh) self.Queue(xmodem::kAck);
  };
  channel.Queue(xmodem::kNak);
  const Bytes data = RandomBytes(128, 3);
  EXPECT_EQ(xm.Send(data).value(), 256u);
  Bytes pad(128, 0);
  pad[0] = xmodem::kPad;
  Bytes expected = Block(1, data);
  const Bytes second = Block(2, pad);
  expected.insert(expected.end(), second.begin(), second.end());
  expected.push_back(xmodem::kEot);
  expected.push_back(xmodem::kEot);
  EXPECT_EQ(channel.Written(), expected);
}

// Each block goes out in one write as soon as the ACK of the one before is
// read, with no wait on the clock in between; the receiver's answer after
// the EOT ends the drain as it comes. Without an answer named, the drain
// waits for the line to fall silent.
TEST_F(XmodemPeer, SenderWritesEachBlockOnTheAckAndEndsItsDrainOnTheAnswer) {
  std::vector<std::size_t> writes;
  answer = [&](std::span<const std::uint8_t> w, MemoryChannel& self) {
    writes.push_back(w.size());
    self.Queue(xmodem::kAck);
    if (w[0] == xmodem::kEot) self.Queue(Bytes{'O', 'K', '\r', '\n'});
  };
  for (const bool named : {true, false}) {
    SCOPED_TRACE(named);
    writes.clear();
    const auto before = Elapsed();
    xm.SetAnswerAfterEot(named ? "OK\r\n" : "");
    channel.Queue(xmodem::kNak);
    EXPECT_EQ(xm.Send(RandomBytes(1000, 7)).value(), 1024u);
    EXPECT_EQ(writes, (std::vector<std::size_t>{132, 132, 132, 132, 132, 132, 132, 132, 1}));
    EXPECT_EQ(xm.AfterEot(), (Bytes{'O', 'K', '\r', '\n'}));
    EXPECT_EQ(Elapsed() - before, Ms(named ? 0 : 1500));
  }
}

TEST_F(XmodemPeer, SenderGivesUpOnABlockAfterTwentyFiveWritesAndHonoursCanCan) {
  int blocks = 0;
  answer = [&](std::span<const std::uint8_t> w, MemoryChannel& self) {
    if (w[0] == xmodem::kSoh) {
      ++blocks;
      self.Queue(xmodem::kNak);
    }
  };
  channel.Queue(xmodem::kNak);
  EXPECT_EQ(xm.Send(Bytes(5, 9)).status(), Status::NoReply);
  EXPECT_EQ(blocks, 25);
  EXPECT_EQ(channel.Written().size(), 25u * 132 + 3);
  EXPECT_EQ(channel.Written().back(), xmodem::kCan);

  test::FakeClock clock2;
  MemoryChannel cancelling(clock2, [](std::span<const std::uint8_t>, MemoryChannel& self) {
    self.Queue(Bytes{xmodem::kCan, xmodem::kCan});
  });
  cancelling.Queue(xmodem::kCrcRequest);
  Xmodem tx(cancelling, clock2);
  EXPECT_EQ(tx.Send(Bytes(5, 9)).status(), Status::Cancelled);
  EXPECT_EQ(cancelling.Written().size(), 133u + 1);  // one CRC block, then ACK
  EXPECT_EQ(cancelling.Written().back(), xmodem::kAck);
}

TEST_F(XmodemPeer, ReceiverNaksAFlippedByteAfterDrainingAndTakesTheResend) {
  const Bytes data = RandomBytes(128, 5);
  int writes = 0;
  answer = [&](std::span<const std::uint8_t>, MemoryChannel& self) {
    switch (++writes) {
      case 1: {
        Bytes bad = Block(1, data);
        bad[50] ^= 0x10;
        self.Queue(bad);
        break;
      }
      case 2: self.Queue(Block(1, data)); break;
      case 3: self.Queue(xmodem::kEot); break;
      default: break;
    }
  };
  Bytes buffer(1000);
  EXPECT_EQ(xm.Receive(buffer).value(), 128u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_EQ(channel.Written(), (Bytes{xmodem::kNak, xmodem::kNak, xmodem::kAck, xmodem::kAck}));
  // The drain before the NAK and the one after EOT.
  EXPECT_EQ(Elapsed(), Ms(2 * 1500));
}

TEST_F(XmodemPeer, ReceiverCancelsOnTheTwentyFifthRepeatAndStopsAtCapacity) {
  const Bytes data = RandomBytes(1024, 6);
  for (int i = 0; i < 26; ++i) channel.Queue(Block(1, data));
  Bytes buffer(200);
  EXPECT_EQ(xm.Receive(buffer).status(), Status::NoReply);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin()));
  Bytes expected{xmodem::kNak};
  expected.insert(expected.end(), 25, xmodem::kAck);
  expected.insert(expected.end(), 3, xmodem::kCan);
  EXPECT_EQ(channel.Written(), expected);
}

TEST_F(XmodemPeer, PromptMatchesThroughNoiseAndLeavesWhatFollowsUnread) {
  const std::string in = "xD?L:C";
  channel.Queue(Bytes(in.begin(), in.end()));
  EXPECT_EQ(xm.AwaitPrompt("DL:", 1000, 1000), 3);
  EXPECT_EQ(xm.ReadByteTimed(0), 'C');
  EXPECT_EQ(Elapsed(), Ms(0));

  channel.Queue(Bytes{'D', 'L'});
  EXPECT_EQ(xm.AwaitPrompt("DL:", 2000, 1000), 2);
  EXPECT_EQ(Elapsed(), Ms(1000));
  EXPECT_EQ(xm.AwaitPrompt("OK\r\n", 2000, 1000), 0);
  EXPECT_EQ(Elapsed(), Ms(3000));
}

}  // namespace
}  // namespace qmx

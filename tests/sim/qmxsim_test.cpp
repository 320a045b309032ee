// The qmxsim tool through a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "link/frame.h"
#include "tests/fixtures/qmxsim_process.h"


namespace qmx::sim::test {
namespace {

using namespace std::chrono_literals;

// One running qmxsim and the host's descriptor of its terminal.
class Tool {
 public:
  explicit Tool(const std::vector<std::string>& args,
                qmx::test::QmxsimProcess::Network network = qmx::test::QmxsimProcess::Network::Quiet)
      : process_(args, network) {}
  ~Tool() {
    if (fd_ >= 0) ::close(fd_);
  }

  const std::string& Path() const { return process_.Path(); }

  bool OpenHost(speed_t speed, bool twoStopBits = false) {
    fd_ = ::open(Path().c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return false;
    return SetLine(speed, twoStopBits);
  }
  bool SetLine(speed_t speed, bool twoStopBits = false) {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (twoStopBits) t.c_cflag |= CSTOPB;
    else t.c_cflag &= ~CSTOPB;
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
  }

  void Send(std::uint8_t type, std::uint8_t seq, const PacketRecord& rec = {}) {
    auto f = BuildCommandFrame(type, rec, seq);
    ASSERT_EQ(::write(fd_, f->data(), f->size), static_cast<ssize_t>(f->size));
  }

  // Frames that arrive within `quiet` of silence, at most `count`.
  std::vector<Frame> Receive(std::size_t count, std::chrono::milliseconds quiet = 1500ms) {
    return Collect(count, [quiet] { return quiet; });
  }
  // Frames that arrive within `span`, however busy the line.
  std::vector<Frame> ReceiveFor(std::chrono::milliseconds span) {
    const auto until = std::chrono::steady_clock::now() + span;
    return Collect(SIZE_MAX, [until] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    });
  }

  // Sends SIGTERM and returns the exit status, or -1.
  int Terminate() { return process_.Terminate(); }
  int Wait() { return process_.Wait(); }
  // True when the host side reports a hang-up within a second.
  bool HostSeesHangup() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) return false;
    if (p.revents & POLLHUP) return true;
    std::uint8_t b;
    return ::read(fd_, &b, 1) <= 0;
  }

 private:
  // Frames until `count` have come or `wait` (asked before each read) passes
  // without a byte.
  std::vector<Frame> Collect(std::size_t count, const std::function<std::chrono::milliseconds()>& wait) {
    std::vector<Frame> frames;
    FrameAssembler assembler;
    pollfd p{fd_, POLLIN, 0};
    for (auto w = wait(); frames.size() < count && w > 0ms && ::poll(&p, 1, static_cast<int>(w.count())) > 0;
         w = wait()) {
      if (!(p.revents & POLLIN)) break;
      std::uint8_t buf[256];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      assembler.Feed(std::span(buf, static_cast<std::size_t>(n)), [&](const Frame& f) { frames.push_back(f); });
    }
    return frames;
  }

  qmx::test::QmxsimProcess process_;
  int fd_ = -1;
};

#define SKIP_WITHOUT_BINARY()                                                  \
  if (!std::filesystem::exists(qmx::test::QmxsimBinary())) {                  \
    GTEST_SKIP() << "qmxsim not built: " << qmx::test::QmxsimBinary();         \
  }

TEST(QmxSim, AnswersEnterProtocolModeThroughThePty) {
  SKIP_WITHOUT_BINARY();
  Tool tool({});
  ASSERT_FALSE(tool.Path().empty());
  ASSERT_TRUE(tool.OpenHost(B9600));
  tool.Send(ptype::EnterProtocolMode, 5);
  auto frames = tool.Receive(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type(), ptype::EnterProtocolModeReply);
  EXPECT_EQ(frames[0].sequence(), 5);
  EXPECT_EQ(tool.Terminate(), 0);
  EXPECT_TRUE(tool.HostSeesHangup());
}

TEST(QmxSim, StopBitsMatterOnlyWhenAskedFor) {
  SKIP_WITHOUT_BINARY();
  Tool tool({"--baud", "19200"});
  ASSERT_TRUE(tool.OpenHost(B19200, true));
  tool.Send(ptype::EnterProtocolMode, 1);
  EXPECT_EQ(tool.Receive(1).size(), 1u);
  EXPECT_EQ(tool.Terminate(), 0);
}

TEST(QmxSim, AnswersOnlyAtItsBaudRateAndStrictStopBits) {
  SKIP_WITHOUT_BINARY();
  Tool tool({"--baud", "57600", "--stop", "2", "--strict-stop-bits"});
  ASSERT_TRUE(tool.OpenHost(B9600));
  tool.Send(ptype::EnterProtocolMode, 1);
  EXPECT_TRUE(tool.Receive(1, 300ms).empty());
  ASSERT_TRUE(tool.SetLine(B57600, false));
  tool.Send(ptype::EnterProtocolMode, 2);
  EXPECT_TRUE(tool.Receive(1, 300ms).empty());
  ASSERT_TRUE(tool.SetLine(B57600, true));
  tool.Send(ptype::EnterProtocolMode, 3);
  auto frames = tool.Receive(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].sequence(), 3);

  // The serial registers move the module; the host follows.
  PacketRecord set;
  set.Register = 0;
  set.Bank = 3;
  set.Span = 2;
  set.Data[0] = 11;
  set.Data[1] = 0x00;
  tool.Send(ptype::SetRegister, 4, set);
  ASSERT_EQ(tool.Receive(1).size(), 1u);
  ASSERT_TRUE(tool.SetLine(B115200, false));
  PacketRecord get = set;
  tool.Send(ptype::GetRegister, 5, get);
  auto back = tool.Receive(1);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].payload()[3], 11);
  EXPECT_EQ(tool.Terminate(), 0);
}

TEST(QmxSim, UnplugFaultEndsTheToolAndHangsUpTheHost) {
  SKIP_WITHOUT_BINARY();
  Tool tool({"--faults", "unplug=1"});
  ASSERT_TRUE(tool.OpenHost(B9600));
  tool.Send(ptype::EnterProtocolMode, 1);
  ASSERT_EQ(tool.Receive(1).size(), 1u);
  tool.Send(ptype::EnterProtocolMode, 2);
  EXPECT_EQ(tool.Wait(), 0);
  EXPECT_TRUE(tool.HostSeesHangup());
}

TEST(QmxSim, RejectsBadArguments) {
  SKIP_WITHOUT_BINARY();
  for (auto args : {std::vector<std::string>{"--baud", "14400"}, {"--parity", "mark"}, {"--faults", "wobble"},
                    {"--stop", "3"}, {"--bogus"}, {"--traffic-interval", "0"}, {"--traffic-interval", "1e9"},
                    {"--remotes", "251"}, {"--remotes", "-1"}, {"--churn=0"}, {"--churn=soon"}, {"--churn="},
                    {"--churn"} /* with --quiet */}) {
    Tool tool(args);
    EXPECT_TRUE(tool.Path().empty());
    EXPECT_EQ(tool.Wait(), 2);
  }
  // A flood for a benchmark or a trial: a remote's report every 10 ms.
  Tool fast({"--traffic-interval", "0.01"});
  EXPECT_FALSE(fast.Path().empty());
  EXPECT_EQ(fast.Terminate(), 0);
}

TEST(QmxSim, ManyRemotesJoinAndChurnThroughThePty) {
  SKIP_WITHOUT_BINARY();
  Tool tool({"--remotes", "250", "--churn=0.2", "--traffic-interval", "3600"},
            qmx::test::QmxsimProcess::Network::Live);
  ASSERT_TRUE(tool.OpenHost(B9600));
  tool.Send(ptype::EnterProtocolMode, 1);
  // The joins begin about half a second after start-up, 120 ms apart.
  std::set<std::uint16_t> joined;
  bool left = false;
  for (const Frame& f : tool.ReceiveFor(5s)) {
    if (f.type() != ptype::Announce || f.payloadSize() < 3) continue;
    if (f.payload()[0] == 0xA5) left = true;
    if (f.payload()[0] == 0xA2 && f.payloadSize() == 11)
      joined.insert(static_cast<std::uint16_t>(f.payload()[9] | (f.payload()[10] << 8)));
  }
  EXPECT_GT(joined.size(), 20u);
  EXPECT_TRUE(left) << "a remote left";
  EXPECT_EQ(tool.Terminate(), 0);
}

}  // namespace
}  // namespace qmx::sim::test

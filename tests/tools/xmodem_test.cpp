#include "tools/xmodem.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
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

// What the sender puts on the wire for `data`: whole 128-byte blocks, the
// last one ending in 0x1A and zeros (a block of its own when the size is a
// multiple of 128).
Bytes SentImage(const Bytes& data) {
  Bytes out = data;
  out.push_back(Xmodem::kPad);
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
      EXPECT_EQ(xm.Send(data), static_cast<int>(image.size()));
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
    const int n = xm.Receive(buffer);
    EXPECT_EQ(peer.Wait(), 0);
    ASSERT_GE(n, static_cast<int>(data.size()));
    EXPECT_EQ(n % 128, 0);
    EXPECT_EQ(largestStep, oneK ? 1024u : 128u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(data.size()),
                            buffer.begin() + n, [](std::uint8_t b) { return b == Xmodem::kPad; }));
  }
}

}  // namespace
}  // namespace qmx

// Plays a hostile XMODEM peer from arbitrary bytes. The first byte picks
// the side under test and the buffer or image size; the rest is what the
// peer sends. Time is simulated, so every time-out passes at once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/xmodem.h"

namespace {

class JumpClock final : public qmx::TimeSource {
 public:
  qmx::Clock::time_point Now() const override { return now_; }
  void WaitUntil(std::unique_lock<std::mutex>&, std::condition_variable&,
                 qmx::Clock::time_point deadline) override {
    if (deadline > now_) now_ = deadline;
  }
  void Sleep(qmx::Clock::duration d) override { now_ += d; }

 private:
  qmx::Clock::time_point now_{};
};

// The only ways a peer can end a transfer on a channel whose writes never
// fail.
bool PeerFailure(qmx::Status status) {
  return status == qmx::Status::Cancelled || status == qmx::Status::NoReply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  std::span<const std::uint8_t> peer(data + 1, size - 1);
  JumpClock clock;

  if ((mode & 1) == 0) {
    // Receiver: the peer's whole stream is there from the start.
    qmx::MemoryChannel channel(clock);
    channel.Queue(peer);
    qmx::Xmodem xm(channel, clock);
    if (mode & 2) {
      const int matched = xm.AwaitPrompt("DL:", 1000, 1000);
      if (matched < 0 || matched > 3) __builtin_trap();
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(mode >> 2) * 40);
    const auto n = xm.Receive(buffer);
    if (n ? *n > buffer.size() : !PeerFailure(n.status())) __builtin_trap();
    return 0;
  }

  // Sender: after each write the peer answers with the next few bytes (the
  // count is the next input byte modulo 8).
  std::size_t at = 0;
  qmx::MemoryChannel channel(clock, [&](std::span<const std::uint8_t>, qmx::MemoryChannel& self) {
    if (at >= peer.size()) return;
    const std::size_t want = peer[at] % 8u;
    ++at;
    const std::size_t n = std::min(want, peer.size() - at);
    self.Queue(peer.subspan(at, n));
    at += n;
  });
  if (!peer.empty()) {
    const std::size_t n = std::min<std::size_t>(peer[0] % 8, peer.size() - 1);
    channel.Queue(peer.subspan(1, n));
    at = 1 + n;
  }
  const std::vector<std::uint8_t> image(static_cast<std::size_t>(mode >> 1) * 3, 0x5A);
  qmx::Xmodem xm(channel, clock);
  const auto n = xm.Send(image);
  if (n ? (*n % 128 != 0 || *n < image.size() || *n > image.size() + 128) : !PeerFailure(n.status()))
    __builtin_trap();
  return 0;
}

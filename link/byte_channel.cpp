#include "link/byte_channel.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qmx {

namespace {

// Waits until `fd` is readable or `deadline` of `clock`; false on time-out,
// on `stop`, or when the descriptor was closed or failed.
bool WaitReadable(int fd, const Event& stop, TimeSource& clock, Clock::time_point deadline) {
  for (;;) {
    if (stop.isSet()) return false;
    // Round up so a wait never ends just before its deadline.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.Now()).count();
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
    const int r = ::poll(fds, 2, static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents & POLLIN) return true;
    // Hang-up or error with nothing left to read: the peer is gone.
    if (fds[0].revents != 0) return false;
    if (ms <= 0) return false;
  }
}

}  // namespace

FdChannel::FdChannel(int readFd, int writeFd, TimeSource& clock)
    : readFd_(readFd), writeFd_(writeFd), clock_(clock) {}

Done FdChannel::Write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(writeFd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A non-blocking descriptor that is full: wait for room or stop.
      pollfd fds[2] = {{writeFd_, POLLOUT, 0}, {stop_.fd(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return Done::Fail(Status::WriteFailed, std::strerror(errno));
      if (fds[1].revents != 0) return Done::Fail(Status::Cancelled);
      continue;
    }
    if (n < 0) return Done::Fail(errno == EPIPE ? Status::PortClosed : Status::WriteFailed, std::strerror(errno));
    return Done::Fail(Status::WriteFailed);
  }
  return {};
}

bool FdChannel::Fill(Clock::time_point deadline) {
  while (WaitReadable(readFd_, stop_, clock_, deadline)) {
    const ssize_t n = ::read(readFd_, buffer_, sizeof buffer_);
    if (n > 0) {
      head_ = 0;
      tail_ = static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) return false;
    if (errno != EINTR && errno != EAGAIN) return false;
  }
  return false;
}

int FdChannel::ReadByte(Clock::time_point deadline) {
  if (stop_.isSet()) return -1;
  if (head_ == tail_ && !Fill(deadline)) return -1;
  return buffer_[head_++];
}

void FdChannel::DropInput() {
  head_ = tail_ = 0;
  while (Fill(clock_.Now())) head_ = tail_ = 0;
}

int RingChannel::ReadByte(Clock::time_point deadline) {
  std::uint8_t b = 0;
  while (!stop_.isSet()) {
    if (ring_.Pop(b)) return b;
    if (!WaitReadable(ring_.dataEvent().fd(), stop_, clock_, deadline)) break;
  }
  return -1;
}

Done MemoryChannel::Write(std::span<const std::uint8_t> bytes) {
  written_.insert(written_.end(), bytes.begin(), bytes.end());
  if (answer_) answer_(bytes, *this);
  return {};
}

int MemoryChannel::ReadByte(Clock::time_point deadline) {
  if (input_.empty()) {
    const auto now = clock_.Now();
    if (deadline > now) clock_.Sleep(deadline - now);
    return -1;
  }
  const std::uint8_t b = input_.front();
  input_.pop_front();
  return b;
}

}  // namespace qmx

#include "link/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace qmx {

Event::Event() {
  readFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (readFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  writeFd_ = readFd_;
}

Event::~Event() {
  if (readFd_ >= 0) ::close(readFd_);
}

void Event::set() {
  const std::uint64_t one = 1;
  // Fails only when the counter would overflow, i.e. the event is set anyway.
  while (::write(writeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Event::reset() {
  std::uint64_t value;
  // One read drains the whole counter; EAGAIN means it was not set.
  while (::read(readFd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool Event::isSet() const { return wait(std::chrono::milliseconds(0)); }

bool Event::wait(std::chrono::milliseconds timeout) const {
  pollfd p{readFd_, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int ms = -1;
    if (timeout.count() >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      ms = left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 1 << 30)) : 0;
    }
    int r = ::poll(&p, 1, ms);
    if (r > 0) return (p.revents & POLLIN) != 0;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace qmx

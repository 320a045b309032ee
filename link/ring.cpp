#include "link/ring.h"

#include <algorithm>
#include <cstring>

namespace qmx {

// The two events follow the ring's state. Each side only ever moves its own
// event towards "not set" (the consumer clears dataEvent when it found the
// ring empty, the producer clears spaceEvent when it found the ring full) and
// then looks at the ring again, setting the event back when the other side
// changed it in between; so a wake-up is never lost. The signalled flags
// spare a system call when the event already is as it should be; the data
// event's flag and the event change together under a lock taken only when
// one of them changes, so a consumer that finds the flag clear knows the
// event is clear too.
namespace {
constexpr std::uint64_t kSize64 = ReceiveRing::kSize;
}

std::size_t ReceiveRing::Write(std::span<const std::uint8_t> bytes) {
  const std::size_t n = Put(bytes);
  if (n > 0) SignalIfUnread();
  return n;
}

void ReceiveRing::SignalIfUnread() {
  if (Available() == 0 || dataSignalled_.load()) return;
  std::lock_guard lock(signalMutex_);
  if (dataSignalled_.load() || Available() == 0) return;
  dataSignalled_.store(true);
  data_.set();
}

std::size_t ReceiveRing::Put(std::span<const std::uint8_t> bytes) {
  const std::uint64_t w = write_.load(std::memory_order_relaxed);
  const std::uint64_t r = read_.load(std::memory_order_acquire);
  const std::size_t free = static_cast<std::size_t>(kSize64 - (w - r));
  const std::size_t n = std::min(free, bytes.size());
  if (n > 0) {
    const std::size_t pos = static_cast<std::size_t>(w % kSize64);
    const std::size_t first = std::min(n, kSize - pos);
    std::memcpy(buffer_ + pos, bytes.data(), first);
    if (n > first) std::memcpy(buffer_, bytes.data() + first, n - first);
    write_.store(w + n, std::memory_order_seq_cst);
  }
  if (n == free) {
    // Full (or nothing could be taken): clear the space event, then look
    // again in case the consumer made room meanwhile.
    spaceSignalled_.store(false);
    space_.reset();
    if (FreeSpace() > 0) {
      spaceSignalled_.store(true);
      space_.set();
    }
  }
  return n;
}

std::size_t ReceiveRing::FreeSpace() const {
  const std::uint64_t r = read_.load();
  const std::uint64_t w = write_.load();
  return static_cast<std::size_t>(kSize64 - (w - r));
}

std::size_t ReceiveRing::Available() const {
  const std::uint64_t w = write_.load();
  const std::uint64_t r = read_.load();
  return static_cast<std::size_t>(w - r);
}

std::size_t ReceiveRing::Read(std::span<std::uint8_t> out) {
  const std::uint64_t r = read_.load(std::memory_order_relaxed);
  const std::uint64_t w = write_.load(std::memory_order_acquire);
  const std::size_t n = std::min(static_cast<std::size_t>(w - r), out.size());
  if (n > 0) {
    const std::size_t pos = static_cast<std::size_t>(r % kSize64);
    const std::size_t first = std::min(n, kSize - pos);
    std::memcpy(out.data(), buffer_ + pos, first);
    if (n > first) std::memcpy(out.data() + first, buffer_, n - first);
    read_.store(r + n, std::memory_order_seq_cst);
    if (!spaceSignalled_.load()) {
      spaceSignalled_.store(true);
      space_.set();
    }
  }
  UpdateEvents();
  return n;
}

bool ReceiveRing::Peek(std::uint8_t& byte) const {
  const std::uint64_t r = read_.load(std::memory_order_relaxed);
  const std::uint64_t w = write_.load(std::memory_order_acquire);
  if (w == r) return false;
  byte = buffer_[r % kSize64];
  return true;
}

bool ReceiveRing::Pop(std::uint8_t& byte) { return Read({&byte, 1}) == 1; }

void ReceiveRing::UpdateEvents() {
  // Consumer side: once the ring is empty, clear the data event and look
  // again, since the producer may have added bytes just before the reset.
  if (Available() != 0 || !dataSignalled_.load()) return;
  {
    std::lock_guard lock(signalMutex_);
    dataSignalled_.store(false);
    data_.reset();
  }
  SignalIfUnread();
}

void ReceiveRing::Reset() {
  // The read index catches up with the write index. Only the consumer's own
  // index moves, so a producer writing at this moment is never disturbed:
  // its bytes either went before (and are dropped) or come after.
  read_.store(write_.load(std::memory_order_acquire), std::memory_order_seq_cst);
  if (!spaceSignalled_.load()) {
    spaceSignalled_.store(true);
    space_.set();
  }
  UpdateEvents();
}

ReceiveRing::ReceiveRing() { space_.set(); }

}  // namespace qmx

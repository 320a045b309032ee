#include "link/packet_queue.h"

#include <algorithm>

namespace qmx {

namespace {
bool SameKey(const PacketRecord& rec, std::uint8_t seq, std::uint8_t type) {
  return rec.SequenceNumber == seq && rec.PacketType == type;
}
}  // namespace

void PacketQueue::Store(const PacketRecord& rec, bool replace) {
  std::function<void()> listener;
  {
    std::lock_guard lock(QueueLock);
    auto it = nodes_.end();
    if (replace)
      it = std::find_if(nodes_.begin(), nodes_.end(),
                        [&](const PacketRecord& r) { return SameKey(r, rec.SequenceNumber, rec.PacketType); });
    if (it != nodes_.end())
      *it = rec;
    else
      nodes_.push_back(rec);
    listener = listener_;
  }
  if (listener) listener();
}

std::optional<PacketRecord> PacketQueue::Find(std::uint8_t seq, std::uint8_t type) const {
  std::lock_guard lock(QueueLock);
  for (const auto& r : nodes_)
    if (SameKey(r, seq, type)) return r;
  return std::nullopt;
}

bool PacketQueue::Remove(std::uint8_t seq, std::uint8_t type) {
  std::lock_guard lock(QueueLock);
  auto it = std::find_if(nodes_.begin(), nodes_.end(), [&](const PacketRecord& r) { return SameKey(r, seq, type); });
  if (it == nodes_.end()) return false;
  nodes_.erase(it);
  return true;
}

std::optional<PacketRecord> PacketQueue::Take(std::uint8_t seq, std::uint8_t type) {
  std::lock_guard lock(QueueLock);
  auto it = std::find_if(nodes_.begin(), nodes_.end(), [&](const PacketRecord& r) { return SameKey(r, seq, type); });
  if (it == nodes_.end()) return std::nullopt;
  PacketRecord rec = *it;
  nodes_.erase(it);
  return rec;
}

std::size_t PacketQueue::DiscardSequence(std::uint8_t seq) {
  std::lock_guard lock(QueueLock);
  return static_cast<std::size_t>(
      std::erase_if(nodes_, [&](const PacketRecord& r) { return r.SequenceNumber == seq; }));
}

void PacketQueue::Clear() {
  std::lock_guard lock(QueueLock);
  nodes_.clear();
}

std::size_t PacketQueue::Count() const {
  std::lock_guard lock(QueueLock);
  return nodes_.size();
}

void PacketQueue::SetStoreListener(std::function<void()> listener) {
  std::lock_guard lock(QueueLock);
  listener_ = std::move(listener);
}

}  // namespace qmx

// Replies received and not yet claimed, keyed by (sequence number, packet
// type). Filled by the frame parser, emptied by the command layer.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>

#include "link/packet.h"

namespace qmx {

class PacketQueue {
 public:
  // With replace set, a record with the same key is overwritten in place;
  // otherwise the record is appended.
  void Store(const PacketRecord& rec, bool replace = true);
  std::optional<PacketRecord> Find(std::uint8_t seq, std::uint8_t type) const;
  bool Remove(std::uint8_t seq, std::uint8_t type);
  // Finds and removes in one step.
  std::optional<PacketRecord> Take(std::uint8_t seq, std::uint8_t type);
  // Drops every record with this sequence number, whatever its type. Called
  // before a command is sent under a sequence number, so that a reply left
  // over from an earlier command with the same number can never answer it.
  std::size_t DiscardSequence(std::uint8_t seq);
  void Clear();
  std::size_t Count() const;

  // Called after each Store, outside the lock (wakes waiting commands).
  void SetStoreListener(std::function<void()> listener);

 private:
  mutable std::mutex QueueLock;
  std::list<PacketRecord> nodes_;
  std::function<void()> listener_;
};

}  // namespace qmx

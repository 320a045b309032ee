// The receive ring: 65,536 bytes between the thread that reads the serial
// port (the only producer) and the one consumer of received bytes (the frame
// parser, or the terminal or bootloader dialogue while the parser is
// stopped). No lock; each side owns one index. The producer never overwrites
// unread bytes: it takes only as much as there is room for and waits for
// room otherwise, so the serial driver's own buffer and flow control hold the
// rest.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "link/event.h"

namespace qmx {

class ReceiveRing {
 public:
  static constexpr std::size_t kSize = 65536;

  // Empty, with room: dataEvent not set, spaceEvent set.
  ReceiveRing();

  // Producer side. Copies as many bytes as fit; returns how many.
  std::size_t Write(std::span<const std::uint8_t> bytes);
  // The same without setting the data event, for a producer that hands the
  // block to a consumer on its own thread first and then calls
  // SignalIfUnread(): a consumer that took everything costs no system call.
  std::size_t Put(std::span<const std::uint8_t> bytes);
  // Sets the data event while bytes wait unread.
  void SignalIfUnread();
  std::size_t FreeSpace() const;

  // Consumer side.
  std::size_t Read(std::span<std::uint8_t> out);
  bool Peek(std::uint8_t& byte) const;
  bool Pop(std::uint8_t& byte);
  std::size_t Available() const;
  bool Empty() const { return Available() == 0; }

  // Discards every unread byte. Consumer side (or while no consumer runs);
  // safe while the producer runs.
  void Reset();

  // Set while bytes are waiting (the consumer polls on dataEvent().fd()).
  const Event& dataEvent() const { return data_; }
  // Set while there is room (the producer polls on it when the ring is full).
  const Event& spaceEvent() const { return space_; }

 private:
  std::uint8_t buffer_[kSize];
  // Free-running counters; position = counter % kSize. Full when they differ
  // by kSize.
  std::atomic<std::uint64_t> write_{0};
  std::atomic<std::uint64_t> read_{0};
  Event data_;
  Event space_;
  // Whether data_ / space_ were last set (spares a system call per byte).
  // dataSignalled_ changes together with data_ under signalMutex_, so that
  // the consumer may trust it and skip clearing an event that is not set.
  std::mutex signalMutex_;
  std::atomic<bool> dataSignalled_{false};
  std::atomic<bool> spaceSignalled_{true};
  void UpdateEvents();
};

// A consumer of the ring that the producer's thread drives: the port's
// reading thread tells it, on that thread, when it starts, after every block
// it put into the ring (the consumer may take it there and then), and when
// it ends.
class RingConsumer {
 public:
  virtual void ReaderStarted() = 0;
  virtual void BytesWritten() = 0;
  virtual void ReaderEnded() = 0;

 protected:
  ~RingConsumer() = default;
};

}  // namespace qmx

// The byte stream the bootloader dialogue and its XMODEM engine talk over:
// write bytes, take one received byte waiting no longer than a deadline,
// drop what was received and not yet taken. A waiting read blocks on an
// event and returns as soon as a byte arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

#include "link/clock.h"
#include "link/event.h"
#include "link/result.h"
#include "link/ring.h"

namespace qmx {

class ByteChannel {
 public:
  virtual ~ByteChannel() = default;
  // Fails when the bytes could not all be written: WriteFailed (or
  // PortClosed, for a peer or port that went away) with the system's
  // reason, Cancelled when the channel was stopped.
  virtual Done Write(std::span<const std::uint8_t> bytes) = 0;
  // The next received byte (0 … 255), or -1 when none came before
  // `deadline` of the channel's clock (or the channel was stopped).
  virtual int ReadByte(Clock::time_point deadline) = 0;
  // Discards every byte received and not yet read.
  virtual void DropInput() = 0;
};

// Over a pair of file descriptors (a pipe, a socket or a pseudo-terminal;
// the same descriptor may be given twice). Reads wait in poll() on the
// input and on a stop event; deadlines come from `clock`, which must pass
// by itself (the steady clock). The descriptors stay the caller's.
class FdChannel final : public ByteChannel {
 public:
  FdChannel(int readFd, int writeFd, TimeSource& clock = SteadyTime());
  Done Write(std::span<const std::uint8_t> bytes) override;
  int ReadByte(Clock::time_point deadline) override;
  void DropInput() override;
  // From any thread: a waiting read returns -1 at once, and so do all later
  // ones.
  void Stop() { stop_.set(); }

 private:
  bool Fill(Clock::time_point deadline);

  int readFd_;
  int writeFd_;
  TimeSource& clock_;
  Event stop_;
  std::uint8_t buffer_[512];
  std::size_t head_ = 0;
  std::size_t tail_ = 0;
};

// Over the receive ring, as its consumer while the frame parser is stopped;
// writes go to `write` (the serial port's WritePort). Reads wait in poll() on the
// ring's data event and a stop event; deadlines come from `clock`, which
// must pass by itself.
class RingChannel final : public ByteChannel {
 public:
  using Writer = std::function<Done(std::span<const std::uint8_t>)>;
  RingChannel(ReceiveRing& ring, Writer write, TimeSource& clock = SteadyTime())
      : ring_(ring), write_(std::move(write)), clock_(clock) {}
  Done Write(std::span<const std::uint8_t> bytes) override { return write_(bytes); }
  int ReadByte(Clock::time_point deadline) override;
  void DropInput() override { ring_.Reset(); }
  void Stop() { stop_.set(); }

 private:
  ReceiveRing& ring_;
  Writer write_;
  TimeSource& clock_;
  Event stop_;
};

// In memory, on one thread: the peer is a queue of bytes plus an optional
// answer function that sees every write and may queue more input. A read
// with nothing queued lets the clock run to the deadline (a fake clock
// simply jumps there) and returns -1.
class MemoryChannel final : public ByteChannel {
 public:
  using Answer = std::function<void(std::span<const std::uint8_t> written, MemoryChannel& self)>;
  explicit MemoryChannel(TimeSource& clock, Answer answer = {})
      : clock_(clock), answer_(std::move(answer)) {}
  Done Write(std::span<const std::uint8_t> bytes) override;
  int ReadByte(Clock::time_point deadline) override;
  void DropInput() override { input_.clear(); }

  void Queue(std::span<const std::uint8_t> bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }
  void Queue(std::uint8_t byte) { input_.push_back(byte); }
  const std::vector<std::uint8_t>& Written() const { return written_; }
  std::size_t Pending() const { return input_.size(); }

 private:
  TimeSource& clock_;
  Answer answer_;
  std::deque<std::uint8_t> input_;
  std::vector<std::uint8_t> written_;
};

}  // namespace qmx

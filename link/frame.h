// Building command frames, the sequence counter, packet names, and the
// assembler that cuts frames out of a received byte stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "link/packet.h"

namespace qmx {

// The sequence number that follows `last`: 1 … 127, then 0 again.
std::uint8_t SequenceAfter(std::uint8_t last);

// One counter for the process: 1 … 127, 0, 1 … Thread-safe.
class SequenceCounter {
 public:
  std::uint8_t NextSequenceNumber();
  void Reset(std::uint8_t value = 0) { value_.store(value); }
  std::uint8_t Current() const { return value_.load(); }

 private:
  std::atomic<std::uint8_t> value_{0};
};

// Builds the command frame of `type` from `rec` (fields as the command needs
// them) with sequence number `seq`. Returns nothing when the frame's Packet
// Length would exceed 100 or the type is not a command.
std::optional<Frame> BuildCommandFrame(std::uint8_t type, const PacketRecord& rec, std::uint8_t seq);

// Builds an arbitrary frame from a type and payload (used by the simulator
// and the packet builder). Nothing when the payload exceeds 98 bytes.
std::optional<Frame> BuildFrame(std::uint8_t seq, std::uint8_t type, std::span<const std::uint8_t> payload);

// Log name of a received type, e.g. "(Get Register Reply)"; empty for
// unknown types.
std::string_view ReceivedTypeName(std::uint8_t type);

// Decodes the payload of a received frame into a record (header fields and
// the fields of its type). Never reads past `payload`.
PacketRecord DecodeRecord(std::uint8_t seq, std::uint8_t type, std::span<const std::uint8_t> payload);

// Cuts frames from a byte stream. Hunts for 0xFB, takes the length byte
// (2 … 100; anything else drops the candidate and hunting resumes with the
// next byte), then exactly that many bytes.
class FrameAssembler {
 public:
  // Feeds one byte; returns true when it completed a frame, which is then
  // available from frame() until the next call.
  bool Push(std::uint8_t byte) {
    switch (state_) {
      case State::Hunting:
        if (byte == kStartOfPacket) {
          frame_.bytes[0] = byte;
          state_ = State::Length;
        }
        return false;
      case State::Length:
        if (byte < 2 || byte > kMaxPacketLength) {
          state_ = State::Hunting;
          return false;
        }
        frame_.bytes[1] = byte;
        frame_.size = static_cast<std::size_t>(byte) + 2;
        fill_ = 2;
        state_ = State::Body;
        return false;
      case State::Body:
        frame_.bytes[fill_++] = byte;
        if (fill_ == frame_.size) {
          state_ = State::Hunting;
          return true;
        }
        return false;
    }
    return false;
  }

  // Feeds a block, calling onFrame(const Frame&) for every completed frame.
  template <typename F>
  void Feed(std::span<const std::uint8_t> bytes, F&& onFrame) {
    for (std::uint8_t b : bytes)
      if (Push(b)) onFrame(frame_);
  }

  const Frame& frame() const { return frame_; }
  // The bytes of the frame begun but not complete (empty while hunting).
  std::span<const std::uint8_t> Unfinished() const {
    if (state_ == State::Hunting) return {};
    return {frame_.bytes.data(), state_ == State::Length ? std::size_t{1} : fill_};
  }
  void Reset() { state_ = State::Hunting; }
  bool Idle() const { return state_ == State::Hunting; }

 private:
  enum class State : std::uint8_t { Hunting, Length, Body };
  State state_ = State::Hunting;
  std::size_t fill_ = 0;
  Frame frame_;
};

}  // namespace qmx

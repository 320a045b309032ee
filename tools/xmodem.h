// The bootloader dialogue's byte-level steps and its XMODEM transfers, free
// of any I/O of their own: bytes go through a ByteChannel, time comes from
// a TimeSource, progress is reported through a callback.
//
// The sender answers a receiver that starts with "C" with CRC-16 blocks;
// the receiver asks for checksum blocks and takes 128-byte (SOH) and
// 1,024-byte (STX) blocks in any mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "link/clock.h"
#include "tools/byte_channel.h"

namespace qmx {

// CRC-16 with polynomial 0x1021 and initial value 0 (high byte sent first).
std::uint16_t Crc16Xmodem(std::span<const std::uint8_t> bytes);

class Xmodem {
 public:
  static constexpr std::uint8_t kSoh = 0x01;
  static constexpr std::uint8_t kStx = 0x02;
  static constexpr std::uint8_t kEot = 0x04;
  static constexpr std::uint8_t kAck = 0x06;
  static constexpr std::uint8_t kNak = 0x15;
  static constexpr std::uint8_t kCan = 0x18;
  static constexpr std::uint8_t kCrcRequest = 'C';
  static constexpr std::uint8_t kPad = 0x1A;

  // Failure codes of Send() and Receive().
  static constexpr int kCancelled = -1;      // the peer sent CAN CAN
  static constexpr int kNoStart = -2;        // no transfer start or block start
  static constexpr int kTooManyRepeats = -3;  // receiver: 25 repeats of one block
  static constexpr int kBlockFailed = -4;    // sender: 25 writes of one block unanswered
  static constexpr int kNoEotAck = -5;       // sender: EOT never acknowledged

  using Progress = std::function<void(std::size_t bytes)>;

  Xmodem(ByteChannel& channel, TimeSource& clock, Progress progress = {})
      : channel_(channel), clock_(clock), progress_(std::move(progress)) {}

  // The next received byte within `timeoutMs`, or -1.
  int ReadByteTimed(int timeoutMs);
  // Reads with 1,500 ms time-outs until the line stays silent; the bytes
  // read are added to `kept` when it is given.
  void DrainInput(std::vector<std::uint8_t>* kept = nullptr);
  // Reads until every byte of `expected` has been seen in order (other
  // bytes in between are skipped) or a read times out; the first read waits
  // `firstMs`, later ones `nextMs`. Returns the number of bytes matched; the
  // prompt was received when that equals expected.size(). Bytes after a
  // complete match are left unread.
  int AwaitPrompt(std::string_view expected, int firstMs, int nextMs);

  // The number of bytes acknowledged (a multiple of 128), or a failure code.
  int Send(std::span<const std::uint8_t> data);
  // What the drain after Send()'s final EOT read: a receiver may answer the
  // transfer (the boot code's "OK" CR LF) before the line falls silent.
  const std::vector<std::uint8_t>& AfterEot() const { return afterEot_; }
  // The number of bytes stored in `buffer` (whole blocks, padding included,
  // up to its size), or a failure code.
  int Receive(std::span<std::uint8_t> buffer);

 private:
  bool Write(std::span<const std::uint8_t> bytes) { return channel_.Write(bytes); }
  void WriteByte(std::uint8_t b) { Write(std::span(&b, 1)); }
  void WriteCans();
  // After a CAN: true when a second CAN follows within 1,000 ms.
  bool SecondCan() { return ReadByteTimed(1000) == kCan; }
  // The sender's two ways out: the receiver cancelled (acknowledged, then
  // its input dropped), or the sender gives up with `code` (CAN CAN, then
  // the input dropped).
  int AcceptCancel();
  int GiveUp(int code);
  void Report(std::size_t bytes) {
    if (progress_) progress_(bytes);
  }

  ByteChannel& channel_;
  TimeSource& clock_;
  Progress progress_;
  std::vector<std::uint8_t> afterEot_;
};

// How many bytes of `expected` occur in order in `bytes`, other bytes in
// between skipped: AwaitPrompt's rule for bytes already read.
std::size_t PromptMatched(std::span<const std::uint8_t> bytes, std::string_view expected);

}  // namespace qmx

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
#include "link/result.h"
#include "link/byte_channel.h"
#include "link/xmodem_bytes.h"

namespace qmx {

// CRC-16 with polynomial 0x1021 and initial value 0 (high byte sent first).
std::uint16_t Crc16Xmodem(std::span<const std::uint8_t> bytes);

class Xmodem {
 public:
  using Progress = std::function<void(std::size_t bytes)>;

  Xmodem(ByteChannel& channel, TimeSource& clock, Progress progress = {})
      : channel_(channel), clock_(clock), progress_(std::move(progress)) {}

  // The next received byte within `timeoutMs`, or -1.
  int ReadByteTimed(int timeoutMs);
  // Reads with 1,500 ms time-outs until the line stays silent; the bytes
  // read are added to `kept` when it is given, and the drain ends as soon
  // as they hold every byte of a non-empty `until` in order.
  void DrainInput(std::vector<std::uint8_t>* kept = nullptr, std::string_view until = {});
  // Reads until every byte of `expected` has been seen in order (other
  // bytes in between are skipped) or a read times out; the first read waits
  // `firstMs`, later ones `nextMs`. Returns the number of bytes matched; the
  // prompt was received when that equals expected.size(). Bytes after a
  // complete match are left unread.
  int AwaitPrompt(std::string_view expected, int firstMs, int nextMs);

  // How Send() and Receive() fail: Cancelled when the peer sent CAN CAN;
  // NoReply when the transfer never started (16 waits), when one block was
  // written 25 times unacknowledged or EOT never acknowledged (sender), or
  // when the same block came 25 times over (receiver). A write that failed
  // on the way turns NoReply into the channel's failure (WriteFailed,
  // PortClosed) and its reason.

  // The number of bytes acknowledged (a multiple of 128).
  Result<std::size_t> Send(std::span<const std::uint8_t> data);
  // What the drain after Send()'s final EOT read: a receiver may answer the
  // transfer (the boot code's "OK" CR LF) before the line falls silent.
  const std::vector<std::uint8_t>& AfterEot() const { return afterEot_; }
  // The receiver's answer to the transfer (text that outlives the
  // transfers, such as a literal): once it has been read, the drain after
  // the final EOT ends without waiting for the line to fall silent.
  void SetAnswerAfterEot(std::string_view answer) { answerAfterEot_ = answer; }
  // The number of bytes stored in `buffer` (whole blocks, padding included,
  // up to its size).
  Result<std::size_t> Receive(std::span<std::uint8_t> buffer);

  // What the last transfer moved: bytes and blocks accepted, and blocks
  // written again (sender) or rejected and repeated (receiver).
  struct Counts {
    std::size_t bytes = 0;
    std::size_t blocks = 0;
    std::size_t retries = 0;
  };
  Counts Transferred() const { return counts_; }

 private:
  // What a received block turned out to be.
  enum class BlockRead { New, Repeat, Bad };

  // The first failed write of the transfer is kept.
  void Write(std::span<const std::uint8_t> bytes);
  void WriteByte(std::uint8_t b) { Write(std::span(&b, 1)); }
  void WriteCans();
  // After a CAN: true when a second CAN follows within 1,000 ms.
  bool SecondCan() { return ReadByteTimed(1000) == xmodem::kCan; }
  // A failure with `status`, unless a write failed: then the write's.
  Result<std::size_t> Failure(Status status) const;

  // Sender: the receiver's NAK or "C" (returned), a CAN CAN (kCan), or -1
  // after 16 waits.
  int AwaitSendStart();
  // Sender: writes `block` until it is acknowledged (kAck), the receiver
  // cancels (kCan) or 25 writes went unanswered (-1).
  int SendBlock(std::span<const std::uint8_t> block);
  // Sender: EOT until acknowledged (10 times at most), then the drain.
  Result<std::size_t> FinishSend(std::size_t acked);
  // The sender's two ways out: the receiver cancelled (acknowledged, then
  // its input dropped), or the sender gives up (CAN CAN, then the input
  // dropped).
  Result<std::size_t> AcceptCancel();
  Result<std::size_t> GiveUp();

  // Receiver: asks with `request` (when not 0) and waits for a block start;
  // the block's size, or 0 for an EOT (acknowledged); Cancelled (CAN CAN,
  // acknowledged) or NoReply (16 waits, then CAN CAN).
  Result<std::size_t> AwaitBlockStart(std::uint8_t request);
  // Receiver: the rest of a block of `data.size()` bytes, checked against
  // the number `expected`; any time-out rejects it.
  BlockRead ReadBlock(std::span<std::uint8_t> data, std::uint8_t expected);
  void Report(std::size_t bytes) {
    if (progress_) progress_(bytes);
  }

  ByteChannel& channel_;
  TimeSource& clock_;
  Progress progress_;
  Counts counts_;
  std::vector<std::uint8_t> afterEot_;
  std::string_view answerAfterEot_;
  Done writeFailure_;
};

// How many bytes of `expected` occur in order in `bytes`, other bytes in
// between skipped: AwaitPrompt's rule for bytes already read.
std::size_t PromptMatched(std::span<const std::uint8_t> bytes, std::string_view expected);

}  // namespace qmx

// The commands of protocol mode: each builds its frame with a fresh sequence
// number, logs it, writes it, waits for the matching reply and retransmits
// with a new sequence number when none comes in time. Every operation returns
// a Result (link/result.h): NoReply after the last retry, PortClosed when the
// port is gone, Refused when a remote radio's TX Status is not an
// acknowledgement, BadInput for a frame too large to build. Nothing is shown
// here; each caller shows its own message.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "link/packet.h"
#include "link/reply_wait.h"
#include "link/result.h"
#include "link/waiter.h"

namespace qmx {

class SerialTransport;
class PacketQueue;
class SequenceCounter;
class DataLog;

// The radio a command is for: the local one, or a remote radio at its
// network address. Never made from a bare number, so that no row number or
// index can pass for an address.
struct RadioAddress {
  std::optional<std::uint16_t> remote;  // absent: the local radio
  static RadioAddress Local() { return {}; }
  static RadioAddress Remote(std::uint16_t address) { return {address}; }
  // Remote at `address` when there is one, else local.
  static RadioAddress Of(std::optional<std::uint16_t> address) { return {address}; }
};

// Transmissions and good replies of remote register reads, kept by whoever
// wants a success rate (one per remote radio) and counted by the reads it is
// handed to: every retransmission is an attempt.
struct RemoteLinkStats {
  std::uint32_t attempts = 0;
  std::uint32_t successes = 0;
};

class CommandLayer {
 public:
  CommandLayer(SerialTransport& transport, PacketQueue& queue, SequenceCounter& seq, DataLog& log, Waiter& waiter);

  // One time-out for every reply, in place of each caller's own (qmxctl's
  // --timeout, for a slow link); 0 leaves the callers' time-outs. Retries
  // stay as each caller asks.
  void SetReplyTimeoutMs(double ms) { replyTimeoutMs_ = ms; }

  // Frames go out through `write` (the link session's gate) instead of
  // straight to the port; `may` says beforehand whether one may go now, so
  // that a refused frame is neither logged nor retried.
  void SetFrameGate(std::function<Done()> may, std::function<Done(std::span<const std::uint8_t>)> write) {
    mayWrite_ = std::move(may);
    write_ = std::move(write);
  }
  // Told, on the thread that ran the command, of each remote radio that
  // acknowledged one (a remote register command or TX Data) and of the
  // link quality of its answer. Set before any command runs.
  void SetRemoteReplyObserver(std::function<void(std::uint16_t address, std::uint8_t lqi)> observer) {
    remoteReplied_ = std::move(observer);
  }

  // Each command waits `wait.timeoutMs` for its reply and sends again, with a
  // new sequence number, up to `wait.retries` times.
  Done EnterProtocolMode(ReplyWait wait = kUsualReplyWait);
  Done ExitProtocolMode(ReplyWait wait = kUsualReplyWait);
  // The action-bank writes: Software Reset, Load Factory Defaults and Memory
  // Save of the local radio, or the same register written to a remote one
  // with Set Remote Register.
  Done SoftwareReset(RadioAddress radio = {});
  Done LoadFactoryDefaults(RadioAddress radio = {});
  Done MemorySave(ReplyWait wait = kUsualReplyWait, RadioAddress radio = {});
  // The reply's Span. A remote radio is asked with Get Remote Register at its
  // address (the record's NetworkAddress is set to it).
  Result<int> GetRegister(PacketRecord& rec, ReplyWait wait = kUsualReplyWait, RadioAddress radio = {},
                          RemoteLinkStats* tally = nullptr);
  Done SetRegister(PacketRecord& rec, ReplyWait wait = kUsualReplyWait, RadioAddress radio = {});
  // Succeeds whatever the reply's TxStatus; rec gets TxStatus and Lqi.
  Done TxData(PacketRecord& rec, ReplyWait wait = kUsualReplyWait);
  Done FactoryOverride(ReplyWait wait = kUsualReplyWait);
  // At the record's NetworkAddress; the reply's Span.
  Result<int> GetRemoteRegister(PacketRecord& rec, ReplyWait wait = kUsualReplyWait, RemoteLinkStats* tally = nullptr);
  Done SetRemoteRegister(PacketRecord& rec, ReplyWait wait = kUsualReplyWait);

  // Waits for the reply (seq, type): its Length and the record, or NoReply
  // after the time-out, PortClosed at once when the port is gone.
  Result<int> WaitForReply(std::uint8_t seq, std::uint8_t type, double timeoutMs, PacketRecord& out);

 private:
  struct Spec;
  Result<int> Transact(const Spec& spec, PacketRecord& rec, ReplyWait wait, RemoteLinkStats* tally = nullptr);
  Done Action(const Spec& local, std::uint8_t reg, std::uint8_t value, RadioAddress radio, ReplyWait wait);

  SerialTransport& transport_;
  PacketQueue& queue_;
  SequenceCounter& seq_;
  DataLog& log_;
  Waiter& waiter_;
  double replyTimeoutMs_ = 0;
  std::function<Done()> mayWrite_;
  std::function<Done(std::span<const std::uint8_t>)> write_;
  std::function<void(std::uint16_t, std::uint8_t)> remoteReplied_;
};

}  // namespace qmx

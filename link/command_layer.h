// The commands of protocol mode: each builds its frame with a fresh sequence
// number, logs it, writes it, waits for the matching reply and retransmits
// with a new sequence number when none comes in time. Results: -1 for
// failure, otherwise as documented per operation. Nothing is shown here; each
// caller shows its own message.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "link/packet.h"
#include "link/waiter.h"

namespace qmx {

class SerialTransport;
class PacketQueue;
class SequenceCounter;
class DataLog;

// Attempts and successes of remote register reads, per Poll I/O row 1 … 4.
struct RemoteLinkStats {
  std::uint32_t attempts = 0;
  std::uint32_t successes = 0;
};

class CommandLayer {
 public:
  static constexpr int kRemoteRows = 4;

  CommandLayer(SerialTransport& transport, PacketQueue& queue, SequenceCounter& seq, DataLog& log, Waiter& waiter);

  // Network address of Poll I/O row 1 … 4 (the row's address field as a
  // number). Unset: 0.
  void SetRowAddressSource(std::function<std::uint16_t(int row)> source) { rowAddress_ = std::move(source); }
  RemoteLinkStats& Stats(int row) { return stats_.at(static_cast<std::size_t>(row)); }
  // One time-out for every reply, in place of each caller's own (qmxctl's
  // --timeout, for a slow link); 0 leaves the callers' time-outs. Retries
  // stay as each caller asks.
  void SetReplyTimeoutMs(double ms) { replyTimeoutMs_ = ms; }

  int EnterProtocolMode(double timeoutMs, int retries);
  int ExitProtocolMode(double timeoutMs, int retries);
  int SoftwareReset(int remoteIndex);
  // Returns the reply's Span.
  int GetRegister(double timeoutMs, PacketRecord& rec, int retries, int remoteIndex);
  int SetRegister(double timeoutMs, PacketRecord& rec, int retries, int remoteIndex);
  // Returns 1 whatever the reply's TxStatus; rec gets TxStatus and Lqi.
  int TxData(double timeoutMs, PacketRecord& rec, int retries);
  int LoadFactoryDefaults(int remoteIndex);
  int MemorySave(double timeoutMs, int retries, int remoteIndex);
  int FactoryOverride(double timeoutMs, int retries);
  int GetRemoteRegister(double timeoutMs, PacketRecord& rec, int retries, int remoteIndex);
  int SetRemoteRegister(double timeoutMs, PacketRecord& rec, int retries);

  // Waits for the reply (seq, type): its Length and the record, or -1 after
  // the time-out, or at once when the port is gone.
  int WaitForReply(std::uint8_t seq, std::uint8_t type, double timeoutMs, PacketRecord& out);

 private:
  struct Spec;
  int Transact(const Spec& spec, PacketRecord& rec, double timeoutMs, int retries, int statsRow);
  std::uint16_t RowAddress(int row) const;

  SerialTransport& transport_;
  PacketQueue& queue_;
  SequenceCounter& seq_;
  DataLog& log_;
  Waiter& waiter_;
  std::function<std::uint16_t(int)> rowAddress_;
  std::array<RemoteLinkStats, kRemoteRows + 1> stats_{};
  double replyTimeoutMs_ = 0;
};

}  // namespace qmx

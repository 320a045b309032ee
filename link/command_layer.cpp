#include "link/command_layer.h"

#include <chrono>
#include <optional>

#include "link/data_log.h"
#include "link/frame.h"
#include "link/packet_queue.h"
#include "link/transport.h"

namespace qmx {

namespace {
constexpr std::string_view kSentPrefix = "Sent Data : ";
constexpr std::string_view kOverridePrefix = "Factory Override : ";
constexpr double kRemoteActionTimeoutMs = 2500.0;
// A reset is sent once: the radio restarts and may not answer.
constexpr ReplyWait kResetWait{1000.0, 0};
constexpr ReplyWait kDefaultsWait{kRemoteActionTimeoutMs, kUsualReplyWait.retries};

Done Outcome(const Result<int>& r) { return r ? Done{} : Done::From(r); }

// A one-byte write to the action bank.
PacketRecord ActionRecord(std::uint8_t reg, std::uint8_t value, std::uint16_t address = 0) {
  PacketRecord rec;
  rec.NetworkAddress = address;
  rec.Register = reg;
  rec.Bank = 0xFF;
  rec.Span = 1;
  rec.Data[0] = value;
  return rec;
}
}  // namespace

// What one operation sends and awaits.
struct CommandLayer::Spec {
  std::uint8_t type;
  std::string_view name;
  bool copyReply = false;           // the reply record replaces the caller's
  bool remote = false;              // a non-zero TxStatus fails the operation
  bool nameOnOwnLine = false;       // the hex piece ends its log line
  std::string_view firstPrefix = kSentPrefix;
};

CommandLayer::CommandLayer(SerialTransport& transport, PacketQueue& queue, SequenceCounter& seq, DataLog& log,
                           Waiter& waiter)
    : transport_(transport), queue_(queue), seq_(seq), log_(log), waiter_(waiter) {}

Result<int> CommandLayer::WaitForReply(std::uint8_t seq, std::uint8_t type, double timeoutMs, PacketRecord& out) {
  if (!(timeoutMs > 0)) return Result<int>::Fail(Status::NoReply);
  TimeSource& time = waiter_.Time();
  const auto deadline =
      time.Now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(timeoutMs));
  for (;;) {
    // Take the generation first: a reply stored after the look-up below
    // bumps it, so the wait cannot miss it.
    const std::uint64_t seen = waiter_.Generation();
    if (auto reply = queue_.Take(seq, type)) {
      out = *reply;
      return static_cast<int>(reply->Length);
    }
    if (!transport_.IsOpen()) return Result<int>::Fail(Status::PortClosed);
    if (time.Now() >= deadline) return Result<int>::Fail(Status::NoReply);
    waiter_.WaitUntil(seen, deadline);
  }
}

Result<int> CommandLayer::Transact(const Spec& spec, PacketRecord& rec, ReplyWait wait, RemoteLinkStats* tally) {
  const double timeoutMs = replyTimeoutMs_ > 0 ? replyTimeoutMs_ : wait.timeoutMs;
  int retries = wait.retries;
  std::uint8_t seq = seq_.NextSequenceNumber();
  std::optional<Frame> frame = BuildCommandFrame(spec.type, rec, seq);
  // Would exceed the largest frame: never built, nothing written.
  if (!frame) return Result<int>::Fail(Status::BadInput);
  const std::uint8_t replyType = static_cast<std::uint8_t>(spec.type + ptype::ReplyOffset);
  const std::uint16_t address = rec.NetworkAddress;
  std::string_view prefix = spec.firstPrefix;
  for (;;) {
    if (mayWrite_)
      if (Done may = mayWrite_(); !may) return Result<int>::From(may);
    // Anything still queued under this number answers an earlier command.
    queue_.DiscardSequence(seq);
    log_.LogFrame(prefix, {frame->data(), frame->size}, spec.name, spec.nameOnOwnLine);
    prefix = kSentPrefix;
    if (tally) ++tally->attempts;
    const std::span<const std::uint8_t> bytes{frame->data(), frame->size};
    if (Done written = write_ ? write_(bytes) : transport_.WritePort(bytes); !written)
      return Result<int>::From(written);

    PacketRecord reply;
    Result<int> got = WaitForReply(seq, replyType, timeoutMs, reply);
    if (got) {
      if (spec.copyReply) rec = reply;
      if (spec.remote && reply.TxStatus != txstatus::Acknowledged) {
        rec.Span = 0;
        return Result<int>::Fail(Status::Refused);
      }
      if (remoteReplied_ && (spec.remote || spec.type == ptype::TxData) && reply.TxStatus == txstatus::Acknowledged)
        remoteReplied_(address, reply.Lqi);
      if (tally) ++tally->successes;
      switch (spec.type) {
        case ptype::GetRegister:
        case ptype::GetRemoteRegister:
          return static_cast<int>(reply.Span);
        default:
          return 1;
      }
    }
    if (retries <= 0) return got;
    --retries;
    seq = seq_.NextSequenceNumber();
    frame->bytes[2] = seq;
  }
}

Done CommandLayer::EnterProtocolMode(ReplyWait wait) {
  static const Spec spec{ptype::EnterProtocolMode, "(Enter Protocol Mode)"};
  PacketRecord rec;
  return Outcome(Transact(spec, rec, wait));
}

Done CommandLayer::ExitProtocolMode(ReplyWait wait) {
  static const Spec spec{ptype::ExitProtocolMode, "(Exit Protocol Mode)", false, false, true};
  PacketRecord rec;
  return Outcome(Transact(spec, rec, wait));
}

// A one-byte write to the action bank: the local form as `local` names it,
// or Set Remote Register at the remote radio's address (which waits longer,
// for the trip through the air).
Done CommandLayer::Action(const Spec& local, std::uint8_t reg, std::uint8_t value, RadioAddress radio,
                          ReplyWait wait) {
  static const Spec remote{ptype::SetRemoteRegister, "(Set Remote Register)", false, true};
  PacketRecord rec = ActionRecord(reg, value, radio.remote.value_or(0));
  if (radio.remote) return Outcome(Transact(remote, rec, {kRemoteActionTimeoutMs, wait.retries}));
  return Outcome(Transact(local, rec, wait));
}

Done CommandLayer::SoftwareReset(RadioAddress radio) {
  static const Spec spec{ptype::SoftwareReset, "(Software Reset)"};
  return Action(spec, 0x00, 0x00, radio, kResetWait);
}

Done CommandLayer::LoadFactoryDefaults(RadioAddress radio) {
  static const Spec spec{ptype::SetRegister, "(Load Factory Defaults)"};
  return Action(spec, 0xFF, 0x00, radio, kDefaultsWait);
}

Done CommandLayer::MemorySave(ReplyWait wait, RadioAddress radio) {
  static const Spec spec{ptype::SetRegister, "(Memory Save)"};
  return Action(spec, 0xFF, 0x01, radio, wait);
}

Result<int> CommandLayer::GetRegister(PacketRecord& rec, ReplyWait wait, RadioAddress radio, RemoteLinkStats* tally) {
  if (radio.remote) {
    rec.NetworkAddress = *radio.remote;
    return GetRemoteRegister(rec, wait, tally);
  }
  static const Spec spec{ptype::GetRegister, "(Get Register)", true};
  return Transact(spec, rec, wait);
}

Done CommandLayer::SetRegister(PacketRecord& rec, ReplyWait wait, RadioAddress radio) {
  if (radio.remote) {
    rec.NetworkAddress = *radio.remote;
    return SetRemoteRegister(rec, wait);
  }
  static const Spec spec{ptype::SetRegister, "(Set Register)", true};
  return Outcome(Transact(spec, rec, wait));
}

Done CommandLayer::TxData(PacketRecord& rec, ReplyWait wait) {
  static const Spec spec{ptype::TxData, "(TX Data)", true};
  return Outcome(Transact(spec, rec, wait));
}

Done CommandLayer::FactoryOverride(ReplyWait wait) {
  PacketRecord rec = ActionRecord(0x6A, 0x6A);
  static const Spec spec{ptype::SetRegister, "(Factory Override)", false, false, false, kOverridePrefix};
  return Outcome(Transact(spec, rec, wait));
}

Result<int> CommandLayer::GetRemoteRegister(PacketRecord& rec, ReplyWait wait, RemoteLinkStats* tally) {
  static const Spec spec{ptype::GetRemoteRegister, "(Get Remote Register)", true, true};
  return Transact(spec, rec, wait, tally);
}

Done CommandLayer::SetRemoteRegister(PacketRecord& rec, ReplyWait wait) {
  static const Spec spec{ptype::SetRemoteRegister, "(Set Remote Register)", true, true};
  return Outcome(Transact(spec, rec, wait));
}

}  // namespace qmx

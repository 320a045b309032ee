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
constexpr double kResetTimeoutMs = 1000.0;

bool IsRemoteRow(int index) { return index >= 1 && index <= CommandLayer::kRemoteRows; }
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

std::uint16_t CommandLayer::RowAddress(int row) const { return rowAddress_ ? rowAddress_(row) : 0; }

int CommandLayer::WaitForReply(std::uint8_t seq, std::uint8_t type, double timeoutMs, PacketRecord& out) {
  if (!(timeoutMs > 0)) return -1;
  TimeSource& time = waiter_.Time();
  const auto deadline =
      time.Now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(timeoutMs));
  for (;;) {
    // Take the generation first: a reply stored after the look-up below
    // bumps it, so the wait cannot miss it.
    const std::uint64_t seen = waiter_.Generation();
    if (auto reply = queue_.Take(seq, type)) {
      out = *reply;
      return reply->Length;
    }
    if (!transport_.IsOpen() || time.Now() >= deadline) return -1;
    waiter_.WaitUntil(seen, deadline);
  }
}

int CommandLayer::Transact(const Spec& spec, PacketRecord& rec, double timeoutMs, int retries, int statsRow) {
  if (replyTimeoutMs_ > 0) timeoutMs = replyTimeoutMs_;
  std::uint8_t seq = seq_.NextSequenceNumber();
  std::optional<Frame> frame = BuildCommandFrame(spec.type, rec, seq);
  if (!frame) return -1;  // would exceed the largest frame: never built, nothing written
  const std::uint8_t replyType = static_cast<std::uint8_t>(spec.type + ptype::ReplyOffset);
  std::string_view prefix = spec.firstPrefix;
  for (;;) {
    // Anything still queued under this number answers an earlier command.
    queue_.DiscardSequence(seq);
    log_.LogFrame(prefix, {frame->data(), frame->size}, spec.name, spec.nameOnOwnLine);
    prefix = kSentPrefix;
    if (IsRemoteRow(statsRow)) ++Stats(statsRow).attempts;
    if (!transport_.WritePort({frame->data(), frame->size})) return -1;

    PacketRecord reply;
    if (WaitForReply(seq, replyType, timeoutMs, reply) >= 0) {
      if (spec.copyReply) rec = reply;
      if (spec.remote && reply.TxStatus != txstatus::Acknowledged) {
        rec.Span = 0;
        return -1;
      }
      if (IsRemoteRow(statsRow)) ++Stats(statsRow).successes;
      switch (spec.type) {
        case ptype::GetRegister:
        case ptype::GetRemoteRegister:
          return reply.Span;
        default:
          return 1;
      }
    }
    if (retries <= 0) return -1;
    --retries;
    seq = seq_.NextSequenceNumber();
    frame->bytes[2] = seq;
  }
}

int CommandLayer::EnterProtocolMode(double timeoutMs, int retries) {
  static const Spec spec{ptype::EnterProtocolMode, "(Enter Protocol Mode)"};
  PacketRecord rec;
  return Transact(spec, rec, timeoutMs, retries, 0);
}

int CommandLayer::ExitProtocolMode(double timeoutMs, int retries) {
  static const Spec spec{ptype::ExitProtocolMode, "(Exit Protocol Mode)", false, false, true};
  PacketRecord rec;
  return Transact(spec, rec, timeoutMs, retries, 0);
}

int CommandLayer::SoftwareReset(int remoteIndex) {
  if (IsRemoteRow(remoteIndex)) {
    PacketRecord rec;
    rec.NetworkAddress = RowAddress(remoteIndex);
    rec.Register = 0x00;
    rec.Bank = 0xFF;
    rec.Span = 1;
    rec.Data[0] = 0x00;
    static const Spec spec{ptype::SetRemoteRegister, "(Set Remote Register)", false, true};
    return Transact(spec, rec, kRemoteActionTimeoutMs, 0, 0);
  }
  if (remoteIndex != 0) return -1;
  static const Spec spec{ptype::SoftwareReset, "(Software Reset)"};
  PacketRecord rec;
  return Transact(spec, rec, kResetTimeoutMs, 0, 0);
}

int CommandLayer::GetRegister(double timeoutMs, PacketRecord& rec, int retries, int remoteIndex) {
  if (IsRemoteRow(remoteIndex)) return GetRemoteRegister(timeoutMs, rec, retries, remoteIndex);
  if (remoteIndex != 0) return -1;
  static const Spec spec{ptype::GetRegister, "(Get Register)", true};
  return Transact(spec, rec, timeoutMs, retries, 0);
}

int CommandLayer::SetRegister(double timeoutMs, PacketRecord& rec, int retries, int remoteIndex) {
  if (IsRemoteRow(remoteIndex)) return SetRemoteRegister(timeoutMs, rec, retries);
  if (remoteIndex != 0) return -1;
  static const Spec spec{ptype::SetRegister, "(Set Register)", true};
  return Transact(spec, rec, timeoutMs, retries, 0);
}

int CommandLayer::TxData(double timeoutMs, PacketRecord& rec, int retries) {
  static const Spec spec{ptype::TxData, "(TX Data)", true};
  return Transact(spec, rec, timeoutMs, retries, 0);
}

namespace {
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

int CommandLayer::LoadFactoryDefaults(int remoteIndex) {
  if (IsRemoteRow(remoteIndex)) {
    PacketRecord rec = ActionRecord(0xFF, 0x00, RowAddress(remoteIndex));
    static const Spec spec{ptype::SetRemoteRegister, "(Set Remote Register)", false, true};
    return Transact(spec, rec, kRemoteActionTimeoutMs, 3, 0);
  }
  if (remoteIndex != 0) return -1;
  PacketRecord rec = ActionRecord(0xFF, 0x00);
  static const Spec spec{ptype::SetRegister, "(Load Factory Defaults)"};
  return Transact(spec, rec, kRemoteActionTimeoutMs, 3, 0);
}

int CommandLayer::MemorySave(double timeoutMs, int retries, int remoteIndex) {
  if (IsRemoteRow(remoteIndex)) {
    PacketRecord rec = ActionRecord(0xFF, 0x01, RowAddress(remoteIndex));
    static const Spec spec{ptype::SetRemoteRegister, "(Set Remote Register)", false, true};
    return Transact(spec, rec, kRemoteActionTimeoutMs, retries, 0);
  }
  if (remoteIndex != 0) return -1;
  PacketRecord rec = ActionRecord(0xFF, 0x01);
  static const Spec spec{ptype::SetRegister, "(Memory Save)"};
  return Transact(spec, rec, timeoutMs, retries, 0);
}

int CommandLayer::FactoryOverride(double timeoutMs, int retries) {
  PacketRecord rec = ActionRecord(0x6A, 0x6A);
  static const Spec spec{ptype::SetRegister, "(Factory Override)", false, false, false, kOverridePrefix};
  return Transact(spec, rec, timeoutMs, retries, 0);
}

int CommandLayer::GetRemoteRegister(double timeoutMs, PacketRecord& rec, int retries, int remoteIndex) {
  static const Spec spec{ptype::GetRemoteRegister, "(Get Remote Register)", true, true};
  return Transact(spec, rec, timeoutMs, retries, remoteIndex);
}

int CommandLayer::SetRemoteRegister(double timeoutMs, PacketRecord& rec, int retries) {
  static const Spec spec{ptype::SetRemoteRegister, "(Set Remote Register)", true, true};
  return Transact(spec, rec, timeoutMs, retries, 0);
}

}  // namespace qmx

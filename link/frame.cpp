#include "link/frame.h"

#include <algorithm>
#include <cstring>

namespace qmx {

std::uint8_t SequenceAfter(std::uint8_t last) { return last >= 127 ? 0 : static_cast<std::uint8_t>(last + 1); }

std::uint8_t SequenceCounter::NextSequenceNumber() {
  // 1 … 127, then 0: advance atomically so that two threads never get the
  // same number.
  std::uint8_t current = value_.load();
  std::uint8_t next;
  do {
    next = SequenceAfter(current);
  } while (!value_.compare_exchange_weak(current, next));
  return next;
}

namespace {

// Appends bytes to a frame under construction; remembers when it ran out of
// room so that the caller can refuse the frame.
class FrameWriter {
 public:
  explicit FrameWriter(std::uint8_t seq, std::uint8_t type) {
    frame_.bytes[0] = kStartOfPacket;
    frame_.bytes[2] = seq;
    frame_.bytes[3] = type;
    frame_.size = 4;
  }
  void Byte(std::uint8_t b) {
    if (frame_.size >= kMaxFrame) {
      overflow_ = true;
      return;
    }
    frame_.bytes[frame_.size++] = b;
  }
  void Bytes(const std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    if (count > kMaxFrame - frame_.size) {
      overflow_ = true;
      return;
    }
    std::memcpy(frame_.bytes.data() + frame_.size, data, count);
    frame_.size += count;
  }
  void Address(std::uint16_t address) {
    Byte(static_cast<std::uint8_t>(address & 0xFF));
    Byte(static_cast<std::uint8_t>(address >> 8));
  }
  std::optional<Frame> Finish() {
    if (overflow_ || frame_.size - 2 > kMaxPacketLength) return std::nullopt;
    frame_.bytes[1] = static_cast<std::uint8_t>(frame_.size - 2);
    return frame_;
  }

 private:
  Frame frame_;
  bool overflow_ = false;
};

// Register data of a Set Register: Span bytes, which must fit in Data.
bool SpanFits(const PacketRecord& rec) { return rec.Span <= kRecordDataSize; }

}  // namespace

std::optional<Frame> BuildCommandFrame(std::uint8_t type, const PacketRecord& rec, std::uint8_t seq) {
  FrameWriter w(seq, type);
  switch (type) {
    case ptype::EnterProtocolMode:
      w.Bytes(reinterpret_cast<const std::uint8_t*>(kModelName), sizeof(kModelName) - 1);
      break;
    case ptype::ExitProtocolMode:
    case ptype::SoftwareReset:
      break;
    case ptype::GetRegister:
      w.Byte(rec.Register);
      w.Byte(rec.Bank);
      w.Byte(rec.Span);
      break;
    case ptype::SetRegister:
      if (!SpanFits(rec)) return std::nullopt;
      w.Byte(rec.Register);
      w.Byte(rec.Bank);
      w.Byte(rec.Span);
      w.Bytes(rec.Data.data(), rec.Span);
      break;
    case ptype::TxData:
      if (rec.Length > kRecordDataSize) return std::nullopt;
      w.Address(rec.NetworkAddress);
      w.Bytes(rec.Data.data(), rec.Length);
      break;
    case ptype::GetRemoteRegister:
      w.Address(rec.NetworkAddress);
      w.Byte(rec.Register);
      w.Byte(rec.Bank);
      w.Byte(rec.Span);
      break;
    case ptype::SetRemoteRegister:
      if (!SpanFits(rec)) return std::nullopt;
      w.Address(rec.NetworkAddress);
      w.Byte(rec.Register);
      w.Byte(rec.Bank);
      w.Byte(rec.Span);
      w.Bytes(rec.Data.data(), rec.Span);
      break;
    default:
      return std::nullopt;
  }
  return w.Finish();
}

std::optional<Frame> BuildFrame(std::uint8_t seq, std::uint8_t type, std::span<const std::uint8_t> payload) {
  if (payload.size() > kMaxPayload) return std::nullopt;
  FrameWriter w(seq, type);
  w.Bytes(payload.data(), payload.size());
  return w.Finish();
}

std::string_view ReceivedTypeName(std::uint8_t type) {
  switch (type) {
    case ptype::EnterProtocolModeReply:
      return "(Enter Protocol Mode Reply)";
    case ptype::ExitProtocolModeReply:
      return "(Exit Protocol Mode Reply)";
    case ptype::SoftwareResetReply:
      return "(Software Reset Reply)";
    case ptype::GetRegisterReply:
      return "(Get Register Reply)";
    case ptype::SetRegisterReply:
      return "(Set Register Reply)";
    case ptype::TxDataReply:
      return "(TX Data Reply)";
    case ptype::GetRemoteRegisterReply:
      return "(Get Remote Register Reply)";
    case ptype::SetRemoteRegisterReply:
      return "(Set Remote Register Reply)";
    case ptype::RxData:
      return "(RX Data)";
    case ptype::Announce:
      return "(Announce)";
    case ptype::RxEvent:
      return "(RX Event)";
    default:
      return {};
  }
}

namespace {

// Reads payload fields in order; bytes beyond the payload read as 0.
class PayloadReader {
 public:
  explicit PayloadReader(std::span<const std::uint8_t> payload) : payload_(payload) {}
  std::uint8_t Byte() {
    std::uint8_t b = pos_ < payload_.size() ? payload_[pos_] : 0;
    ++pos_;
    return b;
  }
  std::uint16_t Address() {
    std::uint8_t lo = Byte();
    std::uint8_t hi = Byte();
    return static_cast<std::uint16_t>(lo | (hi << 8));
  }
  // Copies up to `count` of the remaining bytes into `out`; returns how many.
  std::size_t Copy(std::uint8_t* out, std::size_t count, std::size_t room) {
    std::size_t left = pos_ < payload_.size() ? payload_.size() - pos_ : 0;
    std::size_t n = std::min({count, left, room});
    if (n > 0) std::memcpy(out, payload_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  std::size_t Remaining() const { return pos_ < payload_.size() ? payload_.size() - pos_ : 0; }

 private:
  std::span<const std::uint8_t> payload_;
  std::size_t pos_ = 0;
};

}  // namespace

PacketRecord DecodeRecord(std::uint8_t seq, std::uint8_t type, std::span<const std::uint8_t> payload) {
  PacketRecord rec;
  rec.Length = static_cast<std::uint8_t>(std::min<std::size_t>(payload.size(), 255));
  rec.SequenceNumber = seq;
  rec.PacketType = type;
  PayloadReader r(payload);
  switch (type) {
    case ptype::GetRegisterReply:
      rec.Register = r.Byte();
      rec.Bank = r.Byte();
      rec.Span = r.Byte();
      // A reply that carries fewer data bytes than its Span claims reports
      // only the bytes it carries, so that nobody takes absent bytes as data.
      rec.Span = static_cast<std::uint8_t>(r.Copy(rec.Data.data(), rec.Span, rec.Data.size()));
      break;
    case ptype::TxDataReply:
      rec.TxStatus = r.Byte();
      rec.Lqi = r.Byte();
      break;
    case ptype::GetRemoteRegisterReply:
      rec.TxStatus = r.Byte();
      rec.NetworkAddress = r.Address();
      rec.Lqi = r.Byte();
      rec.Register = r.Byte();
      rec.Bank = r.Byte();
      rec.Span = r.Byte();
      rec.Span = static_cast<std::uint8_t>(r.Copy(rec.Data.data(), rec.Span, rec.Data.size()));
      break;
    case ptype::SetRemoteRegisterReply:
      rec.TxStatus = r.Byte();
      rec.NetworkAddress = r.Address();
      rec.Lqi = r.Byte();
      break;
    case ptype::RxData:
    case ptype::RxEvent:
      rec.NetworkAddress = r.Address();
      rec.Lqi = r.Byte();
      // The data are what follows the three header bytes; a payload shorter
      // than those has none.
      rec.Length = static_cast<std::uint8_t>(r.Copy(rec.Data.data(), r.Remaining(), rec.Data.size()));
      break;
    default:
      break;
  }
  return rec;
}

}  // namespace qmx

// The protocol frame of the QMX2400 in protocol mode and the record a frame
// decodes into. Plain C++, shared by the program, the tools and the simulator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qmx {

inline constexpr std::uint8_t kStartOfPacket = 0xFB;
// Largest Packet Length byte accepted on the wire: Sequence Number, Packet
// Type and at most 98 payload bytes.
inline constexpr std::size_t kMaxPacketLength = 100;
inline constexpr std::size_t kMaxPayload = kMaxPacketLength - 2;
inline constexpr std::size_t kMaxFrame = kMaxPacketLength + 2;
inline constexpr std::size_t kRecordDataSize = 100;

// The seven characters that open protocol mode.
inline constexpr char kModelName[] = "QMX2400";

namespace ptype {
// Commands, program to radio.
inline constexpr std::uint8_t EnterProtocolMode = 0x00;
inline constexpr std::uint8_t ExitProtocolMode = 0x01;
inline constexpr std::uint8_t SoftwareReset = 0x02;
inline constexpr std::uint8_t GetRegister = 0x03;
inline constexpr std::uint8_t SetRegister = 0x04;
inline constexpr std::uint8_t TxData = 0x05;
inline constexpr std::uint8_t GetRemoteRegister = 0x0A;
inline constexpr std::uint8_t SetRemoteRegister = 0x0B;
// A reply's type is its command's type plus this.
inline constexpr std::uint8_t ReplyOffset = 0x10;
inline constexpr std::uint8_t EnterProtocolModeReply = 0x10;
inline constexpr std::uint8_t ExitProtocolModeReply = 0x11;
inline constexpr std::uint8_t SoftwareResetReply = 0x12;
inline constexpr std::uint8_t GetRegisterReply = 0x13;
inline constexpr std::uint8_t SetRegisterReply = 0x14;
inline constexpr std::uint8_t TxDataReply = 0x15;
inline constexpr std::uint8_t GetRemoteRegisterReply = 0x1A;
inline constexpr std::uint8_t SetRemoteRegisterReply = 0x1B;
// Asynchronous, radio to program.
inline constexpr std::uint8_t RxData = 0x26;
inline constexpr std::uint8_t Announce = 0x27;
inline constexpr std::uint8_t RxEvent = 0x28;
}  // namespace ptype

// TX Status of a TX Data or remote register reply (a code table, one code a line).
namespace txstatus {
inline constexpr std::uint8_t Acknowledged = 0;
inline constexpr std::uint8_t NoAcknowledgement = 1;
inline constexpr std::uint8_t NotLinked = 2;

// What a status means, as the program says it; empty for an unknown one.
constexpr std::string_view Meaning(std::uint8_t status) {
  switch (status) {
    case Acknowledged:
      return "acknowledged";
    case NoAcknowledgement:
      return "no acknowledgement";
    case NotLinked:
      return "not linked";
    default:
      return {};
  }
}
}  // namespace txstatus

// One decoded frame; also the parameter and result block of every command.
struct PacketRecord {
  std::uint8_t Length = 0;  // payload length; for TXData the data count
  std::uint8_t SequenceNumber = 0;
  std::uint8_t PacketType = 0;
  std::uint8_t Register = 0;
  std::uint8_t Bank = 0;
  std::uint8_t Span = 0;
  std::uint16_t NetworkAddress = 0;
  std::uint8_t TxStatus = 0;
  std::uint8_t Lqi = 0;
  std::array<std::uint8_t, kRecordDataSize> Data{};
};

// A complete frame as bytes: 0xFB, Packet Length, Sequence Number, Packet Type,
// payload.
struct Frame {
  std::array<std::uint8_t, kMaxFrame> bytes{};
  std::size_t size = 0;

  const std::uint8_t* data() const { return bytes.data(); }
  std::uint8_t sequence() const { return bytes[2]; }
  std::uint8_t type() const { return bytes[3]; }
  const std::uint8_t* payload() const { return bytes.data() + 4; }
  std::size_t payloadSize() const { return size >= 4 ? size - 4 : 0; }
};

}  // namespace qmx

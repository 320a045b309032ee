#include "link/decoder.h"

#include <algorithm>
#include <ctime>

#include "link/frame.h"
#include "link/number_text.h"
#include "link/packet_queue.h"

namespace qmx {

std::string NetworkAddressText(std::uint16_t address) { return HexText(address, 4); }

std::string TimestampText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[64] = "";
  char time[64] = "";
  std::strftime(date, sizeof date, "%x", &local);
  std::strftime(time, sizeof time, "%X", &local);
  return std::string(date) + "  |  " + time;
}

namespace {

// Payload bytes by index; bytes the payload does not have read as 0.
struct PayloadBytes {
  std::span<const std::uint8_t> bytes;
  std::uint8_t operator[](std::size_t i) const { return i < bytes.size() ? bytes[i] : 0; }
  std::uint16_t Word(std::size_t lo) const {
    return static_cast<std::uint16_t>((*this)[lo] | ((*this)[lo + 1] << 8));
  }
};

// The remote's MAC address of a join announce: bytes 8 down to 1.
std::string MacText(const PayloadBytes& p) {
  std::string text;
  for (std::size_t i = 8; i >= 1; --i) {
    if (!text.empty()) text += ':';
    text += Hex2(p[i]);
  }
  return text;
}

std::string DataText(std::span<const std::uint8_t> data) {
  // "Data={", the bytes with a space between them, "}".
  std::string text(6 + data.size() * 3 + (data.empty() ? 1 : 0), '}');
  text.replace(0, 6, "Data={");
  PutHexBytes(text.data() + 6, data);
  text.back() = '}';  // in place of the last byte's space
  return text;
}

// The module's error announcements, shown in red.
struct ErrorText {
  std::uint8_t code;
  const char* text;
};
constexpr ErrorText kErrorTexts[] = {
    {0xE0, "Protocol Error -- invalid packet type"},
    {0xE1, "Protocol Error -- invalid argument"},
    {0xE2, "Protocol Error -- general error"},
    {0xE3, "Protocol Error -- parser timeout"},
    {0xE4, "Protocol Error -- register is read-only"},
    {0xE5, "Routing Error -- unknown destination address"},
    {0xE8, "UART receive buffer overflow"},
    {0xE9, "UART receive overrun"},
    {0xEA, "UART framing error"},
};

const char* ErrorAnnouncement(std::uint8_t code) {
  for (const ErrorText& e : kErrorTexts)
    if (e.code == code) return e.text;
  return "Unknown Packet.";
}

}  // namespace

EventBlock PacketDecoder::AnnounceText(std::span<const std::uint8_t> payload) {
  const PayloadBytes p{payload};
  EventBlock b;
  switch (p[0]) {
    case 0xA0:
      b.colour = TextColour::Green;
      b.lines.emplace_back("Radio has completed startup initialization.");
      break;
    case 0xA1:
      b.colour = TextColour::Green;
      b.lines.emplace_back("Base:  PAN has been formed, ready for data.");
      b.lines.push_back("PANID : " + HexText(p.Word(1), 4));
      break;
    case 0xA2:
      b.lines.emplace_back("Base:  A remote has joined our PAN.  ");
      b.lines.push_back("The remote MAC Address is : " + MacText(p) + ".  " + "The remote Network Address is : " +
                        HexText(p.Word(9), 4) + ".");
      break;
    case 0xA3:
      b.lines.emplace_back("Remote:  Joined a PAN, ready for PAN");
      b.lines.push_back("The PANID is : " + HexText(p.Word(1), 4) + ".  " + "Network Address is : " + HexText(p.Word(3), 4));
      break;
    case 0xA4:
      b.lines.emplace_back("Remote:  Exited PAN");
      break;
    case 0xA5:
      b.lines.emplace_back("Base: Node has left network");
      b.lines.push_back("Network Address is : " + HexText(p.Word(1), 4));
      break;
    case 0xA7:
      b.lines.emplace_back("Base: A PANID conflict was detected");
      b.lines.push_back("PANID is : " + HexText(p.Word(3), 4) + ".  " + "Channel is : " + HexText(p[5], 2));
      break;
    default:
      b.colour = TextColour::Red;
      b.lines.emplace_back(ErrorAnnouncement(p[0]));
      break;
  }
  return b;
}

Announcement DecodeAnnouncement(std::span<const std::uint8_t> payload) {
  const PayloadBytes p{payload};
  Announcement a;
  a.code = p[0];
  std::string first = PacketDecoder::AnnounceText(payload).lines.front();
  first.erase(first.find_last_not_of(' ') + 1);
  a.text = std::move(first);
  switch (a.code) {
    case 0xA0:
    case 0xA4:
      break;
    case 0xA1:
      a.panId = p.Word(1);
      break;
    case 0xA2:
      a.mac = MacText(p);
      a.address = p.Word(9);
      break;
    case 0xA3:
      a.panId = p.Word(1);
      a.address = p.Word(3);
      break;
    case 0xA5:
      a.address = p.Word(1);
      break;
    case 0xA7:
      a.panId = p.Word(3);
      a.channel = p[5];
      break;
    default:
      a.error = true;
      break;
  }
  return a;
}

PacketDecoder::PacketDecoder(PacketQueue& queue, ViewSink& sink)
    : queue_(queue), sink_(sink), timestamp_(TimestampText) {}

void PacketDecoder::DecodePacket(const Frame& frame) {
  if (frame.size < 4) return;
  const std::span<const std::uint8_t> payload(frame.payload(), std::min(frame.payloadSize(), kMaxPayload));
  const std::uint8_t type = frame.type();
  switch (type) {
    case ptype::EnterProtocolModeReply:
    case ptype::ExitProtocolModeReply:
    case ptype::SoftwareResetReply:
    case ptype::GetRegisterReply:
    case ptype::SetRegisterReply:
    case ptype::TxDataReply:
    case ptype::GetRemoteRegisterReply:
    case ptype::SetRemoteRegisterReply:
      queue_.Store(DecodeRecord(frame.sequence(), type, payload), true);
      break;
    case ptype::RxData: {
      const PacketRecord rec = DecodeRecord(frame.sequence(), type, payload);
      sink_.ReceivedData(rec.NetworkAddress, rec.Lqi, std::span<const std::uint8_t>(rec.Data.data(), rec.Length));
      break;
    }
    case ptype::Announce: {
      sink_.Announced(DecodeAnnouncement(payload));
      EventBlock block = AnnounceText(payload);
      // The time stamp still comes in the colour of the previous lines.
      block.lines.insert(block.lines.begin(), timestamp_());
      block.colourAt = 1;
      block.lines.emplace_back();
      sink_.EventText(block);
      if (PayloadBytes{payload}[0] == 0xA2) sink_.RemoteJoined(PayloadBytes{payload}.Word(9));
      break;
    }
    case ptype::RxEvent: {
      const PacketRecord rec = DecodeRecord(frame.sequence(), type, payload);
      const std::span<const std::uint8_t> data(rec.Data.data(), rec.Length);
      EventBlock block;
      block.lines.push_back(timestamp_());
      block.lines.push_back("Received Event from " + NetworkAddressText(rec.NetworkAddress));
      block.lines.push_back(DataText(data));
      block.lines.emplace_back();
      sink_.EventText(block);
      sink_.IoEvent(rec.NetworkAddress, data);
      break;
    }
    default:
      break;
  }
}

}  // namespace qmx

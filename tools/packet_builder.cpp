#include "tools/packet_builder.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "link/command_layer.h"
#include "link/failure_text.h"
#include "link/number_text.h"

namespace qmx {

namespace {

// One command of the OP Code list.
struct Choice {
  std::string_view text;
  std::uint8_t type;
  std::uint8_t fixedLength;  // Packet Length without data bytes
  // Packet Length, without the Span data bytes, of the frame that carries
  // them: the command itself for a write, its reply for a read; 0 without a
  // Span.
  std::uint8_t spanFrameLength;
  bool sendsValue;
  bool sendsRegister;  // Register, Bank and Span
  bool sendsAddress;
  Operation operation;  // its failure's texts: link/failure_text.h
  std::string_view success;
};

const std::array<Choice, kPacketChoices> kChoices{{
    {"Enter Protocol Mode (0x00)", ptype::EnterProtocolMode, 9, 0, false, false, false,
     Operation::EnterProtocolMode, "Entered Protocol Mode Successfully."},
    {"Exit Protocol Mode (0x01)", ptype::ExitProtocolMode, 2, 0, false, false, false,
     Operation::ExitProtocolMode, "Exited Protocol Mode Successfully."},
    {"Software Reset (0x02)", ptype::SoftwareReset, 2, 0, false, false, false,
     Operation::SoftwareReset, "Reset Radio Successfully."},
    {"Get Register (0x03)", ptype::GetRegister, 5, 5, false, true, false,
     Operation::GetRegister, "Get Register Successful."},
    {"Set Register (0x04)", ptype::SetRegister, 5, 5, true, true, false,
     Operation::SetRegister, "Set Register Successful."},
    {"TXData (0x05)", ptype::TxData, 4, 0, true, false, true,
     Operation::TxData, "TX Data Successful."},
    {"Get Remote Register (0x0A)", ptype::GetRemoteRegister, 7, 9, false, true, true,
     Operation::GetRemoteRegister, "Get Remote Register Successful."},
    {"Set Remote Register (0x0B)", ptype::SetRemoteRegister, 7, 7, true, true, true,
     Operation::SetRemoteRegister, "Set Remote Register Successful."},
}};

constexpr std::array<std::string_view, kReplyChoices> kReplyTexts{
    "Enter Protocl Mode (0x10)",      "Exit Protocol Mode (0x11)",        "Software Reset Reply (0x12)",
    "Get Register Reply (0x13)",      "Set Register Reply (0x14)",        "TX Data Reply (0x15)",
    "Get Remote Register Reply (0x1A)", "Set Remote Register Reply (0x1B)", "RX Data (0x26)",
    "Announce (0x27)",                "RX Event (0x28)"};

bool Listed(int choice) { return choice >= 0 && choice < kPacketChoices; }
const Choice& ChoiceAt(int choice) { return kChoices[static_cast<std::size_t>(choice)]; }

// A network address as the frame carries it: low byte, then high byte.
std::string WireAddressText(std::uint16_t address) {
  return "0x" + Hex2(static_cast<std::uint8_t>(address & 0xFF)) + Hex2(static_cast<std::uint8_t>(address >> 8));
}

// The frame byte of a typed number: its low eight bits, 0 when not a number.
std::uint8_t LowByte(const std::string& text) { return static_cast<std::uint8_t>(TextToInt(text)); }

// "1 byte", "2 bytes".
std::string Bytes(std::size_t count, std::string_view what = "byte") {
  return std::to_string(count) + " " + std::string(what) + (count == 1 ? "" : "s");
}

// The Span data bytes of a reply, two hex digits each, joined by `separator`.
std::string ReplyDataBytes(const PacketRecord& rec, std::string_view separator) {
  const std::size_t span = std::min<std::size_t>(rec.Span, rec.Data.size());
  std::string out;
  for (std::size_t i = 0; i < span; ++i) {
    if (i > 0) out += separator;
    out += Hex2(rec.Data[i]);
  }
  return out;
}

}  // namespace

std::string_view PacketChoiceText(int choice) { return Listed(choice) ? ChoiceAt(choice).text : std::string_view{}; }

std::string_view ReplyChoiceText(int index) {
  return index >= 0 && index < kReplyChoices ? kReplyTexts[static_cast<std::size_t>(index)] : std::string_view{};
}

std::string PacketHex(std::uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", value);
  return buf;
}

PacketFieldsShown FieldsShownFor(int choice) {
  PacketFieldsShown s;
  switch (choice) {
    case 0:
    case 1:
    case 2:
      s.registerBankSpan = s.value = false;
      s.rawRegisterBankSpan = s.replyRegisterBankSpan = false;
      s.rawData = choice == 0;
      break;
    case 3:
      s.value = s.rawData = false;
      s.replyData = true;
      break;
    case 4:
      s.replyRegisterBankSpan = false;
      break;
    case 5:
      s.networkAddress = s.rawNetworkAddress = true;
      s.registerBankSpan = s.rawRegisterBankSpan = false;
      s.replyTxStatus = s.replyLqi = true;
      s.replyRegisterBankSpan = false;
      break;
    case 6:
      s.networkAddress = s.rawNetworkAddress = true;
      s.replyTxStatus = s.replyNetworkAddress = s.replyLqi = true;
      s.value = s.rawData = false;
      s.replyData = true;
      break;
    case 7:
      s.replyRegisterBankSpan = false;
      s.networkAddress = s.rawNetworkAddress = true;
      s.replyTxStatus = s.replyNetworkAddress = s.replyLqi = true;
      break;
    default:
      break;
  }
  return s;
}

std::vector<std::string_view> ValueTokens(std::string_view value) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < value.size()) {
    if (value[i] == ' ') {
      ++i;
      continue;
    }
    const std::size_t end = std::min(value.find(' ', i), value.size());
    tokens.push_back(value.substr(i, end - i));
    i = end;
  }
  return tokens;
}

std::size_t MaxValueBytes(int choice) {
  if (!Listed(choice) || !ChoiceAt(choice).sendsValue) return 0;
  return kMaxPacketLength - ChoiceAt(choice).fixedLength;
}

std::size_t MaxSpan(int choice) {
  if (!Listed(choice) || ChoiceAt(choice).spanFrameLength == 0) return 0;
  return kMaxPacketLength - ChoiceAt(choice).spanFrameLength;
}

namespace {

// The first refusal of a plan stands.
void Refuse(PacketPlan& plan, PacketMessage message) {
  if (!plan.refusal) plan.refusal = std::move(message);
}

// The first note of a plan stands too: the Value's before the Span's.
void Note(PacketPlan& plan, std::string text) {
  if (plan.note.empty()) plan.note = std::move(text);
}

// The typed Value bytes: the record's data, its length and the frame's
// data count; too many or unreadable bytes are refused.
void PlanValue(PacketPlan& plan, int choice, const std::vector<std::string_view>& tokens) {
  PacketRecord& rec = plan.record;
  std::optional<std::string_view> notAByte;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    // One or two hex digits: "1FF" is not sent as FF, nor "zz" as 00.
    const std::optional<std::uint8_t> byte = HexByte(tokens[i]);
    if (!byte && !notAByte) notAByte = tokens[i];
    if (i < rec.Data.size()) rec.Data[i] = byte.value_or(0);
  }
  const std::size_t most = MaxValueBytes(choice);
  if (notAByte) {
    Refuse(plan, {"Invalid data.  Please check data and try again.", "Invalid Data"});
    Note(plan, NotAByteText(*notAByte));
  }
  if (tokens.size() > most)
    Refuse(plan,
           {"Too much data.  This packet carries at most " + std::to_string(most) + " data bytes.", "Invalid Data"});
  rec.Length = static_cast<std::uint8_t>(std::min(tokens.size(), most));
  plan.dataCount = ChoiceAt(choice).spanFrameLength != 0 ? std::min<std::size_t>(rec.Span, rec.Data.size())
                                                          : rec.Length;
}

// Register, Bank and Span, each refused with its own message; a Span that
// no frame carries is refused, and one that differs from the `typed` value
// bytes noted.
void PlanRegister(PacketPlan& plan, int choice, const PacketFields& fields, std::size_t typed) {
  for (const auto& [text, name] : {std::pair{&fields.registerText, "Register"}, std::pair{&fields.bankText, "Bank"},
                                   std::pair{&fields.spanText, "Span"}}) {
    std::int32_t number = 0;
    if (!TryTextToInt(*text, number))
      Refuse(plan, {std::string("Please check ") + name + " value and try again.", std::string(name) + "Edit Invalid"});
  }
  // A Span is taken as typed here, not cut to a byte: 300 is not 44.
  std::int32_t span = 0;
  if (!TryTextToInt(fields.spanText, span)) return;
  const bool sendsValue = ChoiceAt(choice).sendsValue;
  const std::size_t most = MaxSpan(choice);
  if (span < 0 || static_cast<std::size_t>(span) > most) {
    Refuse(plan, {"Span too large.  " + std::string(sendsValue ? "This packet" : "The reply") + " carries at most " +
                      std::to_string(most) + " data bytes.",
                  "Span Too Large"});
    Note(plan, "Span " + std::to_string(span) + " is too large: " + (sendsValue ? "a frame" : "the reply") +
                   " carries at most " + std::to_string(most) + " bytes.");
  } else if (sendsValue && typed != static_cast<std::size_t>(span)) {
    const auto wanted = static_cast<std::size_t>(span);
    Note(plan, "Span " + std::to_string(span) + ": " + Bytes(typed) + " typed, " +
                   (typed > wanted ? "only the first " + std::to_string(span) + " sent."
                                   : Bytes(wanted - typed, "zero byte") + " added."));
  }
}

}  // namespace

PacketPlan PlanPacket(int choice, const PacketFields& fields) {
  PacketPlan plan;
  PacketRecord& rec = plan.record;
  rec.Register = LowByte(fields.registerText);
  rec.Bank = LowByte(fields.bankText);
  rec.Span = LowByte(fields.spanText);
  rec.NetworkAddress = static_cast<std::uint16_t>(TextToInt(fields.networkAddressText));
  if (!Listed(choice)) return plan;
  const Choice& c = ChoiceAt(choice);
  const auto tokens = ValueTokens(fields.value);
  if (c.sendsValue) PlanValue(plan, choice, tokens);
  if (c.sendsRegister) PlanRegister(plan, choice, fields, tokens.size());
  // Empty text, no number or one beyond 0xFFFF: never sent as 0x0000 or cut
  // to 16 bits.
  if (c.sendsAddress && !NetworkAddressFromText(fields.networkAddressText))
    Refuse(plan, {"Please check Network Address value and try again.", "NetworkAddressEdit Invalid"});
  return plan;
}

RawPacketView ComputeRawView(int choice, const PacketPlan& plan, std::uint8_t sequence) {
  const PacketRecord& rec = plan.record;
  RawPacketView v;
  if (Listed(choice)) {
    const Choice& c = ChoiceAt(choice);
    v.length = PacketHex(static_cast<std::uint32_t>(c.fixedLength + plan.dataCount));
    if (choice == 0) {
      std::string name = "0x";
      for (const char* p = kModelName; *p != '\0'; ++p) name += Hex2(static_cast<std::uint8_t>(*p));
      v.data = name;
    } else if (c.sendsValue) {
      std::string data = "0x";
      for (std::size_t i = 0; i < plan.dataCount; ++i) data += Hex2(rec.Data[i]);
      v.data = data;
    }
    v.type = PacketHex(c.type);
  } else {
    v.type = PacketHex(static_cast<std::uint8_t>(choice));
  }
  v.sequence = PacketHex(sequence);
  v.reg = PacketHex(rec.Register);
  v.bank = PacketHex(rec.Bank);
  v.span = PacketHex(rec.Span);
  v.networkAddress = WireAddressText(rec.NetworkAddress);
  return v;
}

std::variant<PacketRecord, PacketMessage> PrepareTransmit(int choice, const PacketFields& fields) {
  PacketPlan plan = PlanPacket(choice, fields);
  if (plan.refusal) return *std::move(plan.refusal);
  return plan.record;
}

TransmitResult CallPacketCommand(CommandLayer& commands, int choice, PacketRecord rec) {
  if (!Listed(choice)) return {};
  const Choice& c = ChoiceAt(choice);
  Done done;
  switch (choice) {
    case 0: done = commands.EnterProtocolMode(); break;
    case 1: done = commands.ExitProtocolMode(); break;
    case 2: done = commands.SoftwareReset(); break;
    case 3: done = Done::From(commands.GetRegister(rec)); break;
    case 4: done = commands.SetRegister(rec); break;
    case 5: done = commands.TxData(rec); break;
    case 6: done = Done::From(commands.GetRemoteRegister(rec)); break;
    case 7: done = commands.SetRemoteRegister(rec); break;
  }
  if (const auto text = FailureOf(done.During(c.operation), Variant::Packet)) {
    TransmitResult r;
    r.failure = PacketMessage{text->message, text->caption};
    return r;
  }
  return DescribeReply(choice, rec);
}

TransmitResult DescribeReply(int choice, const PacketRecord& rec) {
  TransmitResult r;
  if (!Listed(choice)) return r;
  const Choice& c = ChoiceAt(choice);
  r.type = PacketHex(static_cast<std::uint8_t>(c.type + ptype::ReplyOffset));
  r.log.emplace_back(c.success);
  const bool carriesLength = c.type == ptype::GetRegister || c.type == ptype::GetRemoteRegister ||
                             c.type == ptype::SetRemoteRegister;
  r.length = c.type == ptype::TxData ? PacketHex(4) : carriesLength ? PacketHex(rec.Length + 2u) : PacketHex(2);
  if (c.type == ptype::TxData || c.type == ptype::GetRemoteRegister || c.type == ptype::SetRemoteRegister) {
    r.txStatus = PacketHex(rec.TxStatus);
    r.lqi = PacketHex(rec.Lqi);
  }
  if (c.type == ptype::GetRemoteRegister || c.type == ptype::SetRemoteRegister)
    r.networkAddress = WireAddressText(rec.NetworkAddress);
  if (c.type == ptype::GetRegister || c.type == ptype::GetRemoteRegister) {
    r.reg = PacketHex(rec.Register);
    r.bank = PacketHex(rec.Bank);
    r.span = PacketHex(rec.Span);
    r.data = "0x" + ReplyDataBytes(rec, "");
    r.log.push_back("Data={" + ReplyDataBytes(rec, " ") + "}");
  }
  if (c.type == ptype::TxData) {
    static constexpr std::array<std::string_view, 3> kStatus{
        "Acknowledgement received.", "No acknowledgement received.", "Not linked."};
    if (rec.TxStatus < kStatus.size()) r.log.emplace_back(kStatus[rec.TxStatus]);
  }
  return r;
}

}  // namespace qmx

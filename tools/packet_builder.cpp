#include "tools/packet_builder.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "link/command_layer.h"
#include "link/number_text.h"

namespace qmx {

namespace {

constexpr double kTimeoutMs = 1000.0;
constexpr int kRetries = 3;

// One command of the OP Code list.
struct Choice {
  std::string_view text;
  std::uint8_t type;
  std::uint8_t fixedLength;  // Packet Length without data bytes
  bool sendsValue;
  bool sendsRegister;  // Register, Bank and Span
  bool sendsAddress;
  PacketMessage failure;
  std::string_view success;
};

const std::array<Choice, kPacketChoices> kChoices{{
    {"Enter Protocol Mode (0x00)", ptype::EnterProtocolMode, 9, false, false, false,
     {"Could not enter Protocol Mode.  Please try again.", "EnterProtocolMode Error"},
     "Entered Protocol Mode Successfully."},
    {"Exit Protocol Mode (0x01)", ptype::ExitProtocolMode, 2, false, false, false,
     {"Could not exit Protocol Mode.  Please try again.", "ExitProtocolMode Error"},
     "Exited Protocol Mode Successfully."},
    {"Software Reset (0x02)", ptype::SoftwareReset, 2, false, false, false,
     {"Could not reset radio.  Please try again.", "ResetRadio Error"}, "Reset Radio Successfully."},
    {"Get Register (0x03)", ptype::GetRegister, 5, false, true, false,
     {"Could not get data.  Please try again.", "GetField Error"}, "Get Register Successful."},
    {"Set Register (0x04)", ptype::SetRegister, 5, true, true, false,
     {"Could not set data.  Please try again.", "Set Field Error"}, "Set Register Successful."},
    {"TXData (0x05)", ptype::TxData, 4, true, false, true,
     {"Could not send data.  Please try again.", "Send Data Error"}, "TX Data Successful."},
    {"Get Remote Register (0x0A)", ptype::GetRemoteRegister, 7, false, true, true,
     {"Could not get remote register.  Please try again.", "Get Remote Register Error"},
     "Get Remote Register Successful."},
    {"Set Remote Register (0x0B)", ptype::SetRemoteRegister, 7, true, true, true,
     {"Could not set remote register.  Please try again.", "Set Remote Register Error"},
     "Set Remote Register Successful."},
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
std::string ByteFieldText(const std::string& text) { return PacketHex(static_cast<std::uint8_t>(TextToInt(text))); }

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

int DataByteCount(std::string_view value) { return static_cast<int>(ValueTokens(value).size()); }

std::string RawDataText(std::string_view value) {
  std::string out = "0x";
  for (std::string_view token : ValueTokens(value)) {
    if (token.size() == 1) out += '0';
    out += token;
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> ValueBytes(std::string_view value) {
  std::vector<std::uint8_t> bytes;
  std::string hex;
  for (std::string_view token : ValueTokens(value)) {
    hex.assign("0x").append(token);
    std::int32_t number = 0;
    if (!TryTextToInt(hex, number)) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(number));
  }
  return bytes;
}

std::size_t MaxValueBytes(int choice) {
  if (!Listed(choice) || !ChoiceAt(choice).sendsValue) return 0;
  return kMaxPacketLength - ChoiceAt(choice).fixedLength;
}

RawPacketView ComputeRawView(int choice, const PacketFields& fields, int dataCount, std::uint8_t sequence) {
  RawPacketView v;
  if (Listed(choice)) {
    const Choice& c = ChoiceAt(choice);
    v.length = PacketHex(static_cast<std::uint32_t>(c.fixedLength + (c.sendsValue ? dataCount : 0)));
    if (choice == 0) {
      std::string name = "0x";
      for (const char* p = kModelName; *p != '\0'; ++p) name += Hex2(static_cast<std::uint8_t>(*p));
      v.data = name;
    } else if (c.sendsValue) {
      v.data = RawDataText(fields.value);
    }
    v.type = PacketHex(c.type);
  } else {
    v.type = PacketHex(static_cast<std::uint8_t>(choice));
  }
  v.sequence = PacketHex(sequence);
  v.reg = ByteFieldText(fields.registerText);
  v.bank = ByteFieldText(fields.bankText);
  v.span = ByteFieldText(fields.spanText);
  v.networkAddress = WireAddressText(static_cast<std::uint16_t>(TextToInt(fields.networkAddressText)));
  return v;
}

std::variant<PacketRecord, PacketMessage> PrepareTransmit(int choice, const PacketFields& fields) {
  PacketRecord rec;
  if (!Listed(choice)) return rec;
  const Choice& c = ChoiceAt(choice);
  if (c.sendsValue) {
    const auto bytes = ValueBytes(fields.value);
    if (!bytes) return PacketMessage{"Invalid data.  Please check data and try again.", "Invalid Data"};
    const std::size_t most = MaxValueBytes(choice);
    if (bytes->size() > most)
      return PacketMessage{"Too much data.  This packet carries at most " + std::to_string(most) + " data bytes.",
                           "Invalid Data"};
    std::copy(bytes->begin(), bytes->end(), rec.Data.begin());
    rec.Length = static_cast<std::uint8_t>(bytes->size());
  }
  // Register, Bank and Span, each refused with its own message.
  struct ByteField {
    const std::string& text;
    std::uint8_t& into;
    const char* name;
  };
  const ByteField byteFields[] = {{fields.registerText, rec.Register, "Register"},
                                  {fields.bankText, rec.Bank, "Bank"},
                                  {fields.spanText, rec.Span, "Span"}};
  for (const ByteField& f : byteFields) {
    if (!c.sendsRegister) break;
    std::int32_t number = 0;
    if (!TryTextToInt(f.text, number))
      return PacketMessage{std::string("Please check ") + f.name + " value and try again.",
                           std::string(f.name) + "Edit Invalid"};
    f.into = static_cast<std::uint8_t>(number);
  }
  if (c.sendsAddress) {
    std::int32_t number = 0;
    if (!TryTextToInt(fields.networkAddressText, number))
      return PacketMessage{"Please check Network Address value and try again.", "NetworkAddressEdit Invalid"};
    rec.NetworkAddress = static_cast<std::uint16_t>(number);
  }
  return rec;
}

TransmitResult CallPacketCommand(CommandLayer& commands, int choice, PacketRecord rec) {
  if (!Listed(choice)) return {};
  const Choice& c = ChoiceAt(choice);
  int result = -1;
  switch (choice) {
    case 0: result = commands.EnterProtocolMode(kTimeoutMs, kRetries); break;
    case 1: result = commands.ExitProtocolMode(kTimeoutMs, kRetries); break;
    case 2: result = commands.SoftwareReset(0); break;
    case 3: result = commands.GetRegister(kTimeoutMs, rec, kRetries, 0); break;
    case 4: result = commands.SetRegister(kTimeoutMs, rec, kRetries, 0); break;
    case 5: result = commands.TxData(kTimeoutMs, rec, kRetries); break;
    case 6: result = commands.GetRemoteRegister(kTimeoutMs, rec, kRetries, 0); break;
    case 7: result = commands.SetRemoteRegister(kTimeoutMs, rec, kRetries); break;
  }
  if (result == -1) {
    TransmitResult r;
    r.failure = c.failure;
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

// The packet builder's decisions, apart from its window: which fields each
// command shows, the raw view of the frame the fields make, reading the typed
// fields into a command record (or refusing them), calling the command and
// turning its reply into reply fields and log lines.
//
// A choice is the index of the OP Code list: 0 Enter Protocol Mode, 1 Exit
// Protocol Mode, 2 Software Reset, 3 Get Register, 4 Set Register, 5 TXData,
// 6 Get Remote Register, 7 Set Remote Register.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "link/packet.h"

namespace qmx {

class CommandLayer;

inline constexpr int kPacketChoices = 8;

// The OP Code list's item of a choice and the reply list's item mirrored
// beside it; the reply list also names the three asynchronous types.
std::string_view PacketChoiceText(int choice);
inline constexpr int kReplyChoices = 11;
std::string_view ReplyChoiceText(int index);

// What shows for a choice; a choice outside the list shows the defaults.
struct PacketFieldsShown {
  bool registerBankSpan = true;  // the Register, Bank and Span edits
  bool value = true;
  bool networkAddress = false;
  bool rawRegisterBankSpan = true;
  bool rawNetworkAddress = false;
  bool rawData = true;
  bool replyRegisterBankSpan = true;
  bool replyTxStatus = false;
  bool replyNetworkAddress = false;
  bool replyLqi = false;
  bool replyData = false;
  bool operator==(const PacketFieldsShown&) const = default;
};
PacketFieldsShown FieldsShownFor(int choice);

// The texts of the send page as typed.
struct PacketFields {
  std::string registerText{};
  std::string bankText{};
  std::string spanText{};
  std::string networkAddressText{};
  std::string value{};
};

// "Value" holds data bytes as hexadecimal tokens separated by blanks; a run
// of blanks separates like one and blanks at either end separate nothing.
std::vector<std::string_view> ValueTokens(std::string_view value);
// The data byte count the raw view's length uses: the number of tokens, so
// that the length shown is the length of the frame sent.
int DataByteCount(std::string_view value);
// "0x" and the tokens as typed, a one-character token with a "0" before it.
std::string RawDataText(std::string_view value);
// Each token read as hexadecimal, low eight bits; nothing when a token does
// not read (the last one included).
std::optional<std::vector<std::uint8_t>> ValueBytes(std::string_view value);
// Data bytes the choice's frame can carry besides its fixed fields; 0 for
// the commands that send no data.
std::size_t MaxValueBytes(int choice);

// The raw view of the send page. A field left empty keeps what it shows (the
// length and data of a choice outside the list).
struct RawPacketView {
  std::optional<std::string> length;
  std::optional<std::string> data;
  std::string sequence;
  std::string type;
  std::string networkAddress;
  std::string reg;
  std::string bank;
  std::string span;
};
// `dataCount` is the count kept with "Value"; `sequence` the number carried
// by the most recently sent command.
RawPacketView ComputeRawView(int choice, const PacketFields& fields, int dataCount, std::uint8_t sequence);

// A message box that refuses the fields or reports a failed command.
struct PacketMessage {
  std::string text;
  std::string caption;
  bool operator==(const PacketMessage&) const = default;
};

// Reads the fields into the record the choice's command takes, checking each
// field the choice sends, in the order Value, Register, Bank, Span, Network
// Address. A field the choice does not send is neither read nor checked.
std::variant<PacketRecord, PacketMessage> PrepareTransmit(int choice, const PacketFields& fields);

// The outcome of one transmission. Reply fields that are empty stay as
// Transmit left them (cleared, or for Bank and Span kept).
struct TransmitResult {
  std::optional<PacketMessage> failure;
  std::optional<std::string> length;
  std::optional<std::string> type;
  std::optional<std::string> txStatus;
  std::optional<std::string> networkAddress;
  std::optional<std::string> lqi;
  std::optional<std::string> reg;
  std::optional<std::string> bank;
  std::optional<std::string> span;
  std::optional<std::string> data;
  std::vector<std::string> log;
};

// The reply fields and log lines of a command that succeeded with `reply`.
TransmitResult DescribeReply(int choice, const PacketRecord& reply);

// Calls the choice's command for the local radio (1,000 ms and 3 retries
// where the command takes them) with `rec` from PrepareTransmit.
TransmitResult CallPacketCommand(CommandLayer& commands, int choice, PacketRecord rec);

// "0x" and at least two upper-case hex digits: all of them above 0xFF.
std::string PacketHex(std::uint32_t value);

}  // namespace qmx

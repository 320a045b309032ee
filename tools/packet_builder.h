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
// Data bytes the choice's frame can carry besides its fixed fields; 0 for
// the commands that send no data.
std::size_t MaxValueBytes(int choice);
// The largest Span of a register command: the most data bytes that the frame
// carrying them (the command's own for a write, the reply for a read) can
// hold; 0 for the commands without a Span.
std::size_t MaxSpan(int choice);

// A message box that refuses the fields or reports a failed command.
struct PacketMessage {
  std::string text;
  std::string caption;
  bool operator==(const PacketMessage&) const = default;
};

// What Transmit would do with the fields, decided once for the raw view and
// the send alike. Every number is read as the raw view shows it (0 when it
// is not a number); `refusal` says why Transmit would send nothing.
struct PacketPlan {
  PacketRecord record;  // what the command is called with
  // The frame carries the first dataCount bytes of record.Data: the bytes
  // typed for TXData; for a register write Span bytes, the typed ones cut or
  // followed by zeros.
  std::size_t dataCount = 0;
  std::optional<PacketMessage> refusal;
  // Points out, beside the fields, a Value token that is not a byte, or a
  // Span that differs from the number of bytes typed or that no frame can
  // carry; empty when there is none.
  std::string note;
};
// Checks the fields the choice sends in the order Value, Register, Bank,
// Span, Network Address; a field the choice does not send is not checked.
PacketPlan PlanPacket(int choice, const PacketFields& fields);

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
// The frame of `plan` as Transmit writes it; `sequence` is the number it
// will carry (link/frame.h's SequenceAfter the number of the most recently
// sent command).
RawPacketView ComputeRawView(int choice, const PacketPlan& plan, std::uint8_t sequence);

// The record of PlanPacket, or its refusal.
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

// Text typed into the packet builder: the value tokens and the number fields
// must be read or refused without reading past them, never store more data
// than a frame carries, and the raw view must show the frame that the
// accepted fields make.
//
// Input: one byte choosing the command (modulo the list), then the fields
// separated by new lines: Value, Register, Bank, Span, Network Address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "link/frame.h"
#include "link/number_text.h"
#include "tools/packet_builder.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Field(std::string_view& rest) {
  const std::size_t end = rest.find('\n');
  std::string out(rest.substr(0, end));
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int choice = data[0] % qmx::kPacketChoices;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  qmx::PacketFields fields;
  fields.value = Field(rest);
  fields.registerText = Field(rest);
  fields.bankText = Field(rest);
  fields.spanText = Field(rest);
  fields.networkAddressText = Field(rest);

  // Tokens: no blanks inside, none empty, and the raw data is made of them.
  const auto tokens = qmx::ValueTokens(fields.value);
  std::size_t rawDigits = 0;
  for (std::string_view t : tokens) {
    Check(!t.empty() && t.find(' ') == std::string_view::npos);
    rawDigits += t.size() == 1 ? 2 : t.size();
  }
  const int count = qmx::DataByteCount(fields.value);
  Check(count == static_cast<int>(tokens.size()));
  Check(qmx::RawDataText(fields.value).size() == 2 + rawDigits);
  const auto bytes = qmx::ValueBytes(fields.value);
  if (bytes) Check(bytes->size() == tokens.size());

  const std::uint8_t seq = 0x21;
  const qmx::RawPacketView view = qmx::ComputeRawView(choice, fields, count, seq);
  const auto prepared = qmx::PrepareTransmit(choice, fields);
  if (std::holds_alternative<qmx::PacketMessage>(prepared)) return 0;
  const qmx::PacketRecord& rec = std::get<qmx::PacketRecord>(prepared);
  Check(rec.Length <= qmx::MaxValueBytes(choice));

  // Set Register and Set Remote Register send Span bytes whatever was typed,
  // so only the other commands' frames are fixed by the fields alone.
  static constexpr std::uint8_t kTypes[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x0A, 0x0B};
  const std::uint8_t type = kTypes[choice];
  if (type == qmx::ptype::SetRegister || type == qmx::ptype::SetRemoteRegister) return 0;
  const std::optional<qmx::Frame> frame = qmx::BuildCommandFrame(type, rec, seq);
  Check(frame.has_value());
  Check(*view.length == qmx::PacketHex(frame->bytes[1]));
  Check(view.sequence == qmx::PacketHex(frame->sequence()));
  Check(view.type == qmx::PacketHex(frame->type()));
  const std::uint8_t* p = frame->payload();
  if (type == qmx::ptype::TxData || type == qmx::ptype::GetRemoteRegister) {
    Check(view.networkAddress == "0x" + qmx::Hex2(p[0]) + qmx::Hex2(p[1]));
    p += 2;
  }
  if (type == qmx::ptype::GetRegister || type == qmx::ptype::GetRemoteRegister) {
    Check(view.reg == qmx::PacketHex(p[0]));
    Check(view.bank == qmx::PacketHex(p[1]));
    Check(view.span == qmx::PacketHex(p[2]));
  }
  return 0;
}

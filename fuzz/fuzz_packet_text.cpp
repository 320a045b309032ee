// Text typed into the packet builder: the value tokens and the number fields
// must be read or refused without reading past them, never store more data
// than a frame carries, and the raw view must show the frame that the
// accepted fields make, byte for byte.
//
// Input: one byte choosing the command (modulo the list), then the fields
// separated by new lines: Value, Register, Bank, Span, Network Address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

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

  // Tokens: no blanks inside and none empty.
  for (std::string_view t : qmx::ValueTokens(fields.value)) Check(!t.empty() && t.find(' ') == std::string_view::npos);

  const std::uint8_t seq = 0x21;
  const qmx::PacketPlan plan = qmx::PlanPacket(choice, fields);
  const qmx::RawPacketView view = qmx::ComputeRawView(choice, plan, seq);
  if (plan.refusal) return 0;
  const qmx::PacketRecord& rec = plan.record;
  Check(rec.Length <= qmx::MaxValueBytes(choice));

  // The accepted fields make a frame, and the raw view shows it.
  static constexpr std::uint8_t kTypes[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x0A, 0x0B};
  const std::uint8_t type = kTypes[choice];
  const std::optional<qmx::Frame> frame = qmx::BuildCommandFrame(type, rec, seq);
  Check(frame.has_value());
  Check(*view.length == qmx::PacketHex(frame->bytes[1]));
  Check(view.sequence == qmx::PacketHex(frame->sequence()));
  Check(view.type == qmx::PacketHex(frame->type()));
  const std::uint8_t* p = frame->payload();
  const std::uint8_t* end = p + frame->payloadSize();
  if (type == qmx::ptype::TxData || type == qmx::ptype::GetRemoteRegister || type == qmx::ptype::SetRemoteRegister) {
    Check(view.networkAddress == "0x" + qmx::Hex2(p[0]) + qmx::Hex2(p[1]));
    p += 2;
  }
  if (type == qmx::ptype::GetRegister || type == qmx::ptype::GetRemoteRegister || type == qmx::ptype::SetRegister ||
      type == qmx::ptype::SetRemoteRegister) {
    Check(view.reg == qmx::PacketHex(p[0]));
    Check(view.bank == qmx::PacketHex(p[1]));
    Check(view.span == qmx::PacketHex(p[2]));
    p += 3;
  }
  if (view.data) {
    std::string data = "0x";
    for (; p < end; ++p) data += qmx::Hex2(*p);
    Check(*view.data == data);
  }
  return 0;
}

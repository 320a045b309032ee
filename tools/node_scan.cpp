#include "tools/node_scan.h"

#include <string>

#include "link/network_nodes.h"
#include "link/number_text.h"

namespace qmx::net {

namespace {

constexpr std::uint16_t kBroadcast = 0xFFFF;

Result<AddressRange> Bad(std::string_view text, const std::string& why) {
  return Result<AddressRange>::Fail(Operation::CheckInput, Status::BadInput,
                                    "bad address range '" + std::string(text) + "': " + why +
                                        " (like 1-60 or 0x0001-0x00FF)");
}

}  // namespace

Result<AddressRange> ParseAddressRange(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  const std::string_view range =
      begin == std::string_view::npos ? std::string_view{} : text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
  if (range.empty()) return Bad(text, "no addresses");
  // The dash between the two numbers; a leading one would be a sign.
  const std::size_t dash = range.find('-', 1);
  const std::string_view firstText = range.substr(0, dash);
  const std::string_view lastText = dash == std::string_view::npos ? firstText : range.substr(dash + 1);
  const std::optional<std::uint16_t> first = NetworkAddressFromText(firstText);
  const std::optional<std::uint16_t> last = NetworkAddressFromText(lastText);
  if (!first) return Bad(text, "'" + std::string(firstText) + "' is no network address (0 to 0xFFFE)");
  if (!last) return Bad(text, "'" + std::string(lastText) + "' is no network address (0 to 0xFFFE)");
  if (*first == kBroadcast || *last == kBroadcast) return Bad(text, "0xFFFF is the broadcast address");
  if (*last < *first) return Bad(text, "the last address is below the first");
  return AddressRange{*first, *last};
}

NodeScan::NodeScan(AddressRange range, diag::TestSender send, NodeTable& table)
    : range_(range), send_(std::move(send)), table_(table) {}

bool NodeScan::Step() {
  if (next_ >= range_.Size() || !summary_.failure.ok()) return false;
  if (cancel_.load()) {
    summary_.cancelled = true;
    return false;
  }
  const auto address = static_cast<std::uint16_t>(range_.first + next_);
  PacketRecord rec;
  rec.NetworkAddress = address;
  rec.Length = 0;
  const qmx::Done sent = send_(rec);
  ++next_;
  ++summary_.asked;
  if (!sent) {
    ++summary_.silent;
    if (sent.status() == Status::PortClosed || sent.status() == Status::NotAllowed) summary_.failure = sent;
  } else if (rec.TxStatus == txstatus::Acknowledged) {
    ++summary_.answered;
    table_.Answered(address, rec.Lqi);
  } else if (rec.TxStatus == txstatus::NotLinked) {
    ++summary_.notLinked;
  }
  return true;
}

const ScanSummary& NodeScan::Run(const Progress& progress) {
  while (Step())
    if (progress) progress(next_, range_.Size());
  return summary_;
}

}  // namespace qmx::net

#include "mainwindow/received_rows.h"

#include <algorithm>
#include <vector>

namespace qmx {

void ReceivedRowsModel::AddRows(PacketNumber packet) {
  const ReceivedPacketText& p = Packet(packet);
  std::size_t at = 0;
  do {
    const std::size_t length = ReceivedRowLength(p.data.size() - at, p.hex, longest_);
    rows_.push_back({packet, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length)});
    at += length;
  } while (at < p.data.size());
}

void ReceivedRowsModel::Append(ReceivedPacketText packet) {
  packets_.push_back(std::move(packet));
  AddRows(firstPacket_ + packets_.size() - 1);
}

bool ReceivedRowsModel::Wrap(std::size_t longest) {
  if (longest == longest_) return false;
  longest_ = longest;
  rows_.clear();
  for (PacketNumber p = firstPacket_; p < firstPacket_ + packets_.size(); ++p) AddRows(p);
  return true;
}

std::size_t ReceivedRowsModel::TrimOldest() {
  std::size_t drop = 0;
  while (rows_.size() - drop > maxRows_ && packets_.size() > 1) {
    while (rows_[drop].packet == firstPacket_) ++drop;
    packets_.pop_front();
    ++firstPacket_;
  }
  rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(drop));
  if (selection_ && drop > 0) {
    if (std::max(selection_->anchor, selection_->reached) < firstPacket_) {
      selection_.reset();
    } else {
      selection_->anchor = std::max(selection_->anchor, firstPacket_);
      selection_->reached = std::max(selection_->reached, firstPacket_);
    }
  }
  return drop;
}

void ReceivedRowsModel::Clear() {
  firstPacket_ += packets_.size();
  packets_.clear();
  rows_.clear();
  selection_.reset();
}

RowView ReceivedRowsModel::Row(std::size_t row) const {
  const RowRef& r = rows_[row];
  const ReceivedPacketText& p = Packet(r.packet);
  const std::string_view data = std::string_view(p.data).substr(r.offset, r.length);
  if (r.offset != 0) return {{}, data, {}};
  return {p.address, data, p.lqi};
}

std::size_t ReceivedRowsModel::FirstRowOf(PacketNumber packet) const {
  const auto found = std::lower_bound(rows_.begin(), rows_.end(), packet,
                                      [](const RowRef& r, PacketNumber p) { return r.packet < p; });
  return static_cast<std::size_t>(found - rows_.begin());
}

void ReceivedRowsModel::Select(std::size_t anchor, std::size_t reached) {
  if (rows_.empty()) return;
  selection_ = Selection{PacketOf(std::min(anchor, rows_.size() - 1)), PacketOf(std::min(reached, rows_.size() - 1))};
}

void ReceivedRowsModel::Extend(std::size_t reached) {
  if (rows_.empty()) return;
  const PacketNumber to = PacketOf(std::min(reached, rows_.size() - 1));
  selection_ = Selection{selection_ ? selection_->anchor : to, to};
}

void ReceivedRowsModel::SelectAll() {
  if (!rows_.empty()) Select(0, rows_.size() - 1);
}

bool ReceivedRowsModel::Selected(std::size_t row) const {
  if (!selection_) return false;
  const PacketNumber p = rows_[row].packet;
  return p >= std::min(selection_->anchor, selection_->reached) &&
         p <= std::max(selection_->anchor, selection_->reached);
}

std::string ReceivedRowsModel::SelectedText() const {
  if (!selection_) return {};
  std::vector<ViewRow> lines;
  for (PacketNumber p = std::min(selection_->anchor, selection_->reached);
       p <= std::max(selection_->anchor, selection_->reached); ++p) {
    const ReceivedPacketText& packet = Packet(p);
    lines.push_back({packet.address, packet.data, packet.lqi});
  }
  return CopiedRows(lines);
}

}  // namespace qmx

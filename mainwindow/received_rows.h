// The rows of the Serial tab's received view, oldest first: the packets they
// show (the oldest whole packets go past the row limit), each packet's data
// cut into rows as wide as the data column has room for, and a selection of
// whole packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "mainwindow/received_text.h"
#include "mainwindow/serial_tab_logic.h"

namespace qmx {

// One row's texts: a packet's first row carries its address and link
// quality, its other rows leave them empty. Valid until the model changes.
struct RowView {
  std::string_view address, data, lqi;
};

class ReceivedRowsModel {
 public:
  explicit ReceivedRowsModel(std::size_t maxRows) : maxRows_(maxRows) {}

  void SetMaxRows(std::size_t rows) { maxRows_ = rows; }
  // Appends one packet, cut into rows at the present width.
  void Append(ReceivedPacketText packet);
  // Cuts every packet anew into rows of at most `longest` characters; false
  // (and nothing done) when they already are.
  bool Wrap(std::size_t longest);
  // Past the row limit, drops the oldest whole packets (never the newest)
  // until it is kept; returns how many rows went. Each row costs the same,
  // however many the view holds.
  std::size_t TrimOldest();
  void Clear();

  std::size_t Size() const { return rows_.size(); }
  RowView Row(std::size_t row) const;
  // The first row of the packet that row `row` belongs to, once the rows
  // were cut anew: what was in view stays in view.
  using PacketNumber = std::uint64_t;
  PacketNumber PacketOf(std::size_t row) const { return rows_.at(row).packet; }
  std::size_t FirstRowOf(PacketNumber packet) const;

  // The selection: the packets from the one of an anchor row to the one of
  // the row last reached, either way round, every row of each. Packets that
  // went at the top leave it; it ends with them.
  void Select(std::size_t anchor, std::size_t reached);
  void Extend(std::size_t reached);
  void SelectAll();
  void ClearSelection() { selection_.reset(); }
  bool HasSelection() const { return selection_.has_value(); }
  bool Selected(std::size_t row) const;
  // The selected packets as Copy gives them, one line each with all its
  // data; empty without a selection.
  std::string SelectedText() const;

 private:
  struct RowRef {
    PacketNumber packet;
    std::uint32_t offset, length;  // of the row's part of the data text
  };
  struct Selection {
    PacketNumber anchor, reached;
  };
  const ReceivedPacketText& Packet(PacketNumber packet) const {
    return packets_[static_cast<std::size_t>(packet - firstPacket_)];
  }
  void AddRows(PacketNumber packet);

  std::deque<ReceivedPacketText> packets_;
  PacketNumber firstPacket_ = 0;  // the number of packets_.front()
  std::deque<RowRef> rows_;
  std::size_t longest_ = kFirstRowChars;
  std::size_t maxRows_;
  std::optional<Selection> selection_;
};

}  // namespace qmx

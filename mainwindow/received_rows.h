// The rows of the Serial tab's received view, oldest first: what each of its
// three columns shows, the packets the rows came from (the oldest whole
// packets go past the row limit), and a selection of whole rows.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "mainwindow/serial_tab_logic.h"

namespace qmx {

class ReceivedRowsModel {
 public:
  explicit ReceivedRowsModel(std::size_t maxRows) : maxRows_(maxRows) {}

  void SetMaxRows(std::size_t rows) { maxRows_ = rows; }
  // Appends the rows of one packet.
  void Append(ReceivedRows laid);
  // Past the row limit, drops the oldest whole packets (never the newest)
  // until it is kept; returns how many rows went. Each row costs the same,
  // however many the view holds.
  std::size_t TrimOldest();
  void Clear();

  std::size_t Size() const { return rows_.size(); }
  const ViewRow& Row(std::size_t row) const { return rows_[row]; }

  // The selection: the rows from an anchor to the row last reached, either
  // way round. Rows that went at the top leave it; it ends with them.
  void Select(std::size_t anchor, std::size_t reached);
  void Extend(std::size_t reached);
  void SelectAll();
  void ClearSelection() { selection_.reset(); }
  bool HasSelection() const { return selection_.has_value(); }
  bool Selected(std::size_t row) const;
  // The selected rows as Copy gives them; empty without a selection.
  std::string SelectedText() const;

 private:
  struct Selection {
    std::size_t anchor, reached;
  };
  std::deque<ViewRow> rows_;
  std::deque<std::size_t> packetRows_;  // rows of each packet, oldest first
  std::size_t maxRows_;
  std::optional<Selection> selection_;
};

}  // namespace qmx

#include "mainwindow/received_rows.h"

#include <algorithm>
#include <vector>

namespace qmx {

void ReceivedRowsModel::Append(ReceivedRows laid) {
  for (std::size_t i = 0; i < laid.data.size(); ++i) {
    ViewRow row;
    if (i == 0) {
      row.address = std::move(laid.address);
      row.lqi = std::move(laid.lqi);
    }
    row.data = std::move(laid.data[i]);
    rows_.push_back(std::move(row));
  }
  packetRows_.push_back(laid.data.size());
}

std::size_t ReceivedRowsModel::TrimOldest() {
  std::size_t drop = 0;
  while (rows_.size() - drop > maxRows_ && packetRows_.size() > 1) {
    drop += packetRows_.front();
    packetRows_.pop_front();
  }
  rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(drop));
  if (selection_ && drop > 0) {
    if (std::max(selection_->anchor, selection_->reached) < drop) {
      selection_.reset();
    } else {
      selection_->anchor = selection_->anchor < drop ? 0 : selection_->anchor - drop;
      selection_->reached = selection_->reached < drop ? 0 : selection_->reached - drop;
    }
  }
  return drop;
}

void ReceivedRowsModel::Clear() {
  rows_.clear();
  packetRows_.clear();
  selection_.reset();
}

void ReceivedRowsModel::Select(std::size_t anchor, std::size_t reached) {
  if (rows_.empty()) return;
  selection_ = Selection{std::min(anchor, rows_.size() - 1), std::min(reached, rows_.size() - 1)};
}

void ReceivedRowsModel::Extend(std::size_t reached) {
  Select(selection_ ? selection_->anchor : reached, reached);
}

void ReceivedRowsModel::SelectAll() {
  if (!rows_.empty()) Select(0, rows_.size() - 1);
}

bool ReceivedRowsModel::Selected(std::size_t row) const {
  return selection_ && row >= std::min(selection_->anchor, selection_->reached) &&
         row <= std::max(selection_->anchor, selection_->reached);
}

std::string ReceivedRowsModel::SelectedText() const {
  if (!selection_) return {};
  const std::size_t first = std::min(selection_->anchor, selection_->reached);
  const std::size_t last = std::max(selection_->anchor, selection_->reached);
  const std::vector<ViewRow> rows(rows_.begin() + static_cast<std::ptrdiff_t>(first),
                                  rows_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  return CopiedRows(rows);
}

}  // namespace qmx

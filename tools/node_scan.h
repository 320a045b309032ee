// The network scan: asks each address of a range, one after another, whether
// a radio is there, and enters each that answers in the table of radios
// heard with the LQI of its answer. Each address gets one empty TX Data
// packet, sent as the Diagnostics scan sends its test packets (one try, no
// retry): the local radio's reply says whether the remote acknowledged and
// with what link quality, and the remote's serial line gets no byte.
//
// Plain C++, shared by the Network tab and `qmxctl nodes`. It runs on the
// table's thread; Cancel() may come from any thread (or from an event the
// window handles while a packet waits) and takes effect before the next
// address.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "link/result.h"
#include "tools/diag_measure.h"

namespace qmx::net {

class NodeTable;

// First to last, both included.
struct AddressRange {
  std::uint16_t first = 0;
  std::uint16_t last = 0;
  std::size_t Size() const { return static_cast<std::size_t>(last) - first + 1; }
};

// "1-60", "0x0001-0x00FF", or one address ("7"): numbers as the program
// reads typed numbers (decimal, or hex after 0x, x or $), blanks at the
// ends dropped. BadInput with the reason as the result's reason for
// anything else: an empty or reversed range, a number out of 0 … 0xFFFE
// (0xFFFF is the broadcast address, which every radio acknowledges).
Result<AddressRange> ParseAddressRange(std::string_view text);

struct ScanSummary {
  std::size_t asked = 0;     // addresses a packet went to
  std::size_t answered = 0;  // of those, acknowledged by a remote radio
  std::size_t silent = 0;    // of those, not answered by the local radio
  std::size_t notLinked = 0;  // the local radio said it is in no network
  bool cancelled = false;
  Done failure;  // the port went away: the scan ended there
};

class NodeScan {
 public:
  // Done and total addresses, after each one.
  using Progress = std::function<void(std::size_t done, std::size_t total)>;

  // `send`: diag::CommandSender(commands), or a test's.
  NodeScan(AddressRange range, diag::TestSender send, NodeTable& table);

  // Asks the next address. False, asking none, when every address was
  // asked, the scan was cancelled or the port has gone.
  bool Step();
  // Steps until the scan is over, telling `progress` after each address.
  const ScanSummary& Run(const Progress& progress = {});
  void Cancel() { cancel_.store(true); }

  std::size_t Done() const { return next_; }
  std::size_t Total() const { return range_.Size(); }
  const AddressRange& Range() const { return range_; }
  const ScanSummary& Summary() const { return summary_; }

 private:
  AddressRange range_;
  diag::TestSender send_;
  NodeTable& table_;
  std::size_t next_ = 0;  // addresses asked so far
  std::atomic<bool> cancel_{false};
  ScanSummary summary_;
};

}  // namespace qmx::net

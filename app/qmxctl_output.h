// qmxctl's output: standard output carries a command's result and nothing
// else; what the radio sends meanwhile (received data, network events) is
// the result of `monitor` only, and for every other command goes to
// standard error, or nowhere with --quiet. --json gives results as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "link/decoder.h"

namespace qmx::ctl {

using Json = nlohmann::ordered_json;

// Prints one JSON value on its own line of standard output.
void PrintJson(const Json& value);

// "2026-12-07T15:17:59.123+01:00": now, local time, to the millisecond.
std::string IsoTimestamp();

// Bytes as upper-case hex pairs without separators ("0A0B").
std::string HexString(std::span<const std::uint8_t> bytes);

// Received data and network events as text lines or JSON objects.
class TrafficPrinter : public ViewSink {
 public:
  // `out` null: dropped. `timestamps`: data lines start with IsoTimestamp().
  void Configure(std::FILE* out, bool json, bool timestamps);
  void EventText(const EventBlock& block) override;
  void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) override;
  void IoEvent(std::uint16_t, std::span<const std::uint8_t>) override {}
  void RemoteJoined(std::uint16_t) override {}

 private:
  std::mutex mutex_;
  std::FILE* out_ = stderr;
  bool json_ = false;
  bool timestamps_ = false;
};

}  // namespace qmx::ctl

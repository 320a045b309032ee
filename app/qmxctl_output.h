// qmxctl's output: standard output carries a command's result and nothing
// else; what the radio sends meanwhile (received data, network events) is
// the result of `monitor` only, and for every other command goes to
// standard error, or nowhere with --quiet. --json gives results as JSON:
// keys in snake_case, numbers as numbers (with a "_hex" text beside where
// the hex form is what a user reads), texts as they are.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "link/decoder.h"
#include "link/result.h"

namespace qmx::ctl {

using Json = nlohmann::ordered_json;

// Prints one JSON value on its own line of `out`.
void PrintJson(const Json& value, std::FILE* out = stdout);

// A text of the radio's bytes as a JSON string: every byte kept, those
// above 0x7F read as Latin-1.
std::string JsonText(std::string_view bytes);

// "2026-12-07T15:17:59.123+01:00": now, local time, to the millisecond.
std::string IsoTimestamp();

// Bytes as upper-case hex pairs without separators ("0A0B").
std::string HexString(std::span<const std::uint8_t> bytes);

// A port that could not be opened or set up, said in one line on standard
// error with the system's reason; returns whether `done` succeeded.
bool PortReady(const Done& done);

// Received data and network events as text lines or JSON objects (one per
// line, "kind" first: data, announce, event, error, disconnect, reconnect).
class TrafficPrinter : public ViewSink {
 public:
  // `out` null: dropped. `timestamps`: each line starts with IsoTimestamp().
  void Configure(std::FILE* out, bool json, bool timestamps);
  void EventText(const EventBlock& block) override;
  void Announced(const Announcement& a) override;
  void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) override;
  void IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) override;
  void RemoteJoined(std::uint16_t) override {}
  // The device went away ("disconnect") or is back ("reconnect"): a JSON
  // line; the text form is the message on standard error.
  void PortEvent(const char* kind, const std::string& port);

 private:
  void Emit(Json j);  // with the lock held

  std::mutex mutex_;
  std::FILE* out_ = stderr;
  bool json_ = false;
  bool timestamps_ = false;
};

}  // namespace qmx::ctl

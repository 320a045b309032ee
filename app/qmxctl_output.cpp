#include "qmxctl_output.h"

#include <chrono>
#include <ctime>

#include "link/number_text.h"

namespace qmx::ctl {

void PrintJson(const Json& value) {
  std::fputs(value.dump().c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string IsoTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&t, &local);
  char text[40];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff / 60;
  std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld", static_cast<int>(ms), offset < 0 ? '-' : '+',
                (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
  return text;
}

std::string HexString(std::span<const std::uint8_t> bytes) {
  std::string out(bytes.size() * 2, '\0');
  char* at = out.data();
  for (std::uint8_t b : bytes) at = PutHex2(at, b);
  return out;
}

void TrafficPrinter::Configure(std::FILE* out, bool json, bool timestamps) {
  std::lock_guard lock(mutex_);
  out_ = out;
  json_ = json;
  timestamps_ = timestamps;
}

void TrafficPrinter::EventText(const EventBlock& block) {
  std::lock_guard lock(mutex_);
  if (!out_) return;
  if (json_) {
    Json j{{"type", "event"}};
    if (timestamps_) j["time"] = IsoTimestamp();
    Json lines = Json::array();
    for (const auto& line : block.lines)
      if (!line.empty()) lines.push_back(line);  // the blank line that parts blocks on a screen
    j["lines"] = lines;
    std::fprintf(out_, "%s\n", j.dump().c_str());
  } else {
    for (const auto& line : block.lines) std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

void TrafficPrinter::ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  if (!out_) return;
  if (json_) {
    Json j{{"type", "data"}};
    if (timestamps_) j["time"] = IsoTimestamp();
    j["address"] = address;
    j["data"] = HexString(data);
    j["lqi"] = lqi;
    std::fprintf(out_, "%s\n", j.dump().c_str());
  } else {
    std::string hex(data.size() * 3, '\0');  // "41 42 ", as the Serial tab shows them
    PutHexBytes(hex.data(), data);
    std::fprintf(out_, "%s%s  %s %s\n", timestamps_ ? (IsoTimestamp() + "  ").c_str() : "",
                 NetworkAddressText(address).c_str(), hex.c_str(), HexText(lqi, 2).c_str());
  }
  std::fflush(out_);
}

}  // namespace qmx::ctl

#include "qmxctl_output.h"

#include <chrono>
#include <ctime>

#include "link/failure_text.h"
#include "link/number_text.h"

namespace qmx::ctl {

void PrintJson(const Json& value, std::FILE* out) {
  // The texts are made valid UTF-8 before; a slip is replaced, not thrown.
  std::fputs(value.dump(-1, ' ', false, Json::error_handler_t::replace).c_str(), out);
  std::fputc('\n', out);
  std::fflush(out);
}

std::string JsonText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
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

bool PortReady(const Done& done) {
  if (done) return true;
  std::string line = done.reason();
  if (line.empty()) {
    const auto text = PortFailureText(done.status(), {});
    line = text ? text->message : "the port failed";
  }
  std::fprintf(stderr, "qmxctl: %s\n", line.c_str());
  return false;
}

void TrafficPrinter::Configure(std::FILE* out, bool json, bool timestamps) {
  std::lock_guard lock(mutex_);
  out_ = out;
  json_ = json;
  timestamps_ = timestamps;
}

void TrafficPrinter::Emit(Json j) {
  if (timestamps_) {
    Json timed{{"kind", j["kind"]}, {"time", IsoTimestamp()}};
    for (auto& [key, value] : j.items())
      if (key != "kind") timed[key] = std::move(value);
    j = std::move(timed);
  }
  PrintJson(j, out_);
}

// Text only: in JSON the announcement and the I/O event say the same as values.
void TrafficPrinter::EventText(const EventBlock& block) {
  std::lock_guard lock(mutex_);
  if (!out_ || json_) return;
  for (const auto& line : block.lines) std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void TrafficPrinter::Announced(const Announcement& a) {
  std::lock_guard lock(mutex_);
  if (!out_ || !json_) return;
  Json j{{"kind", a.error ? "error" : "announce"}, {"code", a.code}, {"code_hex", HexText(a.code, 2)},
         {"text", a.text}};
  if (a.address) {
    j["address"] = *a.address;
    j["address_hex"] = HexText(*a.address, 4);
  }
  if (a.mac) j["mac"] = *a.mac;
  if (a.panId) {
    j["pan_id"] = *a.panId;
    j["pan_id_hex"] = HexText(*a.panId, 4);
  }
  if (a.channel) j["channel"] = *a.channel;
  Emit(std::move(j));
}

void TrafficPrinter::IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  if (!out_ || !json_) return;
  Emit({{"kind", "event"}, {"address", address}, {"address_hex", HexText(address, 4)}, {"data_hex", HexString(data)}});
}

void TrafficPrinter::ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  if (!out_) return;
  if (json_) {
    Emit({{"kind", "data"},
          {"address", address},
          {"address_hex", HexText(address, 4)},
          {"lqi", lqi},
          {"data_hex", HexString(data)},
          {"text", JsonText({reinterpret_cast<const char*>(data.data()), data.size()})}});
    return;
  }
  std::string hex(data.size() * 3, '\0');  // "41 42 ", as the Serial tab shows them
  PutHexBytes(hex.data(), data);
  std::fprintf(out_, "%s%s  %s %s\n", timestamps_ ? (IsoTimestamp() + "  ").c_str() : "",
               NetworkAddressText(address).c_str(), hex.c_str(), HexText(lqi, 2).c_str());
  std::fflush(out_);
}

void TrafficPrinter::PortEvent(const char* kind, const std::string& port) {
  std::lock_guard lock(mutex_);
  if (!out_ || !json_) return;
  Emit({{"kind", kind}, {"port", port}});
}

}  // namespace qmx::ctl

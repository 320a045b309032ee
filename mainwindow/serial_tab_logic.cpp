#include "mainwindow/serial_tab_logic.h"

#include <algorithm>
#include <limits>

#include "link/decoder.h"
#include "link/number_text.h"
#include "link/packet.h"
#include "mainwindow/received_text.h"

namespace qmx {

TransmitBytes ParseHexData(std::string_view text) {
  TransmitBytes out;
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string_view token = text.substr(at, end - at);
    const std::optional<std::uint8_t> byte = HexByte(token);
    if (!byte) return {{}, std::string(token)};
    out.bytes.push_back(*byte);
    at = end;
  }
  return out;
}

TransmitBytes TransmitData(std::string_view text, bool ascii, bool appendCr) {
  TransmitBytes out = ascii ? TransmitBytes{{text.begin(), text.end()}, {}} : ParseHexData(text);
  if (out.ok() && appendCr) out.bytes.push_back(0x0D);
  return out;
}

std::size_t ViewGrowths(std::size_t rows) {
  // The view grows before a row is added to columns that already hold more
  // than 18.
  constexpr std::size_t kRowsBeforeGrowing = 19;
  return rows > kRowsBeforeGrowing ? rows - kRowsBeforeGrowing : 0;
}

ReceivedPacketText LayOutReceived(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data,
                                  bool hexMode) {
  return {NetworkAddressText(address), HexText(lqi, 2), ReceivedDataText(data, hexMode), hexMode};
}

std::string TransmitCountText(std::string_view text, bool ascii, bool appendCr) {
  const TransmitBytes data = TransmitData(text, ascii, appendCr);
  if (!data.ok()) return NotAByteText(data.notAByte);
  return std::to_string(data.bytes.size()) + (data.bytes.size() == 1 ? " byte" : " bytes");
}

std::string CopiedRows(std::span<const ViewRow> rows) {
  std::string text;
  for (const ViewRow& row : rows) {
    if (!text.empty()) text += '\n';
    text += row.address + '\t' + row.data + '\t' + row.lqi;
  }
  return text;
}

namespace {

// The timer takes milliseconds as an int; negative and oversized intervals
// wait as long as it can.
int TimerMs(std::int64_t ms) {
  if (ms < 0 || ms > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(ms);
}

}  // namespace

std::optional<int> TransmitSchedule::Press(std::string_view intervalText) {
  if (stop_) {
    stop_ = false;
    repeat_ = false;
    return std::nullopt;
  }
  const std::int32_t n = TextToInt(intervalText, 0);
  armed_ = true;
  // The first send follows after n milliseconds, the later ones n seconds
  // apart.
  repeat_ = n != 0;
  stop_ = repeat_;
  if (paused_) {  // pressed while a command waited and the terminal was entered
    armed_ = false;
    resume_ = true;
    return std::nullopt;
  }
  return n == 0 ? kSingleMs : TimerMs(n);
}

std::optional<int> TransmitSchedule::Sent(std::string_view intervalText) {
  if (!repeat_) return std::nullopt;
  if (paused_) {
    resume_ = true;
    return std::nullopt;
  }
  const std::int32_t n = TextToInt(intervalText, kRepeatDefaultSeconds);
  armed_ = true;
  return n == 0 ? kSingleMs : TimerMs(std::int64_t{n} * 1000);
}

void TransmitSchedule::Stop() {
  stop_ = false;
  repeat_ = false;
  armed_ = false;
  paused_ = false;
  resume_ = false;
}

bool TransmitSchedule::Pause() {
  paused_ = true;
  resume_ = armed_;
  armed_ = false;
  return resume_ || repeat_;
}

std::optional<int> TransmitSchedule::Resume(std::string_view intervalText) {
  paused_ = false;
  if (!resume_) return std::nullopt;
  resume_ = false;
  if (!repeat_) {
    armed_ = true;
    return kSingleMs;
  }
  return Sent(intervalText);
}

TransmitSchedule::State TransmitSchedule::Current() const {
  if (!armed_) return State::Idle;
  return repeat_ ? State::Repeating : State::SingleArmed;
}

}  // namespace qmx

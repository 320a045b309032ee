#include "mainwindow/poll_io_logic.h"

#include <algorithm>

#include "config/local_status.h"
#include "link/number_text.h"

namespace qmx {

namespace {

constexpr std::uint8_t kIoBank = 5;
constexpr std::uint8_t kIoSetupBank = 6;
constexpr std::size_t kUserTagLength = 16;
constexpr std::uint8_t kPwm1EnableBit = 0x04;

}  // namespace

RemoteRadioTexts FormatRemoteRadio(const RadioImage& image, RadioIndex slot) {
  RemoteRadioTexts t;
  const auto bytes = image.Slot(slot);
  const auto tag = bytes.subspan(ImageOffset(0, 28), kUserTagLength);
  t.userTag.assign(tag.begin(), std::find(tag.begin(), tag.end(), std::uint8_t{0}));
  t.mac = MacText(bytes.subspan(ImageOffset(2, 0), 8));
  const std::uint32_t directions = image.Value(slot, kIoSetupBank, 0, 1);
  for (std::uint8_t i = 0; i < 6; ++i) {
    t.gpio[i] = std::to_string(image.Value(slot, kIoBank, i, 1));
    t.output[i] = (directions >> i & 1) != 0;
  }
  for (std::uint8_t a = 0; a < 3; ++a)
    t.adc[a] = HexText(image.Value(slot, kIoBank, static_cast<std::uint8_t>(6 + 2 * a), 2), 4);
  t.pwm0 = HexText(image.Value(slot, kIoBank, 18, 1), 2);
  t.pwm1Enabled = (image.Value(slot, kIoSetupBank, 2, 1) & kPwm1EnableBit) != 0;
  t.pwm1 = t.pwm1Enabled ? HexText(image.Value(slot, kIoBank, 19, 2), 4) : "Disabled";
  return t;
}

std::optional<int> SuccessRate(std::uint32_t attempts, std::uint32_t successes) {
  if (attempts == 0) return std::nullopt;
  // In floating point, truncated: 2 of 3 is 66.
  return static_cast<int>(static_cast<double>(successes) / attempts * 100);
}

RemoteWrite Pwm0Write(std::int32_t value) {
  return {17, {0x00, static_cast<std::uint8_t>(value & 0xFF)}};
}

RemoteWrite Pwm1Write(std::int32_t value) {
  return {19, {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8 & 0xFF)}};
}

RemoteWrite OutputLineWrite(int line, std::int32_t value) {
  return {static_cast<std::uint8_t>(line), {static_cast<std::uint8_t>(value & 0xFF)}};
}

std::optional<std::uint16_t> RowAddress(std::string_view text) { return NetworkAddressFromText(text); }

std::optional<int> BadPolledAddress(const std::array<std::string, kRemoteRadios>& addressTexts,
                                    const std::array<bool, kRemoteRadios>& pollTicked) {
  for (int n = 1; n <= kRemoteRadios; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    if (pollTicked[i] && !addressTexts[i].empty() && !RowAddress(addressTexts[i])) return n;
  }
  return std::nullopt;
}

std::optional<int> MatchIoEvent(const std::array<std::string, kRemoteRadios>& addressTexts, std::uint16_t address) {
  for (int n = 1; n <= kRemoteRadios; ++n) {
    std::int32_t value = 0;
    if (TryTextToInt(addressTexts[static_cast<std::size_t>(n - 1)], value) && value == std::int32_t{address})
      return n;
  }
  return std::nullopt;
}

void ApplyIoData(RadioImage& image, RadioIndex slot, std::span<const std::uint8_t> data) {
  const auto place = image.Bank(slot, *FindBank(kIoBank));
  std::copy_n(data.begin(), std::min(data.size(), place.size()), place.begin());
}

int PollSchedule::IntervalMs(std::string_view delayText) {
  const std::int64_t seconds = TextToInt(delayText, 1);
  return seconds == 0 ? kNoDelayMs : static_cast<int>(std::clamp<std::int64_t>(seconds * 1000, 0, INT32_MAX));
}

int PollSchedule::Start() {
  running_ = true;
  return intervalMs_;
}

void PollSchedule::Abandon() {
  running_ = false;
  paused_ = false;
  abandoned_ = inCycle_;
}

bool PollSchedule::Pause() {
  paused_ = running_;
  return paused_;
}

std::optional<int> PollSchedule::Resume() {
  const bool was = paused_;
  paused_ = false;
  if (!was || !running_) return std::nullopt;
  return intervalMs_;
}

bool PollSchedule::BeginCycle() {
  if (inCycle_ || paused_) return false;
  inCycle_ = true;
  abandoned_ = false;
  return true;
}

std::optional<int> PollSchedule::EndCycle() {
  inCycle_ = false;
  abandoned_ = false;
  if (!running_ || paused_) return std::nullopt;
  return intervalMs_;
}

}  // namespace qmx

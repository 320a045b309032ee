// The Poll I/O tab's decisions without its widgets: what a remote radio's
// group shows from its image slot, its success rate, the bytes of PWM and
// output-line writes, which group an I/O event belongs to, and when the
// automatic poll runs next.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/register_map.h"

namespace qmx {

inline constexpr int kRemoteRadios = 4;

// Masks of the tab's reads: one radio (banks 0, 2, 5, 6), a poll cycle
// (banks 0, 5, 6).
inline constexpr BankMask kReadOneMask = 101;
inline constexpr BankMask kPollMask = 97;

// Texts of one group, drawn from its slot of the image.
struct RemoteRadioTexts {
  std::string userTag;
  std::string mac;
  std::array<std::string, 6> gpio;  // decimal
  std::array<bool, 6> output{};     // the line's direction bit
  std::array<std::string, 3> adc;
  std::string pwm0;
  std::string pwm1;  // "Disabled" when PWM1 is off
  bool pwm1Enabled = false;
};
RemoteRadioTexts FormatRemoteRadio(const RadioImage& image, RadioIndex slot);

inline const char* DirectionText(bool output) { return output ? "(Output)" : "(Input)"; }

// Whole percent of answered requests, truncated toward zero; nothing while
// no request was made.
std::optional<int> SuccessRate(std::uint32_t attempts, std::uint32_t successes);

// One register write to a remote radio's bank 5.
struct RemoteWrite {
  std::uint8_t reg = 0;
  std::vector<std::uint8_t> data;  // its length is the span
};
// PWM0: register 17, 0x00 then the value's low byte.
RemoteWrite Pwm0Write(std::int32_t value);
// PWM1: register 19, the value's low 16 bits, low byte first.
RemoteWrite Pwm1Write(std::int32_t value);
// Output line `line`: register `line`, the value's low byte.
RemoteWrite OutputLineWrite(int line, std::int32_t value);

// The network address a group's address text stands for; nothing when the
// text is empty, not a number or beyond 0xFFFF (never 0x0000 instead).
std::optional<std::uint16_t> RowAddress(std::string_view text);
// The first group (1 … 4) whose "Poll Radio" is ticked and whose address
// text is typed but no address: the automatic poll does not start with it.
// A group with no text is simply not polled.
std::optional<int> BadPolledAddress(const std::array<std::string, kRemoteRadios>& addressTexts,
                                    const std::array<bool, kRemoteRadios>& pollTicked);

// The group (1 … 4) an I/O event from `address` belongs to: the first whose
// address text is a number equal to it; nothing when none is. A text that
// is not a number (an empty one included) matches no address.
std::optional<int> MatchIoEvent(const std::array<std::string, kRemoteRadios>& addressTexts, std::uint16_t address);

// Copies an I/O event's data, at most bank 5's length, over the slot's bank 5.
void ApplyIoData(RadioImage& image, RadioIndex slot, std::span<const std::uint8_t> data);

// The automatic poll's rules. A cycle is started by the timer and re-arms it
// at its end while polling runs, so cycles never overlap: a timer that fires
// while a cycle is in progress is ignored, the running cycle re-arms it.
class PollSchedule {
 public:
  static constexpr int kNoDelayMs = 10;

  // Interval for a refresh delay text: its seconds, or 10 ms for 0; a text
  // that is not a number counts as 1 second.
  static int IntervalMs(std::string_view delayText);
  // The refresh delay was edited: read once here, the interval of every
  // start, resume and re-arm until the next edit.
  void SetDelay(std::string_view delayText) { intervalMs_ = IntervalMs(delayText); }

  // Start: polling runs; the interval to arm the timer with.
  int Start();
  // Stop: polling ends; a cycle in progress still finishes.
  void Stop() {
    running_ = false;
    paused_ = false;
  }
  // Disconnect: polling ends and a cycle in progress stops after the
  // request that is waiting.
  void Abandon();
  // Pause (the terminal holds the port): no cycle begins, and a cycle in
  // progress polls no further radio; polling keeps running. True when
  // polling runs.
  bool Pause();
  // Back from the pause: the interval to arm the timer with while polling
  // runs, or nothing.
  std::optional<int> Resume();
  bool Paused() const { return paused_; }
  // The timer fired: true when a cycle begins now.
  bool BeginCycle();
  // The cycle in progress was abandoned (or paused): it polls no further
  // radio.
  bool Abandoned() const { return abandoned_ || paused_; }
  // The cycle ended: the interval to re-arm the timer with, or nothing.
  std::optional<int> EndCycle();

  bool Running() const { return running_; }
  bool InCycle() const { return inCycle_; }

 private:
  bool running_ = false;
  bool inCycle_ = false;
  bool abandoned_ = false;
  bool paused_ = false;
  int intervalMs_ = 1000;  // a delay of 1 second until one is set
};

}  // namespace qmx

// The simulated radios' registers: one radio's banks with their factory,
// saved and working values, the checks of reads and writes, and the factory
// override that guards the protected registers.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "link/frame.h"
#include "link/serial_port.h"

namespace qmx::sim {

// One radio's register banks (0-6 and 16, in that order). Reads and writes
// of the commands go through the checks first; the other calls take bytes
// within a bank's bounds only.
class RegisterStore {
 public:
  static constexpr std::size_t kBankCount = 8;
  static constexpr std::size_t kLongestBank = 75;
  using BankBytes = std::array<std::uint8_t, kLongestBank>;
  using Banks = std::array<BankBytes, kBankCount>;

  // The factory settings of a base or of a remote at `address`; `index`
  // (1, 2, 3 … for remotes, 0 for the local radio) gives each remote its own
  // MAC address, pins and readings. Working and saved values start as these.
  static RegisterStore Factory(std::uint16_t address, bool base, std::uint8_t index);

  // The announce code that refuses a read, 0 when it is allowed.
  static std::uint8_t CheckRead(std::uint8_t bank, std::uint8_t reg, std::uint8_t span);
  // The announce code that refuses a write (bank 255 actions included), 0
  // when it is allowed. `local`: from Set Register rather than carried to a
  // remote; `overrideArmed`: the factory override covers this write.
  std::uint8_t CheckWrite(std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> data, bool local,
                          bool overrideArmed) const;
  // A read that passed CheckRead: the span is cut at the bank's end.
  std::vector<std::uint8_t> Read(std::uint8_t bank, std::uint8_t reg, std::uint8_t span) const;
  // A write of a register bank (not an action) that passed CheckWrite.
  void Write(std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> data);

  // Working or saved bytes, any bank; nothing out of the bank's bounds.
  std::optional<std::vector<std::uint8_t>> Peek(std::uint8_t bank, std::uint8_t reg, std::uint8_t span,
                                                bool saved) const;
  // Overwrites working bytes, any bank; false out of the bank's bounds.
  bool Poke(std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> bytes);

  // Bank 255 register 0xFF: data 0 loads the factory settings into the
  // working ones, data 1 saves the working settings.
  void LoadDefaults();
  void Save();
  // A cold start's settings: the saved ones, with bank 2's live values kept.
  void ReloadSaved();
  // What a start does to the working values: statistics from zero, outputs
  // at their initial levels.
  void Start();

  // The line bank 3 sets, when its codes are valid.
  std::optional<LineSettings> Line() const;
  // Sets bank 3 to `codes` in the working and saved settings.
  void SetLineCodes(const std::array<std::uint8_t, 2>& codes);
  std::uint8_t DeviceMode() const;
  // Bank 2's link status.
  bool LinkUp() const;
  void SetLinkUp(bool up);

  // Adds one to the bank 16 counter of `width` bytes at `reg`.
  void Count(std::uint8_t reg, std::uint8_t width);
  // The ADC readings and the voltage move a step or so.
  void DriftInputs(std::mt19937& rng);
  void SetUptime(std::uint32_t seconds);

  Banks working{};
  Banks saved{};
  Banks factory{};
  // FCC mode set since the radio's last start, 0 when none.
  int fccMode = 0;
};

// The factory override: a write of bank 255 register 0x6A permits the next
// write of a protected register (the MAC address, the FCC mode) and repeats
// of that same write (a retransmission after a lost reply). The override
// itself may be repeated; any other command ends it.
class FactoryOverride {
 public:
  static bool Protects(std::uint8_t bank, std::uint8_t reg);

  // Every command, before it is handled: decides whether it is armed.
  void Track(std::uint8_t type, std::span<const std::uint8_t> payload);
  // The command being handled may write a protected register.
  bool Armed() const { return armed_; }
  // The override was written.
  void Grant();
  // `write`, a protected write, used it; only its repeats may follow.
  void Use(const Frame& write);
  // A start ends it.
  void Reset();

 private:
  bool armed_ = false;  // for the command being handled
  bool fresh_ = false;  // granted and no protected write used it yet
  std::optional<std::vector<std::uint8_t>> usedBy_;  // type and payload of the write that used it
};

}  // namespace qmx::sim

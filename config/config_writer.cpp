#include "config/config_writer.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <string>

#include "link/command_layer.h"
#include "link/transport.h"

namespace qmx {

bool TransportLinePort::GetLine(LineSettings& out) { return transport_.ReadLine(out); }
bool TransportLinePort::SetLine(const LineSettings& line) { return transport_.ApplyLine(line); }

namespace {

// The radio a target names for the command layer: local, or remote at its
// address.
RadioAddress RadioOf(ConfigTarget target) {
  return target.Remote() ? RadioAddress::Remote(target.address) : RadioAddress::Local();
}

// One attempt, no retry: the serial-line write and its read-back.
constexpr ReplyWait kOneTry{kUsualReplyWait.timeoutMs, 0};

// Action registers of bank 255.
constexpr std::uint8_t kFccRegister = 0x06;

// Bank 3, register 1.
constexpr std::uint8_t kParityOn = 0x20;
constexpr std::uint8_t kParityOdd = 0x10;
constexpr std::uint8_t kTwoStopBits = 0x08;
constexpr std::uint32_t kFactoryBaud = 9600;

// The texts of a failure, worded as Apply words it.
void Note(std::vector<FailureText>& failures, Operation operation, Status status, Variant variant) {
  if (auto text = FailureOf(operation, status, variant)) failures.push_back(std::move(*text));
}

PacketRecord Record(ConfigTarget target, RegisterAddress at, std::span<const std::uint8_t> data) {
  PacketRecord rec;
  rec.NetworkAddress = target.address;
  rec.Register = at.reg;
  rec.Bank = at.bank;
  rec.Span = static_cast<std::uint8_t>(std::min(data.size(), rec.Data.size()));
  std::copy_n(data.begin(), rec.Span, rec.Data.begin());
  return rec;
}

// One register write to the target: Set Register locally, Set Remote
// Register to the target's address for a remote radio.
Done Write(CommandLayer& link, ConfigTarget target, RegisterAddress at, std::span<const std::uint8_t> data,
          ReplyWait wait = kUsualReplyWait) {
  PacketRecord rec = Record(target, at, data);
  return link.SetRegister(rec, wait, RadioOf(target));
}

// The first byte of one register of the target, or nothing.
std::optional<std::uint8_t> ReadByte(CommandLayer& link, ConfigTarget target, RegisterAddress at, ReplyWait wait) {
  PacketRecord rec = Record(target, {at.bank, at.reg, 1}, {});
  rec.Span = 1;
  const Result<int> span = link.GetRegister(rec, wait, RadioOf(target));
  if (!span || *span < 1) return std::nullopt;
  return rec.Data[0];
}

Done Save(CommandLayer& link, ConfigTarget target) { return link.MemorySave(kUsualReplyWait, RadioOf(target)); }

bool SameRegister(const Setting& a, const Setting& b) {
  return a.address.bank == b.address.bank && a.address.reg == b.address.reg;
}

// Changes the PC port's line by `change`; a line that could not be read is
// not written back half-known.
Done SwitchLine(LinePort& port, const std::function<void(LineSettings&)>& change) {
  LineSettings line;
  if (!port.GetLine(line)) return Done::Fail(Operation::LineSettings, Status::LineNotRead);
  change(line);
  if (!port.SetLine(line)) return Done::Fail(Operation::LineSettings, Status::LineNotApplied);
  return {};
}

std::uint32_t BaudOfCode(const Setting& s, std::uint8_t code) {
  for (const auto& item : s.items)
    if (item.code == code) return static_cast<std::uint32_t>(std::stoul(item.text));
  return kFactoryBaud;
}

// The sequence of a setting the PC port's line follows: one attempt at the
// write, the PC port switched (local radio only), one attempt at the
// read-back, which decides.
bool WriteSerial(CommandLayer& link, LinePort& port, ConfigTarget target, const ConfigWrite& w,
                 std::vector<FailureText>& failures) {
  const Setting& s = *w.setting;
  const bool baud = s.line == LineRole::Baud;
  const std::uint8_t code = w.data.empty() ? 0 : w.data[0];
  const std::uint8_t data[] = {code};
  (void)Write(link, target, {s.address.bank, s.address.reg, 1}, data, kOneTry);
  if (!target.Remote()) {
    const Done switched = SwitchLine(port, [&](LineSettings& line) {
      if (baud) {
        line.baudRate = BaudOfCode(s, code);
        return;
      }
      line.parity = !(code & kParityOn) ? parity::None : (code & kParityOdd) ? parity::Odd : parity::Even;
      line.stopBits = (code & kTwoStopBits) ? stopbits::Two : stopbits::One;
    });
    if (!switched) Note(failures, switched.operation(), switched.status(), Variant::Apply);
  }
  const auto back = ReadByte(link, target, s.address, kOneTry);
  if (back && *back == code) return true;
  if (back) Note(failures, Operation::SetRegister, Status::Mismatch, baud ? Variant::Baud : Variant::SerialParams);
  else failures.push_back({s.failure, s.caption, {}});
  return false;
}

}  // namespace

std::optional<std::vector<ConfigWrite>> WritesFor(std::span<const std::uint8_t> slot,
                                                  std::span<const SettingText> wanted, std::string& error) {
  // The radio's image with the wanted values put in, in table order, so that
  // settings sharing a byte see each other.
  std::vector<std::uint8_t> after(slot.begin(), slot.end());
  // The table is one array: its rows' addresses are in table order. A
  // setting named twice takes its texts in the order given.
  std::vector<const SettingText*> ordered;
  for (const SettingText& w : wanted) ordered.push_back(&w);
  const auto byRow = [](const SettingText* a, const SettingText* b) {
    return std::less<const Setting*>()(a->setting, b->setting);
  };
  if (!std::is_sorted(ordered.begin(), ordered.end(), byRow)) std::stable_sort(ordered.begin(), ordered.end(), byRow);
  std::vector<const Setting*> named;
  for (const SettingText* w : ordered) {
    const Setting& s = *w->setting;
    if (s.shownOnly) {
      error = std::string(s.key) + ": shown only, never written";
      return std::nullopt;
    }
    std::string why;
    const auto data = ParseSetting(s, w->text, after, why);
    if (!data) {
      error = std::string(s.key) + ": " + why;
      return std::nullopt;
    }
    PutSetting(s, after, *data);
    if (named.empty() || named.back() != &s) named.push_back(&s);
  }
  // A setting is written when its value as shown changes: a radio holding 2
  // for an on/off setting already is "on", and a shared byte is written
  // under the setting that changes it (parity, stop bits or both at once).
  std::vector<ConfigWrite> writes;
  for (const Setting* s : named) {
    const auto at = static_cast<std::ptrdiff_t>(ImageOffset(s->address.bank, s->address.reg));
    const auto first = after.begin() + at, last = first + s->address.span;
    const bool differs = SettingDiffers(*s, after, slot);
    if ((!differs && s->encoding != Encoding::Key) || (!writes.empty() && SameRegister(*writes.back().setting, *s)))
      continue;
    ConfigWrite write{s, {first, last}};
    for (const Setting& other : Settings())
      if (SameRegister(other, *s) && !other.shownOnly && (&other == s || SettingDiffers(other, after, slot)))
        write.changes.push_back(&other);
    writes.push_back(std::move(write));
  }
  return writes;
}

bool TakesEffectAtStart(const Setting& setting) { return setting.atStart; }

ApplyResult SendConfiguration(CommandLayer& link, LinePort& line, ConfigTarget target,
                              std::span<const ConfigWrite> writes,
                              const std::function<void(const ConfigWrite&)>& succeeded) {
  ApplyResult result;
  if (const Done entered = link.EnterProtocolMode(); !entered) {
    Note(result.failures, Operation::EnterProtocolMode, entered.status(), Variant::Apply);
    return result;
  }
  for (const ConfigWrite& w : writes) {
    if (!w.setting || w.setting->shownOnly) continue;  // shown only, never written
    bool ok;
    if (w.setting->line != LineRole::None) {
      ok = WriteSerial(link, line, target, w, result.failures);
    } else {
      ok = Write(link, target, w.setting->address, w.data).ok();
      if (!ok) result.failures.push_back({w.setting->failure, w.setting->caption, {}});
    }
    if (!ok) {
      ++result.failed;
      continue;
    }
    ++result.written;
    result.needsReset = result.needsReset || TakesEffectAtStart(*w.setting);
    if (succeeded) succeeded(w);
  }
  if (result.written == 0) {
    result.outcome = ApplyOutcome::NoChanges;
    return result;
  }
  if (const Done saved = Save(link, target); !saved) {
    Note(result.failures, Operation::MemorySave, saved.status(), Variant::Apply);
    result.outcome = ApplyOutcome::SaveFailed;
    return result;
  }
  result.outcome = ApplyOutcome::Saved;
  return result;
}

Done ReenterAfterApply(CommandLayer& link, ConfigTarget target, bool reset) {
  if (reset) (void)ResetRadio(link, target);
  return link.EnterProtocolMode().During(Operation::EnterProtocolMode);
}

Done ResetRadio(CommandLayer& link, ConfigTarget target) { return link.SoftwareReset(RadioOf(target)); }

DefaultsResult LoadDefaults(CommandLayer& link, LinePort& line, ConfigTarget target,
                            const std::function<bool()>& confirmReset) {
  if (Done loaded = link.LoadFactoryDefaults(RadioOf(target)); !loaded)
    return {DefaultsOutcome::Failed, std::move(loaded).During(Operation::FactoryDefaults)};
  if (!confirmReset || !confirmReset()) return {DefaultsOutcome::NotReset, {}};
  (void)ResetRadio(link, target);
  if (!target.Remote()) {
    const Done switched = SwitchLine(line, [](LineSettings& settings) {
      settings.baudRate = kFactoryBaud;
      settings.parity = parity::None;
      settings.stopBits = stopbits::One;
    });
    if (!switched) return {DefaultsOutcome::LineFailed, switched};
  }
  if (Done entered = link.EnterProtocolMode(); !entered)
    return {DefaultsOutcome::NotReentered, std::move(entered).During(Operation::EnterProtocolMode)};
  return {DefaultsOutcome::Done, {}};
}

namespace {

// Protocol mode and the Factory Override, before a protected write.
Done EnterAndOverride(CommandLayer& link) {
  if (Done entered = link.EnterProtocolMode(); !entered)
    return std::move(entered).During(Operation::EnterProtocolMode);
  return link.FactoryOverride().During(Operation::FactoryOverride);
}

}  // namespace

Done SetFccMode(CommandLayer& link, ConfigTarget target, int mode) {
  if (Done ready = EnterAndOverride(link); !ready) return ready;
  const std::uint8_t data[] = {static_cast<std::uint8_t>(mode)};
  return Write(link, target, {kActionBank, kFccRegister, 1}, data).During(Operation::SetRegister);
}

std::optional<std::array<std::uint8_t, 8>> ParseMacText(std::string_view text) {
  if (text.size() != 23) return std::nullopt;
  std::array<std::uint8_t, 8> out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::size_t at = 21 - 3 * i;  // the pair of byte i, zero-based
    std::uint8_t value = 0;
    for (std::size_t k = 0; k < 2; ++k) {
      const auto c = static_cast<unsigned char>(text[at + k]);
      if (!std::isxdigit(c)) return std::nullopt;
      const int digit = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
      value = static_cast<std::uint8_t>(value * 16 + digit);
    }
    out[i] = value;
  }
  return out;
}

Done WriteMacAddress(CommandLayer& link, std::string_view text) {
  const auto bytes = ParseMacText(text);
  if (!bytes) return Done::Fail(Operation::CheckInput, Status::BadInput);
  if (Done ready = EnterAndOverride(link); !ready) return ready;
  if (Done set = Write(link, {}, {2, 0, 8}, *bytes); !set)
    return std::move(set).During(Operation::SetRegister);
  return link.MemorySave().During(Operation::MemorySave);
}

}  // namespace qmx

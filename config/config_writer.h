// Writing a radio's configuration and its action registers: the Apply
// sequence of the configuration dialog (also behind `qmxctl config set`),
// Reset, Defaults, the FCC test modes and the MAC address. Plain C++: every
// change of the PC port's line goes through a LinePort, every frame through
// the CommandLayer. Nothing here shows a box: each operation returns what
// failed (the operation and its status, the texts in link/failure_text.h),
// and config/config_report.h shows it as the dialog and qmxctl do. The
// caller shows the busy cursor around these calls.
//
// Which settings ask for a reset after Apply: those the module takes up only
// when it starts (the settings table's `atStart`) — device mode, initial PAN
// ID, sleep mode, security mode, security key, channel list and protocol mode
// (the mode it starts in). The serial line does not: the module switches its line at once and the read-
// back over the switched port confirms it. Everything else acts at once.
//
// A remote radio (target index 1 … 4) is written with Set Remote Register to
// the target's address. Its serial line is a matter between that radio and
// whatever hangs on its own UART, so for a remote the PC port is never
// switched: the write and the read-back go over the air, the local link
// stays as it is. For the same reason Defaults on a remote radio leaves the
// PC port at its line. The remote forms of reset, defaults and memory save
// use the target's address (not the Poll I/O row's field), with the time-
// outs and retries the command layer uses for its remote forms.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/register_map.h"
#include "config/settings_model.h"
#include "link/failure_text.h"
#include "link/result.h"
#include "link/serial_port.h"

namespace qmx {

class CommandLayer;
class SerialTransport;

// The line settings of the open PC port (the "DCB"): read them, change them.
// Neither shows a message; the callers show their own.
class LinePort {
 public:
  virtual ~LinePort() = default;
  virtual bool GetLine(LineSettings& out) = 0;
  virtual bool SetLine(const LineSettings& line) = 0;
};

// The link's own port.
class TransportLinePort : public LinePort {
 public:
  explicit TransportLinePort(SerialTransport& transport) : transport_(transport) {}
  bool GetLine(LineSettings& out) override;
  bool SetLine(const LineSettings& line) override;

 private:
  SerialTransport& transport_;
};

// The radio written: 0 the local radio; 1 … 4 a remote radio at `address`.
struct ConfigTarget {
  RadioIndex index = 0;
  std::uint16_t address = 0;
  bool Remote() const { return index != 0; }
};

// One setting to write with its span bytes. Parity and stop bits share one
// byte (bank 3 register 1): they are one write, under either setting, with
// the whole byte, and it changes both when both differ.
struct ConfigWrite {
  ConfigWrite() = default;
  ConfigWrite(const Setting* s, std::vector<std::uint8_t> bytes, std::vector<const Setting*> changed = {})
      : setting(s), data(std::move(bytes)), changes(std::move(changed)) {}

  const Setting* setting = nullptr;
  std::vector<std::uint8_t> data;
  // Every setting whose value the write changes, in table order; empty for
  // `setting` alone.
  std::vector<const Setting*> changes;

  // The settings the write changes, each reported on its own.
  std::vector<const Setting*> Changes() const { return changes.empty() ? std::vector{setting} : changes; }
};

// A setting's wanted value as text (as `config show` prints it).
struct SettingText {
  const Setting* setting = nullptr;
  std::string text;
};

// The writes, in table order, that bring a radio whose image slot is `slot`
// to the wanted texts: only settings whose value as shown (FormatSetting)
// differs from what the radio holds, the security key (never read back)
// whenever it is named, parity and stop bits as one write of their byte,
// under whichever of them changes (the first when both do, with both in its
// `changes`). A text that does not parse, or a
// setting that is shown only, gives nothing with "key: reason" in `error`.
std::optional<std::vector<ConfigWrite>> WritesFor(std::span<const std::uint8_t> slot,
                                                  std::span<const SettingText> wanted, std::string& error);

// True for the settings that make Apply ask whether to reset (the table's
// `atStart`, see the top).
bool TakesEffectAtStart(const Setting& setting);

enum class ApplyOutcome {
  NotEntered,     // protocol mode could not be entered; nothing written
  NoChanges,      // nothing took effect ("No changes were detected.")
  SaveFailed,     // writes took effect but Memory Save failed
  Saved,          // saved; the reset question (if asked) answered and done
  ReenterFailed,  // saved, but protocol mode not re-entered after the question
};

struct ApplyResult {
  ApplyOutcome outcome = ApplyOutcome::NotEntered;
  int written = 0;  // writes that took effect
  int failed = 0;   // writes that failed (each with its failure texts)
  // A setting that acts only at start took effect: the reset question is due.
  bool needsReset = false;
  bool resetAsked = false;
  bool reset = false;  // the radio was told to reset
  // What failed, in the order it happened: protocol mode, each write (the
  // setting's own texts, the PC line's, a read-back that differs), Memory
  // Save.
  std::vector<FailureText> failures;
};

// Steps 2 … 6 of Apply: enter protocol mode; each write in the order given
// (the caller passes them in table order), the two serial settings with
// their single-attempt write, PC line switch (local radio only) and
// read-back; Memory Save when anything took effect. `succeeded` (may be
// empty) is called for each write that took effect, so the caller moves
// that control's baseline.
ApplyResult SendConfiguration(CommandLayer& link, LinePort& line, ConfigTarget target,
                              std::span<const ConfigWrite> writes,
                              const std::function<void(const ConfigWrite&)>& succeeded);

// Step 7, after the reset question: the reset when `reset`, then protocol
// mode again (its failure during EnterProtocolMode).
Done ReenterAfterApply(CommandLayer& link, ConfigTarget target, bool reset);

// "Reset": Software Reset of the target; the result is not reported.
// Returns the command's result.
Done ResetRadio(CommandLayer& link, ConfigTarget target);

enum class DefaultsOutcome {
  Failed,        // Load Factory Defaults failed
  NotReset,      // defaults loaded; the user chose not to reset
  LineFailed,    // reset, but the PC port's line could not be set
  NotReentered,  // reset, line set, protocol mode not entered again
  Done,          // reset, PC port at 9600 8N1 (local radio), protocol mode on
};

struct DefaultsResult {
  DefaultsOutcome outcome = DefaultsOutcome::Failed;
  Done result;  // the step that failed: FactoryDefaults, LineSettings, EnterProtocolMode
};

// "Defaults": Load Factory Defaults, `confirmReset` (the question whether
// to reset), on Yes a reset, the PC port to 9600 baud, no parity, one stop
// bit (local radio only), protocol mode again.
DefaultsResult LoadDefaults(CommandLayer& link, LinePort& line, ConfigTarget target,
                            const std::function<bool()>& confirmReset);

// "FCC1", "FCC2", "FCC4": enter protocol mode, Factory Override (always the
// local radio), then the mode (1, 2 or 4) into bank 255 register 6 of the
// target (SetRegister). Nothing is shown on success.
Done SetFccMode(CommandLayer& link, ConfigTarget target, int mode);

// MAC address text: exactly 23 characters, eight pairs of hexadecimal digits
// most significant first, one separator of any kind between pairs (only the
// pairs are read). Returns the eight register bytes, least significant first
// (byte 0 = the last pair), or nothing when the length is wrong or a pair is
// not two hexadecimal digits: a mistyped address is refused rather than
// written as 0 into the radio's identity.
std::optional<std::array<std::uint8_t, 8>> ParseMacText(std::string_view text);

// The MAC address dialog's Write: parse (CheckInput, BadInput: nothing
// sent), enter protocol mode, Factory Override, Set Register bank 2 register
// 0 span 8, Memory Save (a failure there leaves the address set, not
// saved); on the local radio. The failure says which step.
Done WriteMacAddress(CommandLayer& link, std::string_view text);

}  // namespace qmx

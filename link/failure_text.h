// The one place where a failed operation becomes what the user reads: the
// message, the caption and, where the system gave one, the reason below
// them. Every failure text of the program lives in failure_text.cpp, looked
// up by (operation, status, variant); the settings table keeps only the texts
// of its own settings' writes. The link itself never shows anything; the
// caller that decides a failure is worth a box (or the link's wiring, for
// faults found on the port's own threads) shows it with one ShowFailure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/result.h"

namespace qmx {

class Prompter;

// The wording a place uses for an operation's failure, where the places of
// the program word the same failure differently. A variant without a text of
// its own for an operation takes the operation's Plain text.
enum class Variant : std::uint8_t {
  Plain,
  TryAgain,    // the Serial and Diagnostics tabs
  Packet,      // the packet builder's commands
  Apply,       // the configuration dialog's Apply
  ApplyReset,  // protocol mode again after Apply's reset
  Defaults,    // the configuration dialog's Defaults
  Mac,         // the MAC address dialog
  Fcc,         // the FCC test modes (subject: the mode)
  Baud,        // a serial write read back different: the baud rate
  SerialParams,  // … parity or stop bits
  Dialog,      // the port settings dialog
  // The firmware upgrade's steps.
  BootPrompt,
  Prompt,
  Transfer,
  Answer,
  TooLarge,    // subject: the file's size
  NoFirmware,  // subject: the file's size
  Quiet,       // no box: the status line says it
};

struct FailureText {
  std::string message;
  std::string caption;
  std::string detail;  // below the message; empty for none
  bool operator==(const FailureText&) const = default;
};

// The texts of `operation` failing with `status` where `variant` words it;
// `subject` (a file name, a size, a mode) goes where the text names one.
// Nothing when that failure is shown nowhere.
std::optional<FailureText> FailureOf(Operation operation, Status status = Status::NoReply,
                                     Variant variant = Variant::Plain, std::string_view subject = {});

// The texts of a failed result, with the system's reason as the detail line
// where the operation shows one (opening the port).
template <class T>
std::optional<FailureText> FailureOf(const Result<T>& result, Variant variant = Variant::Plain,
                                     std::string_view subject = {}) {
  if (result) return std::nullopt;
  return FailureOf(result.operation(), result.status(), variant, subject.empty() ? result.reason() : subject);
}

// The texts of a failed port operation (open, line settings, write, thread)
// that says only its status; nothing for a status the caller words itself.
std::optional<FailureText> PortFailureText(Status status, const std::string& reason);

struct LineErrorText {
  const char* message;
  const char* caption;
};
// Message and caption of the first line error flag (link/serial_port.h's
// lineerror bits) set in `flags`, in report order; nullptr fields when none
// is set.
LineErrorText FirstLineError(unsigned flags);
// The same as a box's texts; nothing when no flag is set.
std::optional<FailureText> LineErrorFailureText(unsigned flags);

// A log file ("logfile.dat", "diagfile.dat") could not be opened.
FailureText LogFileFailureText(std::string_view fileName);

// One box: with its detail line when there is one.
void ShowFailure(Prompter& prompter, const FailureText& text);
// A box when there is a text; nothing otherwise.
void ShowFailure(Prompter& prompter, const std::optional<FailureText>& text);

// Shows the failure of `result`, if it has texts; returns whether the
// operation succeeded.
template <class T>
bool ShowFailure(Prompter& prompter, const Result<T>& result, Variant variant = Variant::Plain,
                 std::string_view subject = {}) {
  if (result) return true;
  ShowFailure(prompter, FailureOf(result, variant, subject));
  return false;
}

// Shows the port failure of `result` (a result that names no operation is
// worded by its status); returns whether the operation succeeded.
template <class T>
bool ShowPortFailure(Prompter& prompter, const Result<T>& result) {
  if (result) return true;
  ShowFailure(prompter, result.operation() == Operation::None ? PortFailureText(result.status(), result.reason())
                                                              : FailureOf(result));
  return false;
}

}  // namespace qmx

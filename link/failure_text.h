// The one place where a failed link operation becomes what the user reads:
// the message, the caption and, where the system gave one, the reason below
// them. The link itself never shows anything; the caller that decides a
// failure is worth a box (or the link's wiring, for faults found on the
// port's own threads) shows it through these.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/result.h"

namespace qmx {

class Prompter;

struct FailureText {
  std::string message;
  std::string caption;
  std::string detail;  // below the message; empty for none
};

// The texts of a failed port operation (open, line settings, write);
// nothing for a status the caller words itself or that is shown nowhere.
std::optional<FailureText> PortFailureText(Status status, const std::string& reason);
// The text of the first line error of `flags` in report order; nothing when
// none is set.
std::optional<FailureText> LineErrorFailureText(unsigned flags);

// A log file ("logfile.dat", "diagfile.dat") could not be opened.
FailureText LogFileFailureText(std::string_view fileName);

// One box: with its detail line when there is one.
void ShowFailure(Prompter& prompter, const FailureText& text);

// Shows the port failure of `result`, if it has texts; returns whether the
// operation succeeded.
template <class T>
bool ShowPortFailure(Prompter& prompter, const Result<T>& result) {
  if (result) return true;
  if (auto text = PortFailureText(result.status(), result.reason())) ShowFailure(prompter, *text);
  return false;
}

}  // namespace qmx

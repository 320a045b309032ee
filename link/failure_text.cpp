#include "link/failure_text.h"

#include "link/prompter.h"
#include "link/serial_port.h"

namespace qmx {

namespace {
constexpr char kSetupFailed[] = "Could not setup comm port.  Please try again.";
}  // namespace

std::optional<FailureText> PortFailureText(Status status, const std::string& reason) {
  switch (status) {
    case Status::CannotOpen:
      return FailureText{"Could not open selected CommPort.  Please close all programs and try again.",
                         "Invalid Comm Port", reason};
    case Status::ThreadFailed:
      return FailureText{"Thread Creation Failed", "Thread Error", {}};
    case Status::LineNotRead:
      return FailureText{kSetupFailed, "Get DCB Error", {}};
    case Status::LineNotApplied:
      return FailureText{kSetupFailed, "Set DCB Error", {}};
    case Status::WriteFailed:
      return FailureText{"Could not write data to comm port please check cable and radio power.",
                         "Comm Port Write Problem", {}};
    default:
      return std::nullopt;
  }
}

std::optional<FailureText> LineErrorFailureText(unsigned flags) {
  const LineErrorText text = FirstLineError(flags);
  if (!text.message) return std::nullopt;
  return FailureText{text.message, text.caption, {}};
}

FailureText LogFileFailureText(std::string_view fileName) {
  return {"Erroring opening " + std::string(fileName), "LogFile Error", {}};
}

void ShowFailure(Prompter& prompter, const FailureText& text) {
  if (text.detail.empty()) prompter.Message(text.message, text.caption);
  else prompter.MessageWithDetail(text.message, text.caption, text.detail);
}

}  // namespace qmx

#include "tools/diag_log.h"

#include "link/decoder.h"
#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/workdir.h"

namespace qmx {

namespace {
constexpr std::string_view kCrLf = "\r\n";
}

DiagLog::DiagLog(const WorkDir& dir, Prompter& prompter)
    : dir_(dir), prompter_(prompter), timestamp_(TimestampText) {}

void DiagLog::Write(std::string_view text, bool endLine) {
  if (!logToFile_) return;
  RotatingLogFile file(dir_, kStem, renamer_);
  if (!file.IsOpen()) {
    ShowFailure(prompter_, LogFileFailureText(kFileName));
    return;
  }
  if (!headerWritten_) {
    headerWritten_ = true;
    std::string header(kLogHeaderFirstLine);
    header += kCrLf;
    header += timestamp_ ? timestamp_() : TimestampText();
    header += kCrLf;
    file.Write(header);
  }
  file.Write(text);
  if (endLine) file.Write(kCrLf);
}

}  // namespace qmx

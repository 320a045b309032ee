// diagfile.dat: the lines of the diagnostics window (poll and scan results,
// notes) in the working directory, CR LF line ends. The first line written
// in a run of the program is preceded by a header of two lines; a file past
// 1000000 bytes is moved to diagfileN.bak as the data log is. The file is
// opened and closed in every call. Used on one thread (the window's).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "link/data_log.h"

namespace qmx {

class WorkDir;
class Prompter;

class DiagLog {
 public:
  static constexpr std::string_view kStem = "diagfile";
  static constexpr std::string_view kFileName = "diagfile.dat";

  DiagLog(const WorkDir& dir, Prompter& prompter);

  // "Log To File": while off, nothing is opened or written.
  void SetLogToFile(bool on) { logToFile_ = on; }
  bool LogToFile() const { return logToFile_; }
  // Replaces the date/time source of the header (tests).
  void SetClock(std::function<std::string()> timestamp) { timestamp_ = std::move(timestamp); }
  // Replaces the rename of a full file to its backup name (tests).
  void SetRenamer(LogRenamer renamer) { renamer_ = std::move(renamer); }

  // Writes `text` and, with endLine, CR LF. An open failure is shown
  // ("Erroring opening diagfile.dat") and the text is lost.
  void Write(std::string_view text, bool endLine);

 private:
  const WorkDir& dir_;
  Prompter& prompter_;
  bool logToFile_ = true;
  bool headerWritten_ = false;
  std::function<std::string()> timestamp_;
  LogRenamer renamer_;
};

}  // namespace qmx

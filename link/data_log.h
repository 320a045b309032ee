// logfile.dat: every frame sent and received while "Log Data" is on, as hex
// with a short text, CR LF line ends, rotated to logfileN.bak past 1000000
// bytes. Entries collect in one buffer that goes to the file at most a
// second after it was begun, when it grows large, at a rotation, on Flush()
// (a port closed) and when the log goes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "link/version.h"

namespace qmx {

class WorkDir;
struct LinkOptions;

// A log that has grown past this many bytes is moved to a backup name.
inline constexpr std::uintmax_t kLogRotateAbove = 1000000;
// The first line of a log's header block (50 characters).
inline constexpr std::string_view kLogHeaderFirstLine = "New Data------------------------------------------";

// Moves a full log to its backup name; returns whether the file was moved.
// The default never replaces an existing file.
using LogRenamer = std::function<bool(const std::filesystem::path& from, const std::filesystem::path& to)>;

// A log file of the working directory, <stem>.dat, opened for appending
// (created when missing). One that holds more than kLogRotateAbove bytes is
// first moved to the first free name of <stem>0.bak, <stem>1.bak, … and a new
// one begun; when it cannot be moved, writing goes on at its end (it is never
// emptied). Closed when this object goes.
class RotatingLogFile {
 public:
  RotatingLogFile(const WorkDir& dir, std::string_view stem, const LogRenamer& renamer = {});
  ~RotatingLogFile();
  RotatingLogFile(const RotatingLogFile&) = delete;
  RotatingLogFile& operator=(const RotatingLogFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // The file's size now (0 when closed).
  std::uintmax_t Size() const;
  // Write failures are not reported.
  void Write(const void* data, std::size_t length);
  void Write(std::string_view text) { Write(text.data(), text.size()); }

 private:
  int fd_ = -1;
};

class DataLog {
 public:
  static constexpr std::uintmax_t kRotateAbove = kLogRotateAbove;
  static constexpr std::string_view kFileName = "logfile.dat";

  // Buffered entries are written at the latest this long after the first
  // of them, and at once when this many bytes wait.
  static constexpr auto kFlushAfter = std::chrono::seconds(1);
  static constexpr std::size_t kFlushAbove = 64 * 1024;

  DataLog(WorkDir& dir, LinkOptions& options);
  // Writes what is buffered.
  ~DataLog();
  DataLog(const DataLog&) = delete;
  DataLog& operator=(const DataLog&) = delete;

  // Writes what is buffered to the file now.
  void Flush();
  // Flush() and close the file; the next entry opens it again (and sees
  // whatever happened to it meanwhile).
  void Close();

  // The third header line: the program's title and version texts.
  void SetHeaderTitle(std::string title) { headerTitle_ = std::move(title); }
  // Replaces the date/time source of the header (tests).
  void SetClock(std::function<std::string()> timestamp) { timestamp_ = std::move(timestamp); }
  // Replaces the rename of a full file to its backup name (tests).
  using Renamer = LogRenamer;
  void SetRenamer(Renamer renamer) { renamer_ = std::move(renamer); }

  // Writes data (as hex when asHex: two upper-case digits and a space per
  // byte), a CR LF when endLine, and first a header block when header.
  // Nothing at all while "Log Data" is off.
  void LogWrite(const void* data, std::size_t length, bool endLine, bool header, bool asHex);
  void LogWrite(std::string_view text, bool endLine) { LogWrite(text.data(), text.size(), endLine, false, false); }
  void LogHex(std::span<const std::uint8_t> bytes, bool endLine) { LogWrite(bytes.data(), bytes.size(), endLine, false, true); }
  // The header block alone (program start with logging on).
  void LogHeader() { LogWrite(nullptr, 0, false, true, false); }

  // One logged frame: prefix ("Sent Data : "), the bytes as hex, the name,
  // taken under LogLock so that lines of two threads never interleave.
  // With nameOnOwnLine the hex ends its line and the name stands alone.
  void LogFrame(std::string_view prefix, std::span<const std::uint8_t> bytes, std::string_view name,
                bool nameOnOwnLine = false);
  // "Port Open Failed : " and why a port could not be opened, on its own line.
  void LogOpenFailure(std::string_view why);

  bool Enabled() const;
  std::mutex LogLock;

  // Called, on the thread that logs, whenever the log file cannot be opened
  // (the entry is then dropped). Set before anything is logged.
  void SetOpenFailureListener(std::function<void()> listener) { openFailure_ = std::move(listener); }

 private:
  WorkDir& dir_;
  LinkOptions& options_;
  std::function<void()> openFailure_;
  std::string headerTitle_ = "QMXDemo 2.0 Version " QMX_VERSION_TEXT;
  std::function<std::string()> timestamp_;
  Renamer renamer_;

  // Room for `length` more bytes at the buffer's end (mutex_ held); wakes
  // the writer when the buffer was empty.
  char* Extend(std::size_t length);
  void Append(const char* data, std::size_t length);
  void WriteOut();  // mutex_ held
  void WriterLoop();

  // The buffer, the open file and its size with the buffer counted.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string pending_;
  std::unique_ptr<RotatingLogFile> file_;
  std::uintmax_t size_ = 0;
  bool stop_ = false;
  // Started with the first entry: writes the buffer kFlushAfter after it
  // was begun, and sleeps without a time-out while it is empty.
  std::thread writer_;
};

// "FB 05 01 " for {0xFB, 0x05, 0x01}.
std::string HexBytesText(std::span<const std::uint8_t> bytes);

}  // namespace qmx

#include "link/data_log.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "link/decoder.h"
#include "link/options.h"
#include "link/prompter.h"
#include "link/workdir.h"

namespace qmx {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kStem = "logfile";
constexpr unsigned long kMaxBackupNumber = 100000000;

// Moves `from` to `to` unless `to` exists (then the caller tries the next
// backup name).
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot refuse to replace; the caller checked that the
  // name was free a moment ago.
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool Exists(const std::filesystem::path& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

int OpenAppend(const std::filesystem::path& p) {
  int fd;
  do {
    fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::string HexBytesText(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
    text += ' ';
  }
  return text;
}

RotatingLogFile::RotatingLogFile(const WorkDir& dir, std::string_view stem, const LogRenamer& renamer) {
  const std::string stemText(stem);
  const std::filesystem::path path = dir.File(stemText + ".dat");
  fd_ = OpenAppend(path);
  if (fd_ < 0) return;

  struct stat st;
  if (::fstat(fd_, &st) != 0 || static_cast<std::uintmax_t>(st.st_size) <= kLogRotateAbove) return;
  // Move the full file to the first free backup name and start a new one.
  // When it cannot be moved, the entry goes on the end of the old file: it
  // is never emptied.
  for (unsigned long n = 0; n < kMaxBackupNumber; ++n) {
    const std::filesystem::path backup = dir.File(stemText + std::to_string(n) + ".bak");
    if (Exists(backup)) continue;
    if (renamer ? renamer(path, backup) : RenameNoReplace(path, backup)) {
      ::close(fd_);
      fd_ = OpenAppend(path);
      return;
    }
    // Someone took the name in the meantime: try the next; any other
    // failure ends the attempt.
    if (!Exists(backup)) return;
  }
}

RotatingLogFile::~RotatingLogFile() {
  if (fd_ >= 0) ::close(fd_);
}

void RotatingLogFile::Write(const void* data, std::size_t length) {
  if (fd_ < 0 || data == nullptr) return;
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::write(fd_, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // write failures are not reported
    p += n;
    length -= static_cast<std::size_t>(n);
  }
}

DataLog::DataLog(WorkDir& dir, LinkOptions& options, Prompter& prompter)
    : dir_(dir), options_(options), prompter_(prompter), timestamp_(TimestampText), renamer_(RenameNoReplace) {}

bool DataLog::Enabled() const { return options_.logData.load(); }

void DataLog::LogWrite(const void* data, std::size_t length, bool endLine, bool header, bool asHex) {
  if (!Enabled()) return;

  std::string hex;
  if (asHex && length > 0) {
    hex = HexBytesText({static_cast<const std::uint8_t*>(data), length});
    data = hex.data();
    length = hex.size();
  }

  RotatingLogFile file(dir_, kStem, renamer_);
  if (!file.IsOpen()) {
    prompter_.Message("Erroring opening logfile.dat", "LogFile Error");
    return;
  }
  if (header) {
    std::string block;
    block += kLogHeaderFirstLine;
    block += kCrLf;
    block += timestamp_ ? timestamp_() : TimestampText();
    block += kCrLf;
    block += headerTitle_;
    block += kCrLf;
    file.Write(block);
  }
  if (length > 0) file.Write(data, length);
  if (endLine) file.Write(kCrLf);
}

void DataLog::LogFrame(std::string_view prefix, std::span<const std::uint8_t> bytes, std::string_view name,
                       bool nameOnOwnLine) {
  if (!Enabled()) return;
  std::lock_guard lock(LogLock);
  LogWrite(prefix, false);
  LogWrite(bytes.data(), bytes.size(), nameOnOwnLine, false, true);
  LogWrite(name, true);
}

void DataLog::LogOpenFailure(std::string_view why) {
  if (!Enabled()) return;
  std::lock_guard lock(LogLock);
  LogWrite("Port Open Failed : ", false);
  LogWrite(why, true);
}

}  // namespace qmx

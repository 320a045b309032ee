#include "link/data_log.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "link/decoder.h"
#include "link/number_text.h"
#include "link/options.h"
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
  std::string text(bytes.size() * 3, ' ');
  PutHexBytes(text.data(), bytes);
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

std::uintmax_t RotatingLogFile::Size() const {
  struct stat st;
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
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

DataLog::DataLog(WorkDir& dir, LinkOptions& options)
    : dir_(dir), options_(options), timestamp_(TimestampText), renamer_(RenameNoReplace) {}

DataLog::~DataLog() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
  Close();
}

bool DataLog::Enabled() const { return options_.logData.load(); }

void DataLog::WriteOut() {
  if (file_ && !pending_.empty()) file_->Write(pending_);
  pending_.clear();
}

void DataLog::Flush() {
  std::lock_guard lock(mutex_);
  WriteOut();
}

void DataLog::Close() {
  std::lock_guard lock(mutex_);
  WriteOut();
  file_.reset();
}

char* DataLog::Extend(std::size_t length) {
  if (pending_.empty()) {
    if (!writer_.joinable() && !stop_) writer_ = std::thread([this] { WriterLoop(); });
    wake_.notify_one();
  }
  const std::size_t at = pending_.size();
  pending_.resize(at + length);
  size_ += length;
  return pending_.data() + at;
}

void DataLog::Append(const char* data, std::size_t length) {
  if (length > 0) std::memcpy(Extend(length), data, length);
}

void DataLog::WriterLoop() {
  ::pthread_setname_np(::pthread_self(), "qmx-log");
  std::unique_lock lock(mutex_);
  while (!stop_) {
    wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
    if (stop_) break;
    // What comes within the next second goes out with it, in one write.
    wake_.wait_for(lock, kFlushAfter, [this] { return stop_ || pending_.empty(); });
    WriteOut();
  }
}

void DataLog::LogWrite(const void* data, std::size_t length, bool endLine, bool header, bool asHex) {
  if (!Enabled()) return;

  std::unique_lock lock(mutex_);
  // The size counts what waits in the buffer: the file is moved to its
  // backup name exactly where writing every entry at once would move it.
  if (file_ && size_ > kRotateAbove) {
    WriteOut();
    file_.reset();
  }
  if (!file_) {
    auto file = std::make_unique<RotatingLogFile>(dir_, kStem, renamer_);
    if (!file->IsOpen()) {
      lock.unlock();
      if (openFailure_) openFailure_();
      return;
    }
    size_ = file->Size();
    file_ = std::move(file);
  }
  if (header) {
    std::string block;
    block += kLogHeaderFirstLine;
    block += kCrLf;
    block += timestamp_ ? timestamp_() : TimestampText();
    block += kCrLf;
    block += headerTitle_;
    block += kCrLf;
    Append(block.data(), block.size());
  }
  if (length > 0 && data != nullptr) {
    if (asHex)
      PutHexBytes(Extend(length * 3), {static_cast<const std::uint8_t*>(data), length});
    else
      Append(static_cast<const char*>(data), length);
  }
  if (endLine) Append(kCrLf.data(), kCrLf.size());
  if (pending_.size() >= kFlushAbove) WriteOut();
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

#include "link/workdir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "link/prompter.h"

namespace qmx {

namespace fs = std::filesystem;

WorkDir::WorkDir(fs::path dir) : settings_(dir), logs_(std::move(dir)) {}

WorkDir::WorkDir(fs::path settingsDir, fs::path logDir)
    : settings_(std::move(settingsDir)), logs_(std::move(logDir)) {}

fs::path WorkDir::Read(fs::path WorkDir::*folder) const {
  std::lock_guard lock(mutex_);
  return this->*folder;
}

fs::path WorkDir::File(std::string_view name) const { return Read(&WorkDir::logs_) / fs::path(name); }
fs::path WorkDir::Dir() const { return Read(&WorkDir::logs_); }
fs::path WorkDir::SettingsFile(std::string_view name) const { return Read(&WorkDir::settings_) / fs::path(name); }
fs::path WorkDir::SettingsDir() const { return Read(&WorkDir::settings_); }

void WorkDir::SetDir(fs::path dir) { SetDirs(dir, dir); }

void WorkDir::SetDirs(fs::path settingsDir, fs::path logDir) {
  std::lock_guard lock(mutex_);
  settings_ = std::move(settingsDir);
  logs_ = std::move(logDir);
}

// ---- The per-user places.

namespace {

// The folder a base-directory variable names, or `fallback` under HOME.
fs::path BaseDir(const EnvLookup& env, const char* variable, const char* fallback) {
  const auto absolute = [](const char* value) { return value && *value && fs::path(value).is_absolute(); };
  if (const char* value = env(variable); absolute(value)) return value;
  if (const char* home = env("HOME"); absolute(home)) return fs::path(home) / fallback;
  return {};
}

}  // namespace

UserDirs XdgUserDirs(const EnvLookup& env) {
  UserDirs dirs;
  if (fs::path base = BaseDir(env, "XDG_CONFIG_HOME", ".config"); !base.empty()) dirs.settings = base / "qmxdemo";
  if (fs::path base = BaseDir(env, "XDG_STATE_HOME", ".local/state"); !base.empty()) dirs.logs = base / "qmxdemo";
  return dirs;
}

std::optional<std::string> MakePrivateDir(const fs::path& dir) {
  if (dir.empty()) return "no folder named";
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return std::nullopt;
  const fs::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir)
    if (auto why = MakePrivateDir(parent)) return why;
  if (::mkdir(dir.c_str(), 0700) != 0) {
    const int error = errno;
    if (error != EEXIST || !fs::is_directory(dir, ec))
      return "cannot make the folder " + dir.string() + ": " + std::strerror(error == EEXIST ? ENOTDIR : error);
  }
  return std::nullopt;
}

// ---- The lock.

WorkDirLock::WorkDirLock(const fs::path& dir) {
  const fs::path path = dir / kFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    failure_ = "cannot open " + path.string() + ": " + std::strerror(errno);
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      char text[24] = {};
      const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
      if (got > 0) std::from_chars(text, text + got, holder_);
    } else {
      failure_ = "cannot lock " + path.string() + ": " + std::strerror(error);
    }
    ::close(fd);
    return;
  }
  // Whoever finds it held can say who holds it.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
  fd_ = fd;
}

WorkDirLock::~WorkDirLock() {
  if (fd_ >= 0) ::close(fd_);
}

WorkDirLock::WorkDirLock(WorkDirLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), holder_(other.holder_), failure_(std::move(other.failure_)) {}

WorkDirLock& WorkDirLock::operator=(WorkDirLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    holder_ = other.holder_;
    failure_ = std::move(other.failure_);
  }
  return *this;
}

// ---- A second program in the folder.

std::string OwnFolderName(std::string_view port, int n) {
  std::string name;
  if (const auto slash = port.rfind('/'); slash != std::string_view::npos) {
    const std::string_view last = port.substr(slash + 1);
    // A bare number ("/dev/pts/3") says little: its folder goes with it.
    if (!last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos && slash > 0) {
      const std::string_view parent = port.substr(0, slash);
      name = std::string(parent.substr(parent.rfind('/') + 1)) + "-";
    }
    port = last;
  }
  if (port.empty()) return "qmxdemo-" + std::to_string(n + 1);
  name += port;
  for (char& c : name) {
    const bool fits = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.';
    if (!fits) c = '_';
  }
  // Never "." or "..", nor a hidden folder.
  if (name.front() == '.') name.front() = '_';
  return n <= 1 ? name : name + "-" + std::to_string(n);
}

namespace {

// How many folders of its own are tried before giving up.
constexpr int kOwnFolders = 20;
constexpr const char* kInUseCaption = "Folder in Use";

std::string InUseText(const WorkDir& dir, pid_t holder, const fs::path& settings, const fs::path& logs) {
  std::string text = "Another program";
  if (holder > 0) text += " (process " + std::to_string(holder) + ")";
  text += " is using the folder\n" + dir.Dir().string() + "\nfor its log";
  text += settings == logs ? " and settings" : "";
  text += ": this window's files would mix with its files.\n\nUse a folder of its own?\n" + logs.string();
  if (settings != logs) text += "\n(settings in " + settings.string() + ")";
  text += "\n\nCancel ends this program.";
  return text;
}

}  // namespace

std::optional<WorkDirLock> ClaimWorkDir(WorkDir& dir, Prompter& prompter, std::string_view port) {
  WorkDirLock lock(dir.Dir());
  if (!lock.Busy()) return lock;
  std::error_code ec;
  for (int n = 1; n <= kOwnFolders; ++n) {
    const std::string name = OwnFolderName(port, n);
    const fs::path logs = dir.Dir() / name;
    const fs::path settings = dir.SettingsDir() / name;
    // One that a third program holds already is passed over.
    if (fs::exists(logs, ec) && WorkDirLock(logs).Busy()) continue;
    if (!prompter.Confirm(InUseText(dir, lock.Holder(), settings, logs), kInUseCaption)) return std::nullopt;
    for (const fs::path& folder : {logs, settings}) {
      if (auto why = MakePrivateDir(folder)) {
        prompter.Message("This window's folder could not be made: " + *why + ".", kInUseCaption);
        return std::nullopt;
      }
    }
    WorkDirLock own(logs);
    if (own.Busy()) continue;  // taken meanwhile
    dir.SetDirs(settings, logs);
    return own;
  }
  prompter.Message("Every folder of its own under " + dir.Dir().string() + " is in use.", kInUseCaption);
  return std::nullopt;
}

}  // namespace qmx

// The one place the program takes its directories from: the folder of its
// settings (qmxdemo.ini, the window's place) and the folder of its logs
// (logfile.dat, diagfile.dat, their backups) and every other file. Both are
// the working directory unless the program was asked for the per-user
// places. Tests point it at a temporary directory.
//
// A program that writes there holds the folder's lock (WorkDirLock) for as
// long as it runs, so that two programs never write one set of files.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qmx {

class Prompter;

class WorkDir {
 public:
  // Settings and logs in one folder.
  explicit WorkDir(std::filesystem::path dir = std::filesystem::current_path());
  WorkDir(std::filesystem::path settingsDir, std::filesystem::path logDir);
  // A file among the logs (and every other file but the settings).
  std::filesystem::path File(std::string_view name) const;
  std::filesystem::path Dir() const;
  // A settings file.
  std::filesystem::path SettingsFile(std::string_view name) const;
  std::filesystem::path SettingsDir() const;
  // Settings and logs in one folder from now on.
  void SetDir(std::filesystem::path dir);
  void SetDirs(std::filesystem::path settingsDir, std::filesystem::path logDir);

 private:
  std::filesystem::path Read(std::filesystem::path WorkDir::*folder) const;

  mutable std::mutex mutex_;
  std::filesystem::path settings_;
  std::filesystem::path logs_;
};

// The per-user places of the XDG base directories: settings under
// $XDG_CONFIG_HOME/qmxdemo (~/.config), logs under $XDG_STATE_HOME/qmxdemo
// (~/.local/state). A variable that is unset, empty or not an absolute path
// is ignored, as the XDG base directory rules have it.
struct UserDirs {
  std::filesystem::path settings;
  std::filesystem::path logs;
};
using EnvLookup = std::function<const char*(const char*)>;
// Empty paths when neither the variables nor HOME say where.
UserDirs XdgUserDirs(const EnvLookup& env);

// Makes `dir` and its missing parents, each new one private (0700); an
// existing one is kept as it is. The reason on failure, nothing when done
// (`dir` is a directory then, or a link to one).
std::optional<std::string> MakePrivateDir(const std::filesystem::path& dir);

// The lock file of a folder, locked (flock) while its holder runs. The
// system lets go of it when the holder ends, however it ends. A second
// open of the file, in this process or another, does not get it.
class WorkDirLock {
 public:
  static constexpr std::string_view kFileName = "qmxdemo.lock";
  // Tries once, without waiting.
  explicit WorkDirLock(const std::filesystem::path& dir);
  ~WorkDirLock();
  WorkDirLock(WorkDirLock&& other) noexcept;
  WorkDirLock& operator=(WorkDirLock&& other) noexcept;
  WorkDirLock(const WorkDirLock&) = delete;
  WorkDirLock& operator=(const WorkDirLock&) = delete;

  bool Held() const { return fd_ >= 0; }
  // Another open of the file holds it (otherwise a lock not held could not
  // be tried: a folder this user may not write, say).
  bool Busy() const { return fd_ < 0 && failure_.empty(); }
  // Not held: the process that holds it, as it wrote itself into the file
  // (0 when not known); or why the file could not be opened or locked.
  pid_t Holder() const { return holder_; }
  const std::string& Failure() const { return failure_; }

 private:
  int fd_ = -1;
  pid_t holder_ = 0;
  std::string failure_;
};

// The name of the `n`th folder of its own (n from 1) that a second program
// in a folder is offered: the port it was started on ("ttyUSB0",
// "ttyUSB0-2", …), or "qmxdemo-2", "qmxdemo-3", … without one. A port
// given as a path is named by its last part ("pts-3" for "/dev/pts/3",
// whose last part is a bare number); characters that do not belong
// in a folder name become '_'.
std::string OwnFolderName(std::string_view port, int n);

// Takes `dir`'s lock for the program's life. When another program holds
// it, asks through `prompter` whether to use a folder of its own instead
// (the first OwnFolderName not held, under the settings folder and under the
// logs folder); OK makes that folder, points `dir` there and takes its lock.
// Nothing when the user cancelled or the folder could not be had (that has
// been told): the program ends then.
std::optional<WorkDirLock> ClaimWorkDir(WorkDir& dir, Prompter& prompter, std::string_view port);

}  // namespace qmx

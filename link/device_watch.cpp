#include "link/device_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace qmx {

namespace fs = std::filesystem;

DeviceIdentity IdentifyDevice(const std::string& path, const std::string& byIdDir) {
  DeviceIdentity id{path, {}};
  std::error_code ec;
  const fs::path dir = fs::weakly_canonical(byIdDir, ec);
  if (!ec && fs::path(path).parent_path() == dir) {
    id.stableName = path;
    return id;
  }
  const fs::path target = fs::canonical(path, ec);
  if (ec) return id;
  for (const auto& entry : fs::directory_iterator(byIdDir, ec)) {
    std::error_code linkEc;
    if (fs::canonical(entry.path(), linkEc) == target && !linkEc) {
      id.stableName = entry.path().string();
      break;
    }
  }
  return id;
}

DeviceState CheckDevice(const std::string& name) {
  struct stat node {};
  if (::stat(name.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return DeviceState::Absent;
  return ::access(name.c_str(), R_OK | W_OK) == 0 ? DeviceState::Usable : DeviceState::NoAccess;
}

bool DeviceUsable(const std::string& name) { return CheckDevice(name) == DeviceState::Usable; }

std::optional<DeviceNode> NodeOf(const std::string& name) {
  struct stat node {};
  if (::stat(name.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return std::nullopt;
  return DeviceNode{static_cast<unsigned long long>(node.st_dev), static_cast<unsigned long long>(node.st_ino),
                    static_cast<unsigned long long>(node.st_rdev), static_cast<long long>(node.st_ctim.tv_sec),
                    static_cast<long long>(node.st_ctim.tv_nsec)};
}

namespace {

constexpr std::uint32_t kDirEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE | IN_MOVED_FROM;

// Watches the directory of `name`, or, while it does not exist, the nearest
// ancestor that does (a by-id directory vanishes with its last device):
// whatever is created there makes the caller look again.
void WatchTowards(int fd, const std::string& name) {
  fs::path dir = fs::path(name).parent_path();
  while (!dir.empty()) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) {
      ::inotify_add_watch(fd, dir.c_str(), kDirEvents);  // the same directory again is harmless
      return;
    }
    if (dir == dir.root_path()) return;
    dir = dir.parent_path();
  }
}

}  // namespace

bool DeviceWatcher::Start(const std::string& name, std::optional<DeviceNode> lost, Callbacks callbacks) {
  Stop();
  const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return false;
  stop_.reset();
  thread_ = std::thread(&DeviceWatcher::Run, this, fd, name, lost, std::move(callbacks));
  return true;
}

void DeviceWatcher::Stop() {
  if (!thread_.joinable()) return;
  stop_.set();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // stopped from its own callback: it ends by itself
    return;
  }
  thread_.join();
}

void DeviceWatcher::Run(int fd, std::string name, std::optional<DeviceNode> lost, Callbacks callbacks) {
  std::array<char, 4096> events{};
  // The lost node may outlive the hang-up for a moment: it does not count.
  // Once the name was gone (or not ours to use), whatever stands there next
  // is the device come back.
  bool gone = !lost;
  bool toldNoAccess = false;
  for (;;) {
    WatchTowards(fd, name);
    // A link's target changes mode in its own directory (/dev), not in the
    // link's: watch there too, for a device whose access is granted late.
    std::error_code ec;
    if (const fs::path target = fs::canonical(name, ec); !ec) WatchTowards(fd, target.string());
    // Looked at after the watches are in place, so a change in between is
    // not missed.
    const DeviceState state = probe_(name);
    if (state == DeviceState::Usable && (gone || NodeOf(name) != lost)) break;
    if (state != DeviceState::Usable) gone = true;
    if (state == DeviceState::NoAccess && !toldNoAccess && callbacks.noAccess) callbacks.noAccess();
    toldNoAccess = state == DeviceState::NoAccess;
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    const int n = ::poll(fds, 2, -1);
    if (stop_.isSet() || (n < 0 && errno != EINTR)) {
      ::close(fd);
      return;
    }
    while (::read(fd, events.data(), events.size()) > 0) {
    }
  }
  ::close(fd);
  if (!stop_.isSet() && callbacks.returned) callbacks.returned();
}

}  // namespace qmx

// Waiting for a serial device that went away to come back: its identity as
// the user knows it (the path opened and, for a USB adapter, its stable
// /dev/serial/by-id name), and a watcher that blocks on directory changes
// (inotify) until that name is a usable device again. No polling.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "link/event.h"

namespace qmx {

struct DeviceIdentity {
  std::string path;        // as opened: "/dev/ttyUSB0", or a link such as a by-id name
  std::string stableName;  // the by-id link that names the same device, or empty
  // What to wait for: the stable name when there is one (a replugged
  // adapter may come back as another ttyUSBn), else the path.
  const std::string& WatchName() const { return stableName.empty() ? path : stableName; }
};

// The identity of the device at `path`: a path inside `byIdDir` is its own
// stable name; otherwise the first link of `byIdDir` that resolves to the
// same device, if any.
DeviceIdentity IdentifyDevice(const std::string& path, const std::string& byIdDir = "/dev/serial/by-id");

// True when `name` (following links) is a character device this process may
// read and write.
bool DeviceUsable(const std::string& name);

class DeviceWatcher {
 public:
  DeviceWatcher() = default;
  ~DeviceWatcher() { Stop(); }
  DeviceWatcher(const DeviceWatcher&) = delete;
  DeviceWatcher& operator=(const DeviceWatcher&) = delete;

  // Watches for `name` to be gone (at once if it is not usable now) and then
  // usable again, and calls `returned` once, from the watcher's thread.
  // False when the system offers no watch. A running watch is stopped first.
  bool Start(const std::string& name, std::function<void()> returned);
  // Ends the watch at once; `returned` is not called after Stop returns.
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Run(int inotifyFd, std::string name, std::function<void()> returned);

  std::thread thread_;
  Event stop_;
};

}  // namespace qmx

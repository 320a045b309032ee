// Waiting for a serial device that went away to come back: its identity as
// the user knows it (the path opened and, for a USB adapter, its stable
// /dev/serial/by-id name), and a watcher that blocks on directory changes
// (inotify) until that name is a usable device again. No polling.
#pragma once

#include <functional>
#include <optional>
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

// What stands at a device name now (following links).
enum class DeviceState {
  Absent,    // no character device by that name
  NoAccess,  // a character device this process may not read and write
  Usable,
};
DeviceState CheckDevice(const std::string& name);

// One device node: a device that is unplugged and plugged in again gets a
// new node (a new inode or at least a new change time), even under the same
// name and number.
struct DeviceNode {
  unsigned long long device = 0;  // the filesystem's
  unsigned long long inode = 0;
  unsigned long long rdev = 0;
  long long changeSec = 0;
  long long changeNsec = 0;
  bool operator==(const DeviceNode&) const = default;
};
// The node `name` stands for now (following links), if it is a character
// device.
std::optional<DeviceNode> NodeOf(const std::string& name);

class DeviceWatcher {
 public:
  struct Callbacks {
    // The device is usable again; called once.
    std::function<void()> returned;
    // It is there, but this process may not read and write it (called again
    // only after it was usable or gone meanwhile). May be empty.
    std::function<void()> noAccess;
  };

  DeviceWatcher() = default;
  ~DeviceWatcher() { Stop(); }
  DeviceWatcher(const DeviceWatcher&) = delete;
  DeviceWatcher& operator=(const DeviceWatcher&) = delete;

  // Watches `name` until it is a usable device other than `lost` (the node
  // that went away): one that was gone meanwhile, or another node, however
  // fast it came back. Without `lost`, a name usable at the first look
  // counts as returned. Callbacks come from the watcher's thread. False
  // when the system offers no watch. A running watch is stopped first.
  bool Start(const std::string& name, std::optional<DeviceNode> lost, Callbacks callbacks);
  // Ends the watch at once; no callback is called after Stop returns.
  void Stop();
  bool Running() const { return thread_.joinable(); }
  // How a name is judged (tests replace it); CheckDevice by default.
  void SetProbe(std::function<DeviceState(const std::string&)> probe) { probe_ = std::move(probe); }

 private:
  void Run(int inotifyFd, std::string name, std::optional<DeviceNode> lost, Callbacks callbacks);

  std::function<DeviceState(const std::string&)> probe_ = CheckDevice;
  std::thread thread_;
  Event stop_;
};

}  // namespace qmx

// Whether this user may open the system's serial devices at all, and if not,
// what to do about it, judged from the devices' owners and modes and the
// user's groups (no device is opened).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace qmx {

// One device as the permission check sees it.
struct DeviceAccess {
  std::string path;
  bool allowed = false;  // this process may read and write it
  unsigned gid = 0;      // owning group
  unsigned mode = 0;     // permission bits
};

// What the check needs to know about the user.
struct UserGroupInfo {
  std::vector<unsigned> sessionGids;                 // groups this process runs with
  std::function<std::string(unsigned gid)> name;     // group name ("dialout")
  std::function<bool(unsigned gid)> listsUser;       // the group database lists the user
};

// Empty when there is nothing to say: no device, some device usable, or a
// refusal that a group membership would not cure. Otherwise one sentence for
// the user, naming the group and the command that fixes it (or that a new
// login is all that is missing).
std::string PermissionHint(const std::vector<DeviceAccess>& devices, const UserGroupInfo& user);

// The same for the devices of `ports` and the user running this process.
std::string SerialPermissionHint(const std::vector<PortInfo>& ports);

}  // namespace qmx

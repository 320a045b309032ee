#include "link/port_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace qmx {

std::string PermissionHint(const std::vector<DeviceAccess>& devices, const UserGroupInfo& user) {
  if (devices.empty()) return {};
  if (std::any_of(devices.begin(), devices.end(), [](const DeviceAccess& d) { return d.allowed; })) return {};
  // Every device is refused. A group membership cures it when the group may
  // read and write the device and this process is not running in it.
  const DeviceAccess* cured = nullptr;
  for (const DeviceAccess& d : devices) {
    const bool groupMayUse = (d.mode & 060) == 060;
    const bool inGroup = std::find(user.sessionGids.begin(), user.sessionGids.end(), d.gid) != user.sessionGids.end();
    if (groupMayUse && !inGroup) {
      cured = &d;
      break;
    }
  }
  if (!cured) return {};
  std::string group = user.name ? user.name(cured->gid) : std::string();
  if (group.empty()) group = std::to_string(cured->gid);
  if (user.listsUser && user.listsUser(cured->gid))
    return "You were added to the group " + group + " after this session started: log out and in again to use " +
           "the serial ports.";
  return "You may not open the serial ports (" + cured->path + " belongs to the group " + group +
         "). Run  sudo usermod -aG " + group + " $USER  then log out and in again.";
}

namespace {

std::string GroupName(unsigned gid) {
  if (const group* g = ::getgrgid(static_cast<gid_t>(gid))) return g->gr_name;
  return {};
}

bool GroupListsUser(unsigned gid) {
  const passwd* pw = ::getpwuid(::geteuid());
  if (!pw) return false;
  if (pw->pw_gid == static_cast<gid_t>(gid)) return true;
  const group* g = ::getgrgid(static_cast<gid_t>(gid));
  if (!g) return false;
  for (char** m = g->gr_mem; m && *m; ++m)
    if (std::strcmp(*m, pw->pw_name) == 0) return true;
  return false;
}

std::vector<unsigned> SessionGroups() {
  std::vector<unsigned> out{static_cast<unsigned>(::getegid())};
  const int n = ::getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> gids(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, gids.data());
    for (int i = 0; i < got; ++i) out.push_back(static_cast<unsigned>(gids[static_cast<std::size_t>(i)]));
  }
  return out;
}

}  // namespace

std::string SerialPermissionHint(const std::vector<PortInfo>& ports) {
  std::vector<DeviceAccess> devices;
  for (const PortInfo& p : ports) {
    struct stat node {};
    if (::stat(p.path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) continue;
    devices.push_back({p.path, ::access(p.path.c_str(), R_OK | W_OK) == 0, static_cast<unsigned>(node.st_gid),
                       static_cast<unsigned>(node.st_mode & 07777)});
  }
  return PermissionHint(devices, {SessionGroups(), GroupName, GroupListsUser});
}

}  // namespace qmx

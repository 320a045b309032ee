// The serial devices of a Linux system, found through sysfs: every tty class
// entry that is backed by a device (virtual consoles and ptys are not), less
// the serial-core ports that have no UART behind them.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "link/serial_port.h"

namespace qmx {

namespace fs = std::filesystem;

namespace {

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

int TrailingNumber(const std::string& name) {
  std::size_t start = name.size();
  while (start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1]))) --start;
  int n = 0;
  const auto [ptr, ec] = std::from_chars(name.data() + start, name.data() + name.size(), n);
  (void)ptr;
  return ec == std::errc() ? n : 0;
}

std::string Prefix(const std::string& name) {
  std::size_t end = name.size();
  while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
  return name.substr(0, end);
}

// The USB device above a tty's device in the sysfs tree, if there is one:
// vendor and product ids and the product string.
void DescribeUsb(const fs::path& device, PortInfo& info) {
  std::error_code ec;
  fs::path p = fs::canonical(device, ec);
  if (ec) return;
  for (; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    const std::string vid = FirstLine(p / "idVendor");
    const std::string pid = FirstLine(p / "idProduct");
    if (vid.empty() || pid.empty()) continue;
    info.vidPid = vid + ":" + pid;
    std::transform(info.vidPid.begin(), info.vidPid.end(), info.vidPid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string product = FirstLine(p / "product");
    if (!product.empty()) info.description = product;
    return;
  }
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const std::string& sysClassTty, const std::string& devDir) {
  std::vector<PortInfo> ports;
  std::error_code ec;
  for (fs::directory_iterator it(sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path dir = it->path();
    const std::string name = dir.filename().string();
    std::error_code e2;
    const bool hasDevice = fs::exists(dir / "device", e2);
    // Bluetooth serial links are listed even where sysfs gives them no
    // device link.
    if (!hasDevice && name.rfind("rfcomm", 0) != 0) continue;
    // The serial core gives each port a type; 0 means no UART answered at
    // that address (the 8250 driver registers such placeholders for
    // ttyS0 … ttyS31 whether the hardware exists or not).
    if (FirstLine(dir / "type") == "0") continue;
    const fs::path node = fs::path(devDir) / name;
    if (!fs::exists(node, e2)) continue;

    PortInfo info;
    info.path = node.string();
    info.name = name;
    info.number = TrailingNumber(name);
    if (hasDevice) {
      // Newer kernels put the serial core's own "ctrl" and "port" devices
      // between the tty and the hardware; the hardware's driver says more.
      fs::path device = fs::canonical(dir / "device", e2);
      if (e2) device = dir / "device";
      while (device.has_parent_path() && device != device.root_path() &&
             fs::read_symlink(device / "subsystem", e2).filename() == "serial-base")
        device = device.parent_path();
      const fs::path driver = fs::read_symlink(device / "driver", e2);
      if (!e2) info.description = driver.filename().string();
      DescribeUsb(device, info);
    }
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
    const std::string pa = Prefix(a.name), pb = Prefix(b.name);
    if (pa != pb) return pa < pb;
    if (a.number != b.number) return a.number < b.number;
    return a.name < b.name;
  });
  return ports;
}

std::vector<PortInfo> ListSerialPorts() { return ListSerialPorts("/sys/class/tty", "/dev"); }

namespace {

// A terminal by what the system says of its device number: a tty class
// device in sysfs, or the slave side of a pseudo-terminal (which sysfs does
// not list).
bool IsTerminalDevice(dev_t rdev) {
  const unsigned m = major(rdev);
  if ((m >= 136 && m <= 143) || m == 3) return true;
  std::error_code ec;
  const fs::path subsystem = fs::read_symlink(
      "/sys/dev/char/" + std::to_string(m) + ":" + std::to_string(minor(rdev)) + "/subsystem", ec);
  return !ec && subsystem.filename() == "tty";
}

// Whether a process (this one included) has the device open: a link to it
// among the descriptors in /proc/<pid>/fd. stat() follows those links without
// opening anything. Descriptors of processes that may not be looked at are
// not seen; their locks are (HeldByLock).
bool HeldByDescriptor(dev_t rdev) {
  std::error_code ec;
  for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
    const std::string pid = proc->path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c); }))
      continue;
    std::error_code e2;
    for (fs::directory_iterator fd(proc->path() / "fd", e2), fdEnd; !e2 && fd != fdEnd; fd.increment(e2)) {
      struct stat st {};
      if (::stat(fd->path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev) return true;
    }
  }
  return false;
}

// Whether any process holds a lock on the device node (/proc/locks names the
// node as major:minor:inode of the file system it lives on, numbers of the
// device in hexadecimal).
bool HeldByLock(const struct stat& node) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream in(line);
    std::string field, id;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; blocked waiters are
    // marked "->" and name the same file.
    for (int i = 0; i < 6 && in >> field; ++i) {
      if (field == "->") --i;
      if (i == 5) id = field;
    }
    unsigned maj = 0, min = 0;
    unsigned long long ino = 0;
    if (std::sscanf(id.c_str(), "%x:%x:%llu", &maj, &min, &ino) == 3 && maj == major(node.st_dev) &&
        min == minor(node.st_dev) && ino == node.st_ino)
      return true;
  }
  return false;
}

}  // namespace

bool ProbePort(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return false;
  if (!IsTerminalDevice(node.st_rdev)) return false;
  if (::access(path.c_str(), R_OK | W_OK) != 0) return false;
  return !HeldByLock(node) && !HeldByDescriptor(node.st_rdev);
}

}  // namespace qmx

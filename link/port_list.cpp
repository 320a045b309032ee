// The serial devices of a Linux system, found through sysfs: every tty class
// entry that is backed by a device (virtual consoles and ptys are not), less
// the serial-core ports that have no UART behind them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
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

bool ProbePort(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool free = ::isatty(fd) != 0;
#ifdef TIOCGEXCL
  // Held exclusively by someone (an open by root gets past TIOCEXCL).
  int exclusive = 0;
  if (free && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) free = false;
#endif
  // The lock is what an open port of this program holds. A probe does not
  // set TIOCEXCL: that flag belongs to the tty, not to this descriptor, and
  // would stay behind for another program that has the port open.
  if (free && ::flock(fd, LOCK_EX | LOCK_NB) != 0) free = false;
  ::close(fd);  // drops the lock
  return free;
}

}  // namespace qmx

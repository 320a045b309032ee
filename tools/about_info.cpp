#include "tools/about_info.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

namespace qmx {
namespace {

// Case-blind comparison of two C-style texts: each ends at its first zero
// byte or at its end, whichever comes first.
bool EqualNoCase(std::string_view a, std::string_view b) {
  a = a.substr(0, a.find('\0'));
  b = b.substr(0, b.find('\0'));
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

char SecondChar(const std::string& s) { return s.size() > 1 ? s[1] : '\0'; }

std::string Printf(const char* format, auto... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// The longest ProductType value the lookup accepts, in bytes as stored.
constexpr std::size_t kProductTypeMax = 80;

}  // namespace

namespace {

// The Windows 9x releases, by minor version (major 4): the name, and the
// word added when the second character of the service-pack code is one of
// `markers`.
struct Win9xRelease {
  std::uint32_t minor;
  const char* name;
  std::string_view markers;
  const char* marked;
};
constexpr Win9xRelease kWin9xReleases[] = {
    {0, "Microsoft Windows 95 ", "CB", "OSR2 "},
    {10, "Microsoft Windows 98 ", "A", "SE "},
    {90, "Microsoft Windows Millennium Edition\n", "", ""},
};

std::string Win9xText(const WindowsVersionQuery& q) {
  for (const Win9xRelease& r : kWin9xReleases) {
    if (q.major != 4 || q.minor != r.minor) continue;
    std::string text = r.name;
    if (r.markers.find(SecondChar(q.servicePack)) != std::string_view::npos) text += r.marked;
    return text;
  }
  return {};
}

// The NT family's names by version; versions up to 4 are "NT".
struct NtRelease {
  std::uint32_t major;
  std::uint32_t minor;
  const char* name;
};
constexpr NtRelease kNtReleases[] = {
    {5, 2, "Microsoft Windows Server 2003 family,"},
    {5, 1, "Microsoft Windows XP "},
    {5, 0, "Microsoft Windows 2000 "},
};

const char* NtName(const WindowsVersionQuery& q) {
  for (const NtRelease& r : kNtReleases)
    if (q.major == r.major && q.minor == r.minor) return r.name;
  return q.major <= 4 ? "Microsoft Windows NT " : "";
}

// A server's edition from its suite mask; a null name is not asked for.
struct ServerEditions {
  const char* datacenter;
  const char* enterprise;
  const char* web;  // the suite mask is exactly the blade bit
  const char* standard;
};
constexpr ServerEditions kServer2003{"Datacenter Edition ", "Enterprise Edition ", "Web Edition ", "Standard Edition "};
constexpr ServerEditions kServer2000{"Datacenter Server ", "Advanced Server ", nullptr, "Server "};
constexpr ServerEditions kServerNt4{nullptr, "Server 4.0, Enterprise Edition ", nullptr, "Server 4.0 "};

const char* ServerEdition(const WindowsVersionQuery& q) {
  const ServerEditions& e = q.major == 5 && q.minor == 2 ? kServer2003
                            : q.major == 5 && q.minor == 0 ? kServer2000
                                                           : kServerNt4;
  if (e.datacenter && (q.suiteMask & kSuiteDatacenter)) return e.datacenter;
  if (q.suiteMask & kSuiteEnterprise) return e.enterprise;
  if (e.web && q.suiteMask == kSuiteBlade) return e.web;
  return e.standard;
}

// The edition from the extended record.
const char* NtEdition(const WindowsVersionQuery& q) {
  if (q.productType == kProductWorkstation) {
    if (q.major == 4) return "Workstation 4.0 ";
    return (q.suiteMask & kSuitePersonal) ? "Home Edition " : "Professional ";
  }
  if (q.productType == kProductServer || q.productType == kProductDomainController) return ServerEdition(q);
  return "";
}

// The edition and version from the registry's product type (the basic
// record); nothing when it could not be read or is too long.
std::optional<std::string> NtRegistryEdition(const WindowsVersionQuery& q) {
  if (!q.registryProductType || q.registryProductType->size() > kProductTypeMax) return std::nullopt;
  const std::string& type = *q.registryProductType;
  std::string text;
  if (EqualNoCase("WINNT", type)) text += "Workstation ";
  if (EqualNoCase("LANMANNT", type)) text += "Server ";
  if (EqualNoCase("SERVERNT", type)) text += "Advanced Server ";
  return text + Printf("%d.%d ", static_cast<int>(q.major), static_cast<int>(q.minor));
}

std::optional<std::string> NtText(const WindowsVersionQuery& q) {
  std::string text = NtName(q);
  if (q.extended) {
    text += NtEdition(q);
  } else if (auto edition = NtRegistryEdition(q)) {
    text += *edition;
  } else {
    return std::nullopt;
  }
  const int build = static_cast<int>(q.build & 0xFFFF);
  if (q.major == 4 && EqualNoCase(q.servicePack, "Service Pack 6") && q.hotfixQ246009)
    return text + Printf("Service Pack 6a (Build %d)\n", build);
  return text + Printf("%s (Build %d)\n", q.servicePack.c_str(), build);
}

}  // namespace

std::string OperatingSystemText(const WindowsVersionQuery& q) {
  if (!q.available) return std::string(kOsInfoError);
  switch (q.platformId) {
    case kPlatformWin32s:
      return "Microsoft Win32s\n";
    case kPlatformWin9x:
      return Win9xText(q);
    case kPlatformNt:
      return NtText(q).value_or(std::string(kOsInfoError));
    default:
      return {};
  }
}

std::vector<std::string> HardwareLines(const HardwareFacts& f) {
  constexpr int kWidth = 7;
  const char* unit = "K";
  return {
      "Hardware information:",
      "",
      Printf(" Number of processors: %u", f.processors),
      Printf(" Processor type: %u", f.processorType),
      Printf(" Total Memory %*" PRIu64 " %sbytes.", kWidth, f.totalBytes >> 10, unit),
      Printf(" Available Memory %*" PRIu64 " %sbytes.", kWidth, f.availableBytes >> 10, unit),
  };
}

namespace {
// The rest of the first line of `text` that starts with `key`.
std::optional<std::string_view> LineAfterKey(std::string_view text, std::string_view key) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with(key)) return line.substr(key.size());
  }
  return std::nullopt;
}
}  // namespace

std::string OsReleasePrettyName(std::string_view text) {
  const auto found = LineAfterKey(text, "PRETTY_NAME=");
  if (!found) return {};
  const std::string_view value = *found;
  std::string out;
  // Shell-style value: quoted with " or ', backslash escapes inside "".
  if (!value.empty() && (value.front() == '"' || value.front() == '\'')) {
    const char quote = value.front();
    for (std::size_t i = 1; i < value.size() && value[i] != quote; ++i) {
      if (quote == '"' && value[i] == '\\' && i + 1 < value.size()) ++i;
      out += value[i];
    }
  } else {
    out = std::string(value);
  }
  return out;
}

std::string ComposeUnixOsText(std::string_view prettyName, std::string_view sysname,
                              std::string_view release, std::string_view machine) {
  std::string out;
  auto add = [&out](std::string_view part) {
    if (part.empty()) return;
    if (!out.empty()) out += ' ';
    out += part;
  };
  add(prettyName);
  add(sysname);
  add(release);
  if (!machine.empty()) add("(" + std::string(machine) + ")");
  return out;
}

unsigned ProcessorTypeForMachine(std::string_view m) {
  if (m == "x86_64" || m == "amd64" || m == "x64") return 8664;
  if (m == "i386" || m == "i486" || m == "i586" || m == "i686" || m == "x86") return 586;
  if (m == "ia64") return 2200;
  return 0;
}

std::optional<std::uint64_t> MemAvailableBytes(std::string_view text) {
  const auto found = LineAfterKey(text, "MemAvailable:");
  if (!found) return std::nullopt;
  std::istringstream in{std::string(*found)};
  std::uint64_t kib = 0;
  std::string unit;
  if (!(in >> kib)) return std::nullopt;
  in >> unit;
  // The kernel always writes "kB" and means KiB.
  if (!unit.empty() && unit != "kB") return std::nullopt;
  if (kib > UINT64_MAX / 1024) return std::nullopt;
  return kib * 1024;
}

#ifdef _WIN32
// Windows is not a build target of this project yet. The shape is: fill a
// WindowsVersionQuery from GetVersionExA (extended record first, then the
// basic one), the ProductType registry value and the Q246009 hotfix key, then
// return OperatingSystemText(); fill HardwareFacts from GetSystemInfo and
// GlobalMemoryStatus. Until that is written the box shows the failure text.
std::string QueryOperatingSystemText() {
  WindowsVersionQuery q;
  q.available = false;
  return OperatingSystemText(q);
}

HardwareFacts QueryHardware() {
  HardwareFacts f;
  f.processors = std::thread::hardware_concurrency();
  return f;
}
#else
namespace {
std::string ReadSmallFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text;
  char buf[4096];
  while (text.size() < (1u << 20) && in.read(buf, sizeof buf)) text.append(buf, sizeof buf);
  text.append(buf, static_cast<std::size_t>(in.gcount()));
  return text;
}
}  // namespace

std::string QueryOperatingSystemText() {
  struct utsname u {};
  if (::uname(&u) != 0) return std::string(kOsInfoError);
  std::string pretty = OsReleasePrettyName(ReadSmallFile("/etc/os-release"));
  if (pretty.empty()) pretty = OsReleasePrettyName(ReadSmallFile("/usr/lib/os-release"));
  return ComposeUnixOsText(pretty, u.sysname, u.release, u.machine);
}

HardwareFacts QueryHardware() {
  HardwareFacts f;
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  f.processors = online > 0 ? static_cast<unsigned>(online) : std::thread::hardware_concurrency();
  struct utsname u {};
  if (::uname(&u) == 0) f.processorType = ProcessorTypeForMachine(u.machine);
  struct sysinfo si {};
  if (::sysinfo(&si) == 0) {
    const std::uint64_t unit = si.mem_unit ? si.mem_unit : 1;
    f.totalBytes = std::uint64_t{si.totalram} * unit;
    f.availableBytes = (std::uint64_t{si.freeram} + si.bufferram) * unit;
  }
  // The kernel's own estimate also counts reclaimable caches.
  if (auto avail = MemAvailableBytes(ReadSmallFile("/proc/meminfo"))) f.availableBytes = *avail;
  return f;
}
#endif

}  // namespace qmx

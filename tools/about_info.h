// The About box's system information: the operating-system line and the
// hardware lines. The text rules are pure functions of what the operating
// system reported, so every branch can be checked without that system; the
// Query* functions gather the facts of the machine the program runs on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/version.h"

namespace qmx {

// The program's title and version as the About box shows them; the data log
// header repeats them.
inline constexpr std::string_view kProgramTitle = "QMXDemo 2.0";
inline constexpr std::string_view kProgramVersion = "Version " QMX_VERSION_TEXT;

// Shown in place of the operating-system text when the version query fails.
inline constexpr std::string_view kOsInfoError = "Erroring getting info from Windows";

// Platform ids and product types of the Windows version record.
enum : std::uint32_t { kPlatformWin32s = 0, kPlatformWin9x = 1, kPlatformNt = 2 };
enum : std::uint8_t { kProductWorkstation = 1, kProductDomainController = 2, kProductServer = 3 };
// Suite mask bits.
enum : std::uint16_t {
  kSuiteEnterprise = 0x0002,
  kSuiteDatacenter = 0x0080,
  kSuitePersonal = 0x0200,
  kSuiteBlade = 0x0400,  // the Web Edition
};

// What a Windows version query returned.
struct WindowsVersionQuery {
  bool available = true;  // false: neither the extended nor the basic record could be read
  bool extended = true;   // the extended record (suite mask, product type) was read
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t platformId = kPlatformNt;
  std::string servicePack;  // e.g. "Service Pack 2"; for 9x a short letter code
  std::uint16_t suiteMask = 0;
  std::uint8_t productType = 0;
  // The registry value ProductType under
  // SYSTEM\CurrentControlSet\Control\ProductOptions, as stored (its bytes,
  // possibly with the terminating zero). Read only on the basic path;
  // nullopt when it could not be read.
  std::optional<std::string> registryProductType;
  // SOFTWARE\Microsoft\Windows NT\CurrentVersion\Hotfix\Q246009 exists.
  bool hotfixQ246009 = false;
};

// The operating-system text for the About box, or kOsInfoError.
std::string OperatingSystemText(const WindowsVersionQuery& q);

struct HardwareFacts {
  unsigned processors = 0;
  unsigned processorType = 0;
  std::uint64_t totalBytes = 0;      // physical memory
  std::uint64_t availableBytes = 0;  // physical memory free for use
};

// The lines of the hardware information, amounts in KiB right-aligned in
// seven characters:
//   "Hardware information:", "", " Number of processors: 2",
//   " Processor type: 8664", " Total Memory  524288 Kbytes.",
//   " Available Memory  262144 Kbytes."
std::vector<std::string> HardwareLines(const HardwareFacts& facts);

// --- the running machine -------------------------------------------------

// Windows: the version text built from the version APIs. Elsewhere: the
// distribution's name and the kernel, e.g.
// "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64 (x86_64)".
std::string QueryOperatingSystemText();
HardwareFacts QueryHardware();

// Pieces of the Linux path, exposed for tests.

// PRETTY_NAME of an os-release file's text, unquoted; empty when absent.
std::string OsReleasePrettyName(std::string_view osRelease);
// "<pretty> <sysname> <release> (<machine>)"; without a pretty name the
// line starts with the system name.
std::string ComposeUnixOsText(std::string_view prettyName, std::string_view sysname,
                              std::string_view release, std::string_view machine);
// The number Windows reports as the processor type for a machine name as
// uname gives it: 8664 for x86_64/amd64, 586 for the 32-bit x86 family, 2200
// for ia64. Windows has no such number for ARM or anything else; those give
// 0 ("unknown").
unsigned ProcessorTypeForMachine(std::string_view machine);
// MemAvailable of a /proc/meminfo text in bytes; nullopt when absent.
std::optional<std::uint64_t> MemAvailableBytes(std::string_view meminfo);

}  // namespace qmx

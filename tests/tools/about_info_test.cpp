#include "tools/about_info.h"

#include <gtest/gtest.h>

#include <string>

namespace qmx {
namespace {

WindowsVersionQuery Nt(std::uint32_t major, std::uint32_t minor, std::uint8_t productType,
                       std::uint16_t suite = 0, std::string sp = "", std::uint32_t build = 0) {
  WindowsVersionQuery q;
  q.platformId = kPlatformNt;
  q.major = major;
  q.minor = minor;
  q.productType = productType;
  q.suiteMask = suite;
  q.servicePack = std::move(sp);
  q.build = build;
  return q;
}

WindowsVersionQuery Nt4Basic(std::optional<std::string> productType) {
  WindowsVersionQuery q = Nt(4, 0, 0, 0, "Service Pack 3", 1381);
  q.extended = false;
  q.registryProductType = std::move(productType);
  return q;
}

WindowsVersionQuery Win9x(std::uint32_t minor, std::string sp, std::uint32_t build = 0) {
  WindowsVersionQuery q;
  q.platformId = kPlatformWin9x;
  q.major = 4;
  q.minor = minor;
  q.servicePack = std::move(sp);
  q.build = build;
  return q;
}

struct OsCase {
  const char* name;
  WindowsVersionQuery query;
  std::string text;
};

TEST(OperatingSystemText, KnownSystems) {
  WindowsVersionQuery win32s;
  win32s.platformId = kPlatformWin32s;
  win32s.major = 3;
  win32s.minor = 10;

  WindowsVersionQuery sp6a = Nt(4, 0, kProductWorkstation, 0, "Service Pack 6", 1381);
  sp6a.hotfixQ246009 = true;
  WindowsVersionQuery sp6aLower = sp6a;
  sp6aLower.servicePack = "service pack 6";
  WindowsVersionQuery sp6NoHotfix = Nt(4, 0, kProductWorkstation, 0, "Service Pack 6", 1381);
  WindowsVersionQuery sp5Hotfix = Nt(4, 0, kProductWorkstation, 0, "Service Pack 5", 1381);
  sp5Hotfix.hotfixQ246009 = true;

  const OsCase cases[] = {
      {"XP Home", Nt(5, 1, kProductWorkstation, kSuitePersonal, "Service Pack 2", 2600),
       "Microsoft Windows XP Home Edition Service Pack 2 (Build 2600)\n"},
      {"XP Professional", Nt(5, 1, kProductWorkstation, 0, "Service Pack 3", 2600),
       "Microsoft Windows XP Professional Service Pack 3 (Build 2600)\n"},
      {"2000 Professional", Nt(5, 0, kProductWorkstation, 0, "Service Pack 4", 2195),
       "Microsoft Windows 2000 Professional Service Pack 4 (Build 2195)\n"},
      {"2000 Server", Nt(5, 0, kProductServer, 0, "", 2195),
       "Microsoft Windows 2000 Server  (Build 2195)\n"},
      {"2000 Advanced Server", Nt(5, 0, kProductServer, kSuiteEnterprise, "Service Pack 1", 2195),
       "Microsoft Windows 2000 Advanced Server Service Pack 1 (Build 2195)\n"},
      {"2000 Datacenter on a domain controller",
       Nt(5, 0, kProductDomainController, kSuiteDatacenter | kSuiteEnterprise, "", 2195),
       "Microsoft Windows 2000 Datacenter Server  (Build 2195)\n"},
      {"2003 Standard", Nt(5, 2, kProductServer, 0, "", 3790),
       "Microsoft Windows Server 2003 family,Standard Edition  (Build 3790)\n"},
      {"2003 Enterprise", Nt(5, 2, kProductServer, kSuiteEnterprise, "Service Pack 1", 3790),
       "Microsoft Windows Server 2003 family,Enterprise Edition Service Pack 1 (Build 3790)\n"},
      {"2003 Datacenter wins over Enterprise",
       Nt(5, 2, kProductServer, kSuiteDatacenter | kSuiteEnterprise, "", 3790),
       "Microsoft Windows Server 2003 family,Datacenter Edition  (Build 3790)\n"},
      {"2003 Web Edition", Nt(5, 2, kProductServer, kSuiteBlade, "", 3790),
       "Microsoft Windows Server 2003 family,Web Edition  (Build 3790)\n"},
      {"2003 Web bit with another bit is Standard",
       Nt(5, 2, kProductServer, kSuiteBlade | 0x0010, "", 3790),
       "Microsoft Windows Server 2003 family,Standard Edition  (Build 3790)\n"},
      {"NT4 Workstation", Nt(4, 0, kProductWorkstation, 0, "Service Pack 3", 1381),
       "Microsoft Windows NT Workstation 4.0 Service Pack 3 (Build 1381)\n"},
      {"NT4 Server", Nt(4, 0, kProductServer, 0, "Service Pack 4", 1381),
       "Microsoft Windows NT Server 4.0 Service Pack 4 (Build 1381)\n"},
      {"NT4 Server Enterprise", Nt(4, 0, kProductServer, kSuiteEnterprise, "", 1381),
       "Microsoft Windows NT Server 4.0, Enterprise Edition  (Build 1381)\n"},
      {"NT4 SP6a", sp6a, "Microsoft Windows NT Workstation 4.0 Service Pack 6a (Build 1381)\n"},
      {"NT4 SP6a, service pack compared case-blind", sp6aLower,
       "Microsoft Windows NT Workstation 4.0 Service Pack 6a (Build 1381)\n"},
      {"NT4 SP6 without hotfix", sp6NoHotfix,
       "Microsoft Windows NT Workstation 4.0 Service Pack 6 (Build 1381)\n"},
      {"NT4 SP5 with the hotfix key", sp5Hotfix,
       "Microsoft Windows NT Workstation 4.0 Service Pack 5 (Build 1381)\n"},
      {"unknown product type appends no edition", Nt(5, 1, 7, 0, "", 2600),
       "Microsoft Windows XP  (Build 2600)\n"},
      {"build keeps its low 16 bits", Nt(5, 1, kProductWorkstation, 0, "", 0x0A280A28),
       "Microsoft Windows XP Professional  (Build 2600)\n"},
      {"newer than 5.2 starts with the edition", Nt(6, 1, kProductWorkstation, 0, "Service Pack 1", 7601),
       "Professional Service Pack 1 (Build 7601)\n"},
      {"newer server has no product name", Nt(10, 0, kProductServer, 0, "", 17763),
       "Server 4.0  (Build 17763)\n"},
      {"95", Win9x(0, " A", 950), "Microsoft Windows 95 "},
      {"95 OSR2 (B)", Win9x(0, " B"), "Microsoft Windows 95 OSR2 "},
      {"95 OSR2 (C)", Win9x(0, " C"), "Microsoft Windows 95 OSR2 "},
      {"98", Win9x(10, " "), "Microsoft Windows 98 "},
      {"98 SE", Win9x(10, " A"), "Microsoft Windows 98 SE "},
      {"98 with empty service pack", Win9x(10, ""), "Microsoft Windows 98 "},
      {"ME", Win9x(90, ""), "Microsoft Windows Millennium Edition\n"},
      {"Win32s", win32s, "Microsoft Win32s\n"},
      {"basic: WINNT", Nt4Basic("WINNT"),
       "Microsoft Windows NT Workstation 4.0 Service Pack 3 (Build 1381)\n"},
      {"basic: lanmannt, case-blind", Nt4Basic(std::string("lanmannt\0", 9)),
       "Microsoft Windows NT Server 4.0 Service Pack 3 (Build 1381)\n"},
      {"basic: SERVERNT", Nt4Basic("SERVERNT"),
       "Microsoft Windows NT Advanced Server 4.0 Service Pack 3 (Build 1381)\n"},
      {"basic: unknown value gives only the version", Nt4Basic("OTHER"),
       "Microsoft Windows NT 4.0 Service Pack 3 (Build 1381)\n"},
      {"basic: 80 bytes are accepted", Nt4Basic(std::string(80, 'x')),
       "Microsoft Windows NT 4.0 Service Pack 3 (Build 1381)\n"},
      {"basic: registry not readable", Nt4Basic(std::nullopt), std::string(kOsInfoError)},
      {"basic: value longer than 80 bytes", Nt4Basic(std::string(81, 'x')), std::string(kOsInfoError)},
  };
  for (const auto& c : cases) EXPECT_EQ(OperatingSystemText(c.query), c.text) << c.name;
}

TEST(OperatingSystemText, FailedQueryGivesTheErrorText) {
  WindowsVersionQuery q = Nt(5, 1, kProductWorkstation);
  q.available = false;
  EXPECT_EQ(OperatingSystemText(q), "Erroring getting info from Windows");
}

TEST(HardwareLines, Formats) {
  const auto lines = HardwareLines({2, 8664, std::uint64_t{512} << 20, std::uint64_t{3} << 10});
  const std::vector<std::string> want = {
      "Hardware information:",         "",
      " Number of processors: 2",      " Processor type: 8664",
      " Total Memory  524288 Kbytes.", " Available Memory       3 Kbytes.",
  };
  EXPECT_EQ(lines, want);

  // Below 1 KiB rounds down to 0; more than seven digits widen the field.
  const auto big = HardwareLines({64, 586, std::uint64_t{64} << 30, 1023});
  EXPECT_EQ(big[4], " Total Memory 67108864 Kbytes.");
  EXPECT_EQ(big[5], " Available Memory       0 Kbytes.");
}

TEST(UnixOsText, PrettyNameParsing) {
  EXPECT_EQ(OsReleasePrettyName("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
            "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=Plain\r\n"), "Plain");
  EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME='Single quoted'"), "Single quoted");
  EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=\"Say \\\"hi\\\"\""), "Say \"hi\"");
  EXPECT_EQ(OsReleasePrettyName("PRETTY_NAME=\"unterminated"), "unterminated");
  EXPECT_EQ(OsReleasePrettyName("X_PRETTY_NAME=no\nNAME=x"), "");
  EXPECT_EQ(OsReleasePrettyName(""), "");

  EXPECT_EQ(ComposeUnixOsText("Debian GNU/Linux 12 (bookworm)", "Linux", "6.1.0-18-amd64", "x86_64"),
            "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64 (x86_64)");
  EXPECT_EQ(ComposeUnixOsText("", "Linux", "6.1.0", "aarch64"), "Linux 6.1.0 (aarch64)");
}

TEST(UnixOsText, ProcessorTypes) {
  EXPECT_EQ(ProcessorTypeForMachine("x86_64"), 8664u);
  EXPECT_EQ(ProcessorTypeForMachine("i686"), 586u);
  EXPECT_EQ(ProcessorTypeForMachine("i386"), 586u);
  EXPECT_EQ(ProcessorTypeForMachine("aarch64"), 0u);
  EXPECT_EQ(ProcessorTypeForMachine("armv7l"), 0u);
}

TEST(UnixOsText, MemAvailable) {
  EXPECT_EQ(MemAvailableBytes("MemTotal:  100 kB\nMemFree: 5 kB\nMemAvailable:    2048 kB\n"),
            std::uint64_t{2048} * 1024);
  EXPECT_EQ(MemAvailableBytes("MemTotal:  100 kB\n"), std::nullopt);
  EXPECT_EQ(MemAvailableBytes("MemAvailable: lots\n"), std::nullopt);
  EXPECT_EQ(MemAvailableBytes("MemAvailable: 99999999999999999999 kB\n"), std::nullopt);
}

TEST(RunningMachine, FactsArePlausible) {
  const std::string os = QueryOperatingSystemText();
  EXPECT_FALSE(os.empty());
  const HardwareFacts f = QueryHardware();
  EXPECT_GE(f.processors, 1u);
  EXPECT_GT(f.totalBytes, 0u);
  EXPECT_LE(f.availableBytes, f.totalBytes);
}

}  // namespace
}  // namespace qmx

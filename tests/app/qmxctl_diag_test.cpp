// qmxctl diag against the built-in simulated module (remotes 1 to 3): the
// scan's and the poll's result lines, and arguments refused before anything
// is sent.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx::test {
namespace {

struct Ran {
  int status = -1;
  std::string text;  // standard output, then standard error
};

Ran Diag(const std::string& args, const std::filesystem::path& cwd) {
  const std::string command = "cd '" + cwd.string() + "' && { '" + BuildDir() + "/app/qmxctl' --port sim diag " + args + "; } 2>&1";
  Ran r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf{};
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0;) r.text.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(QmxctlDiag, ScanAndPollPrintTheLogLines) {
  TempDir cwd;
  Ran r = Diag("scan 2-4,7 --sweeps 2 --length 0x20", cwd.path());
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_TRUE(std::regex_match(r.text, std::regex("Addr 2 RX Percent 100, TX Percent 100, LQI [0-9]+\n"
                                                  "Addr 3 RX Percent 100, TX Percent 100, LQI [0-9]+\n"
                                                  "Addr 4 RX Percent 0, TX Percent 100, LQI 0\n"
                                                  "Addr 7 RX Percent 0, TX Percent 100, LQI 0\n")))
      << r.text;

  // The built-in module is a base: nobody answers at 0x0000, and it says why;
  // a poll without a reply fails.
  r = Diag("poll --count 3 --delay 5", cwd.path());
  EXPECT_EQ(r.status, 1) << r.text;
  EXPECT_EQ(r.text,
            "qmxctl: diag: the local radio is a base; a poll measures a remote's link to its base (for a base, use "
            "diag scan)\nLQI 0,Packet Success Rate 0%\nqmxctl: diag: no reply from the base to any of the test "
            "packets\n");
  // Nothing goes to the working directory.
  EXPECT_TRUE(std::filesystem::is_empty(cwd.path()));
}

TEST(QmxctlDiag, BadArgumentsAreRefused) {
  TempDir cwd;
  for (const char* args : {"", "ping", "scan", "scan 0-3", "scan 1-61", "scan 5-2", "scan 1,,3", "scan 1,", "scan x",
                           "scan 1-3 --length 97", "scan 1-3 --length ten", "scan 1-3 --sweeps 0", "scan 1 --count 2",
                           "poll 1", "poll --count 0", "poll --sweeps 2", "poll --delay -1"}) {
    const Ran r = Diag(args, cwd.path());
    EXPECT_EQ(r.status, 2) << args << ": " << r.text;
    EXPECT_NE(r.text.find("qmxctl: "), std::string::npos) << args;
  }
}

}  // namespace
}  // namespace qmx::test

// The desktop program's command-line options, run as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/fixtures/qmxsim_process.h"

namespace qmx::test {
namespace {

std::string QmxdemoBinary() { return BuildDir() + "/app/qmxdemo"; }

// --help and --version need no window system: run with none named at all.
TEST(QmxdemoOptions, HelpAndVersionPrintWithoutADisplay) {
  if (!std::filesystem::exists(QmxdemoBinary())) GTEST_SKIP() << "built without Qt";
  struct Case {
    const char* option;
    const char* expected;
  } cases[] = {{"--help", "--workdir <DIR>"}, {"--version", "QMXDemo 2.05"}};
  for (const Case& c : cases) {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + QmxdemoBinary() + "' " +
                                c.option + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string out;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.option << ": " << out;
    EXPECT_NE(out.find(c.expected), std::string::npos) << c.option << ": " << out;
  }
}

}  // namespace
}  // namespace qmx::test

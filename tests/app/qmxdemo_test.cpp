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

struct Ran {
  int status;
  std::string out;  // standard output and error
};

Ran RunCommand(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return {-1, {}};
  std::string out;
  std::array<char, 4096> buf{};
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  return {::pclose(pipe), out};
}

// --help and --version need no window system: run with none named at all.
TEST(QmxdemoOptions, HelpAndVersionPrintWithoutADisplay) {
  if (!std::filesystem::exists(QmxdemoBinary())) GTEST_SKIP() << "built without Qt";
  struct Case {
    const char* option;
    const char* expected;
  } cases[] = {{"--help", "--workdir <DIR>"},
               {"--help", "--port <NAME>"},
               {"--help", "--baud <RATE>"},
               {"--version", "QMXDemo 2.05"}};
  for (const Case& c : cases) {
    const auto [status, out] =
        RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + QmxdemoBinary() + "' " + c.option);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.option << ": " << out;
    EXPECT_NE(out.find(c.expected), std::string::npos) << c.option << ": " << out;
  }
}

// Qt's own options go to Qt: "-reverse" is not -r -e -v (the version), nor
// "-stylesheet" -s -t -y -l -e -s -h (the usage); the program goes on to its
// own checks. --help-all lists Qt's options beside ours, without a display.
TEST(QmxdemoOptions, QtsOwnOptionsAreLeftToQt) {
  if (!std::filesystem::exists(QmxdemoBinary())) GTEST_SKIP() << "built without Qt";
  for (const char* qtOption : {"-reverse", "-stylesheet none.qss"}) {
    const auto [status, out] =
        RunCommand("QT_QPA_PLATFORM=offscreen '" + QmxdemoBinary() + "' " + qtOption + " --baud 9600");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << qtOption << ": " << out;
    EXPECT_NE(out.find("--baud needs --port"), std::string::npos) << qtOption << ": " << out;
  }
  const auto [status, out] =
      RunCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + QmxdemoBinary() + "' --help-all");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  for (const char* listed : {"--workdir <DIR>", "--platform", "--reverse"})
    EXPECT_NE(out.find(listed), std::string::npos) << listed << ": " << out;
}

// A rate the port dialog does not list ends the program before any window
// (a window would keep it running: the test would not end).
TEST(QmxdemoOptions, ARateNotInTheListIsRefused) {
  if (!std::filesystem::exists(QmxdemoBinary())) GTEST_SKIP() << "built without Qt";
  struct Case {
    const char* options;
    const char* says;
  } cases[] = {{"--port SIM --baud fast", "bad --baud: fast"},
               {"--port SIM --baud 9601", "bad --baud: 9601"},
               {"--baud 9600", "--baud needs --port"}};
  for (const Case& c : cases) {
    const auto [status, out] = RunCommand("QT_QPA_PLATFORM=offscreen '" + QmxdemoBinary() + "' " + c.options);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << c.options << ": " << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.options << ": " << out;
  }
}

TEST(QmxdemoOptions, UserDirsAndAWorkDirAreNotBoth) {
  if (!std::filesystem::exists(QmxdemoBinary())) GTEST_SKIP() << "built without Qt";
  const auto [status, out] = RunCommand("QT_QPA_PLATFORM=offscreen '" + QmxdemoBinary() + "' --user-dirs --workdir /");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << out;
  EXPECT_NE(out.find("--workdir and --user-dirs"), std::string::npos) << out;
}

}  // namespace
}  // namespace qmx::test

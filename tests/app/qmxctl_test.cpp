// qmxctl as a user runs it: exit status, output and messages, on the
// built-in simulated module and through qmxsim's terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <nlohmann/json.hpp>
#include <thread>

#include "config/settings_model.h"
#include "link/banks.h"
#include "link/workdir.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx::test {
namespace {

std::string QmxctlBinary() { return BuildDir() + "/app/qmxctl"; }

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs qmxctl with `args` (shell words) in `cwd`.
Outcome Qmxctl(const std::string& args, const std::filesystem::path& cwd = std::filesystem::temp_directory_path()) {
  TempDir scratch;
  const auto errFile = scratch.path() / "stderr";
  const std::string command =
      "cd '" + cwd.string() + "' && '" + QmxctlBinary() + "' " + args + " 2>'" + errFile.string() + "'";
  Outcome r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf{};
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errFile);
  r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

class QmxctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QmxctlBinary().empty() || !std::filesystem::exists(QmxctlBinary())) GTEST_SKIP() << "no qmxctl";
  }
};

TEST_F(QmxctlTest, StatusOfTheSimulatedModule) {
  const Outcome r = Qmxctl("--port sim status");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Device Mode   Base\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Channel       0x0F (2425 MHz)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Firmware Ver  2.1\n"), std::string::npos) << r.out;
}

TEST_F(QmxctlTest, ConfigShowPrintsEverySettingOnce) {
  const Outcome r = Qmxctl("--port sim config show");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("device-mode = Base\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("security-key = ****************\n"), std::string::npos) << r.out;
  std::size_t lines = 0;
  for (const Setting& s : Settings()) {
    if (!s.failure) {  // shown only: not a setting a script can set or load
      EXPECT_EQ(r.out.find(std::string(s.key) + " = "), std::string::npos) << s.key;
      continue;
    }
    const std::string line = std::string(s.key) + " = ";
    const auto at = r.out.find("\n" + line);
    EXPECT_TRUE(r.out.rfind(line, 0) == 0 || at != std::string::npos) << s.key;
    EXPECT_EQ(r.out.find("\n" + line, at == std::string::npos ? 0 : at + 1), std::string::npos) << s.key;
    ++lines;
  }
  EXPECT_EQ(static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n')), lines);
}

TEST_F(QmxctlTest, BadArgumentsExitWithTwo) {
  // The port does not exist: opening it first would exit with 1.
  for (const char* args : {"", "frobnicate", "get 0 0", "get 300 0 1", "--parity mark status", "send 1",
                           "status --remote 2", "--baud x enter", "--timeout 0 enter",
                           "--timeout 600001 enter", "--timeout soon enter", "set 0 0 0G", "get 7 0 1", "get 0 44 1",
                           "get 0 40 5", "get 1 0 0", "set 9 0 01", "send 0x10000 01", "monitor soon", "config",
                           "config list", "config show now", "config show --address 0x10000", "config set",
                           "config set tx-power", "config set colour=red", "config set tx-power=0x100",
                           "config set startup-announce=on", "config set serial-parity=mark", "mac 00:11",
                           "mac 00:11:22:33:44:55:66:7G", "mac 00:11:22:33:44:55:66:77 --remote 2", "fcc 3",
                           "defaults now", "status --reset", "config save", "config load /nonexistent/profile",
                           "config diff a b", "config show --reset"}) {
    const Outcome r = Qmxctl(std::string("--port /nonexistent/tty ") + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find("qmxctl: "), std::string::npos) << args;
    EXPECT_TRUE(r.out.empty()) << args;
  }
  EXPECT_EQ(Qmxctl("--help").status, 0);
  EXPECT_NE(Qmxctl("get --help").out.find("usage: qmxctl [options] get BANK REG SPAN"), std::string::npos);
}

// A read may run up to the last register of its bank, not one past it; a
// write's hex needs whole bytes.
TEST_F(QmxctlTest, ARangeEndsAtItsBanksEndAndHexBytesAreWhole) {
  for (const BankInfo& b : kBanks) {
    const std::string reg = std::to_string(b.length - 2);
    const Outcome last = Qmxctl("--port sim get " + std::to_string(b.bank) + " " + reg + " 2");
    EXPECT_EQ(last.status, 0) << "bank " << int{b.bank} << ": " << last.err;
    const Outcome past = Qmxctl("--port sim get " + std::to_string(b.bank) + " " + reg + " 3");
    EXPECT_EQ(past.status, 2) << "bank " << int{b.bank};
  }
  for (const char* hex : {"123", "51:4D:5"}) {
    const Outcome r = Qmxctl(std::string("--port sim set 0 28 ") + hex);
    EXPECT_EQ(r.status, 2) << hex;
    EXPECT_TRUE(r.out.empty()) << hex;
  }
}

TEST_F(QmxctlTest, RadioThatDoesNotAnswerExitsWithOne) {
  // The module listens at 9600: one attempt and three retries, each waiting
  // out the time-out given.
  TempDir cwd;
  const Outcome r = Qmxctl("--port sim --baud 19200 --timeout 20 --log enter", cwd.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("did not answer"), std::string::npos) << r.err;
  std::ifstream in(cwd.path() / "logfile.dat", std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string frame = "(Enter Protocol Mode)\r\n";
  std::size_t sent = 0;
  for (auto at = log.find(frame); at != std::string::npos; at = log.find(frame, at + 1)) ++sent;
  EXPECT_EQ(sent, 4u) << log;
  // Not linked remote: refused.
  const Outcome refused = Qmxctl("--port sim get 0 0 4 --remote 0x0777");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("TX Status 0x01"), std::string::npos) << refused.err;
}

TEST_F(QmxctlTest, SetThenGetAndSendOverQmxsimsTerminal) {
  QmxsimProcess sim;
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  const std::string port = "--port " + sim.Path() + " ";
  EXPECT_EQ(Qmxctl(port + "set 0 28 51:4D:58").status, 0);
  const Outcome got = Qmxctl(port + "get 0 28 3");
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, "  1C: 51 4D 58\n");
  const Outcome sent = Qmxctl(port + "send 0x0002 --text hello");
  EXPECT_EQ(sent.status, 0) << sent.err;
  EXPECT_EQ(sent.out.rfind("TX Status 0x00 (acknowledged)  LQI 0x", 0), 0u) << sent.out;
}

TEST_F(QmxctlTest, ConfigSetWritesWhatDiffersAndDefaultsUndoItOverQmxsimsTerminal) {
  QmxsimProcess sim;
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  const std::string port = "--port " + sim.Path() + " ";
  const Outcome set = Qmxctl(port + "config set user-tag=field-7 serial-baud-rate=19200 tx-power=0x12");
  EXPECT_EQ(set.status, 0) << set.err;
  // The factory TX power is 0x12 already: not written. No question: neither
  // setting waits for a start.
  EXPECT_EQ(set.out, "user-tag written\nserial-baud-rate written\nSettings Saved.\n");

  const std::string fast = port + "--baud 19200 ";
  const Outcome shown = Qmxctl(fast + "config show");
  EXPECT_NE(shown.out.find("user-tag = field-7\nsecurity-mode"), std::string::npos) << shown.out << shown.err;
  EXPECT_NE(shown.out.find("serial-baud-rate = 19200\n"), std::string::npos) << shown.out;
  EXPECT_EQ(Qmxctl(fast + "config set user-tag=field-7").out, "No changes were detected.\n");

  const Outcome defaults = Qmxctl(fast + "defaults --reset");
  EXPECT_EQ(defaults.status, 0) << defaults.err;
  const Outcome after = Qmxctl(port + "config show");
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_NE(after.out.find("user-tag = QMX2400 Base\n"), std::string::npos) << after.out;
}

TEST_F(QmxctlTest, ProfileSavedEditedDiffedAndLoadedOverQmxsimsTerminal) {
  QmxsimProcess sim;
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  TempDir cwd;
  const std::string port = "--port " + sim.Path() + " ";
  ASSERT_EQ(Qmxctl(port + "config save radio.profile", cwd.path()).status, 0);
  std::ifstream in(cwd.path() / "radio.profile");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("# MAC: "), std::string::npos) << text;
  text.replace(text.find("tx-power = 0x12"), 15, "tx-power = 0x07");
  std::ofstream(cwd.path() / "radio.profile") << text;

  EXPECT_EQ(Qmxctl(port + "config diff radio.profile", cwd.path()).out, "tx-power: 0x12 -> 0x07\n");
  const Outcome load = Qmxctl(port + "config load radio.profile", cwd.path());
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.out, "tx-power written\nSettings Saved.\n");
  EXPECT_EQ(Qmxctl(port + "config diff radio.profile", cwd.path()).out, "");

  std::ofstream(cwd.path() / "bad.profile") << "# model: QMX2400\n\ntx-power = 0x100\n";
  const Outcome bad = Qmxctl(port + "config load bad.profile", cwd.path());
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("bad.profile:3: tx-power: expected a number"), std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find("--help"), std::string::npos) << "the arguments were right: " << bad.err;
}

// Parity and stop bits share a byte: a profile that changes both lists
// both, and its load reports both.
TEST_F(QmxctlTest, AProfileChangingParityAndStopBitsReportsBoth) {
  TempDir cwd;
  std::ofstream(cwd.path() / "line.profile") << "serial-parity = Even\nserial-stop-bits = 2\n";
  const Outcome diff = Qmxctl("--port sim config diff line.profile", cwd.path());
  EXPECT_EQ(diff.status, 1) << diff.err;
  EXPECT_EQ(diff.out, "serial-parity: None -> Even\nserial-stop-bits: 1 -> 2\n");
  const Outcome load = Qmxctl("--port sim config load line.profile", cwd.path());
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.out, "serial-parity written\nserial-stop-bits written\nSettings Saved.\n");
}

// config save writes through a link into the file it leads to; a pipe is
// refused (2) before the radio is asked, and gets nothing.
TEST_F(QmxctlTest, ConfigSaveWritesThroughALinkAndRefusesAPipe) {
  TempDir cwd;
  std::ofstream(cwd.path() / "real.profile") << "old\n";
  const auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
  std::filesystem::permissions(cwd.path() / "real.profile", mode);
  std::filesystem::create_symlink("real.profile", cwd.path() / "link.profile");
  ASSERT_EQ(Qmxctl("--port sim config save link.profile", cwd.path()).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(cwd.path() / "link.profile"));
  EXPECT_EQ(std::filesystem::status(cwd.path() / "real.profile").permissions(), mode) << "kept as it was";
  std::ifstream in(cwd.path() / "real.profile");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("device-mode = Base\n"), std::string::npos) << text;

  const auto pipe = cwd.path() / "pipe.profile";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);  // so that a wrong write cannot hang
  const Outcome r = Qmxctl("--port sim config save pipe.profile", cwd.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "qmxctl: pipe.profile is not a regular file\n");
  char byte;
  EXPECT_EQ(::read(reader, &byte, 1), -1) << "the pipe got the profile";
  ::close(reader);
  EXPECT_EQ(std::filesystem::status(pipe).type(), std::filesystem::file_type::fifo);
}

// On a live network, frames arrive during every command: they never reach
// standard output (--quiet drops them), which carries the result alone, so
// that scripts can take it as it is. What arrived before the command opened
// the port is no one's: it is dropped.
TEST_F(QmxctlTest, TrafficGoesToStandardErrorAndTheResultAloneToStandardOutput) {
  QmxsimProcess sim({"--traffic-interval", "0.05"}, QmxsimProcess::Network::Live);
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  ASSERT_TRUE(sim.WaitForOutput(std::chrono::seconds(10)));  // announcements wait in the port
  const std::string port = "--port " + sim.Path() + " ";
  const Outcome got = Qmxctl(port + "get 0 28 3");
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, "  1C: 51 4D 58\n");
  EXPECT_EQ(got.err.find("startup initialization"), std::string::npos) << "stale announce: " << got.err;
  // A command that takes a while (sixty delays of 20 ms) hears the remotes.
  const Outcome scan = Qmxctl(port + "diag scan 1 --delay 20");
  EXPECT_EQ(scan.out.rfind("Addr 1 RX Percent", 0), 0u) << scan.out;
  EXPECT_TRUE(std::regex_search(scan.err, std::regex("0x000[123]  [0-9A-F]{2} "))) << "the data meanwhile: " << scan.err;
  const Outcome shown = Qmxctl(port + "--quiet config show");
  EXPECT_EQ(shown.out.rfind("device-mode = Base\n", 0), 0u) << shown.out;
  EXPECT_EQ(shown.err, "");

  // For monitor the traffic is the result: one JSON object a line, each
  // with its time to the millisecond.
  const Outcome watched = Qmxctl(port + "monitor 2 --json --timestamps");
  EXPECT_EQ(watched.status, 0) << watched.err;
  std::istringstream lines(watched.out);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const auto json = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(json.is_object()) << line;
    EXPECT_TRUE(std::regex_match(json.value("time", std::string()),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
        << line;
  }
  EXPECT_GT(count, 0) << watched.err;
}

// --json: one object a result (a line per frame for monitor), parsed here
// as a script would; config diff answers as diff(1) does; a poll that no
// base answers fails.
TEST_F(QmxctlTest, JsonResultsAndExitCodesForScripts) {
  struct Case {
    const char* args;
    const char* key;
  } cases[] = {{"--json status", "device_mode"}, {"--json config show", "settings"},
               {"--json get 0 0 2", "data_hex"},  {"--json read-all", "banks"},
               {"--json diag scan 2", "addresses"}};
  for (const Case& c : cases) {
    const Outcome r = Qmxctl(std::string("--port sim ") + c.args);
    EXPECT_EQ(r.status, 0) << c.args << r.err;
    const auto json = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_TRUE(json.is_object()) << c.args << ": " << r.out;
    EXPECT_TRUE(json.contains(c.key)) << c.args << ": " << r.out;
  }
  EXPECT_EQ(nlohmann::json::parse(Qmxctl("--port sim --json get 0 28 3").out)["data_hex"], "514D58");

  TempDir cwd;
  ASSERT_EQ(Qmxctl("--port sim config save p.profile", cwd.path()).status, 0);
  EXPECT_EQ(Qmxctl("--port sim config diff p.profile", cwd.path()).status, 0);
  std::ofstream(cwd.path() / "p.profile", std::ios::app) << "tx-power = 0x07\n";  // later line: refused as twice
  EXPECT_EQ(Qmxctl("--port sim config diff p.profile", cwd.path()).status, 2);
  std::ofstream(cwd.path() / "q.profile") << "tx-power = 0x07\n";
  const Outcome differs = Qmxctl("--port sim --json config diff q.profile", cwd.path());
  EXPECT_EQ(differs.status, 1) << differs.err;
  EXPECT_EQ(nlohmann::json::parse(differs.out)["differences"][0]["file"], "0x07") << differs.out;
  EXPECT_EQ(Qmxctl("--port sim --baud 19200 --timeout 20 config diff q.profile", cwd.path()).status, 2)
      << "no answer is trouble, not a difference";
  EXPECT_EQ(Qmxctl("--port sim diag poll --count 2").status, 1) << "the base answers no poll";
}

// Only a regular file of reasonable size is read as a profile: a folder,
// a device or a huge file is refused with its reason (2), at once and
// without a crash; a link to a profile is the profile.
TEST_F(QmxctlTest, ProfileThatIsNoTextFileIsRefused) {
  TempDir cwd;
  std::filesystem::create_directory(cwd.path() / "folder");
  std::ofstream(cwd.path() / "huge.profile") << "# model: QMX2400\n" << std::string(1024 * 1024, '#') << "\n";
  struct Case {
    const char* args;
    const char* why;
  } cases[] = {{"config diff folder", "qmxctl: folder: is a folder, not a profile\n"},
               {"config load folder", "qmxctl: folder: is a folder, not a profile\n"},
               {"config diff /dev/zero", "qmxctl: /dev/zero: is not a regular file\n"},
               {"config load huge.profile", "qmxctl: huge.profile: is larger than 1 MiB, too large for a profile\n"},
               {"config diff missing.profile", "qmxctl: missing.profile: cannot read it: No such file or directory\n"}};
  for (const Case& c : cases) {
    const Outcome r = Qmxctl(std::string("--port sim ") + c.args, cwd.path());
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.err, c.why) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
  std::ofstream(cwd.path() / "q.profile") << "tx-power = 0x07\n";
  std::filesystem::create_symlink("q.profile", cwd.path() / "link.profile");
  EXPECT_EQ(Qmxctl("--port sim config diff link.profile", cwd.path()).out, "tx-power: 0x12 -> 0x07\n");
}

// A result that does not reach its file is a failure with its reason, not
// a success: a full disk for every kind of result; config diff calls it
// trouble (2), as diff(1) does.
TEST_F(QmxctlTest, ResultThatCannotBeWrittenFails) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const char* args : {"status", "--json read-all", "config show", "monitor 3", "--help"}) {
    const Outcome r = Qmxctl(std::string("--port sim ") + args + " >/dev/full");
    EXPECT_EQ(r.status, 1) << args << ": " << r.err;
    // The reason where the last write failed; an earlier one leaves none.
    EXPECT_TRUE(std::regex_search(r.err, std::regex("qmxctl: write error on standard output(: No space left on "
                                                    "device)?\n$")))
        << args << ": " << r.err;
  }
  EXPECT_EQ(Qmxctl("--port sim status >/dev/full").err,
            "qmxctl: write error on standard output: No space left on device\n");
  TempDir cwd;
  std::ofstream(cwd.path() / "q.profile") << "tx-power = 0x07\n";
  EXPECT_EQ(Qmxctl("--port sim config diff q.profile >/dev/full", cwd.path()).status, 2);
  // Nothing to write, and standard output closed: nothing lost.
  EXPECT_EQ(Qmxctl("--port sim reset >&-").status, 0);
}

// A radio that answers late: --timeout holds for the configuration commands
// too, not only for the plain ones.
TEST_F(QmxctlTest, TimeoutHoldsForConfigurationCommands) {
  QmxsimProcess sim({"--faults", "late=1100"});
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  const Outcome r = Qmxctl("--port " + sim.Path() + " --timeout 1600 fcc 1");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "FCC mode 1 set.\n");
}

TEST_F(QmxctlTest, LogWritesTheProgramsLogFormatInTheCurrentDirectory) {
  TempDir cwd;
  ASSERT_EQ(Qmxctl("--log enter", cwd.path()).status, 0);
  std::ifstream in(cwd.path() / "logfile.dat", std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(log.rfind("New Data------------------------------------------\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("Sent Data : FB 09 01 00 51 4D 58 32 34 30 30 (Enter Protocol Mode)\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Recv Data : FB "), std::string::npos) << log;
  EXPECT_NE(log.find("(Enter Protocol Mode Reply)\r\n"), std::string::npos) << log;
}

// A qmxdemo (here: this test) holds the folder: qmxctl does not add its
// frames to that program's log, but works there without --log.
TEST_F(QmxctlTest, LogIsRefusedInAFolderAnotherProgramHolds) {
  TempDir cwd;
  std::optional<WorkDirLock> other(std::in_place, cwd.path());
  ASSERT_TRUE(other->Held());
  const Outcome refused = Qmxctl("--port sim --log enter", cwd.path());
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(refused.out.empty()) << refused.out;
  for (const std::string& part : {cwd.path().string(), "process " + std::to_string(::getpid()), std::string("--log")})
    EXPECT_NE(refused.err.find(part), std::string::npos) << part << " in " << refused.err;
  EXPECT_FALSE(std::filesystem::exists(cwd.path() / "logfile.dat"));
  EXPECT_EQ(Qmxctl("--port sim enter", cwd.path()).status, 0);
  other.reset();
  EXPECT_EQ(Qmxctl("--port sim --log enter", cwd.path()).status, 0);
  EXPECT_TRUE(std::filesystem::exists(cwd.path() / "logfile.dat"));
  // qmxctl let go of it when it ended.
  EXPECT_TRUE(WorkDirLock(cwd.path()).Held());
}

TEST_F(QmxctlTest, MonitorEndsAtOnceWhenTheDeviceVanishes) {
  QmxsimProcess sim;
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  const std::string command = "'" + QmxctlBinary() + "' --port " + sim.Path() + " monitor 30 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  const auto start = std::chrono::steady_clock::now();
  // Real time: monitor must be under way before the device goes, and nothing
  // outside its process shows when it is.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  sim.Kill();
  std::array<char, 4096> buf{};
  std::string out;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  EXPECT_NE(out.find("has gone away"), std::string::npos) << out;
}

// The device behind a by-id style link returns as another terminal: monitor
// --reconnect goes on with it and ends when its time is up.
TEST_F(QmxctlTest, MonitorReconnectsToADeviceThatReturns) {
  TempDir dir;
  const auto link = dir.path() / "usb-radio-if00-port0";
  auto pointLinkTo = [&](const std::string& device) {
    std::filesystem::create_symlink(device, dir.path() / "new");
    std::filesystem::rename(dir.path() / "new", link);
  };
  auto first = std::make_unique<QmxsimProcess>();
  if (first->Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  pointLinkTo(first->Path());
  const std::string command =
      "'" + QmxctlBinary() + "' --port " + link.string() + " monitor 3 --reconnect --json 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  auto readUntil = [&](const std::string& text) {
    std::array<char, 512> line{};
    while (out.find(text) == std::string::npos && std::fgets(line.data(), line.size(), pipe)) out += line.data();
    return out.find(text) != std::string::npos;
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // real time: monitor is to be under way first
  first->Kill();
  EXPECT_TRUE(readUntil("waiting for " + link.string() + " to return")) << out;
  QmxsimProcess second;
  pointLinkTo(second.Path());
  EXPECT_TRUE(readUntil("reconnected to " + link.string())) << out;
  readUntil("\x01");  // the rest, until the time is up
  const int status = ::pclose(pipe);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << out;
  // The loss and the return are records of the JSON stream too.
  EXPECT_NE(out.find(R"({"kind":"disconnect","port":")" + link.string() + "\"}"), std::string::npos) << out;
  EXPECT_NE(out.find(R"({"kind":"reconnect","port":")" + link.string() + "\"}"), std::string::npos) << out;
}

// A device that never returns before the time is up: what was watched was
// not all there, so the run fails, and says why.
TEST_F(QmxctlTest, MonitorWhoseDeviceNeverReturnsFails) {
  TempDir dir;
  const auto link = dir.path() / "usb-radio-if00-port0";
  auto sim = std::make_unique<QmxsimProcess>();
  if (sim->Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  std::filesystem::create_symlink(sim->Path(), link);
  const std::string command = "'" + QmxctlBinary() + "' --port " + link.string() + " monitor 2 --reconnect --json";
  FILE* pipe = ::popen((command + " 2>'" + (dir.path() / "err").string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // real time: monitor is to be under way first
  sim->Kill();
  std::array<char, 4096> buf{};
  std::string out;
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0;) out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << out;
  EXPECT_NE(out.find(R"({"kind":"disconnect","port":")" + link.string() + "\"}"), std::string::npos) << out;
  std::ifstream in(dir.path() / "err");
  const std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(err.find("did not come back before the time was up"), std::string::npos) << err;
}

// What scripts expect of a command line: GNU long options with '=', '--'
// before arguments that look like options, '-' for standard input and
// output, fractions of a second; mistakes refused at once (2) and named.
TEST_F(QmxctlTest, ScriptConventions) {
  TempDir cwd;
  EXPECT_EQ(Qmxctl("--port=sim --timeout=500 get 0 28 3").out, "  1C: 51 4D 58\n");
  const Outcome saved = Qmxctl("--port sim config save -", cwd.path());
  EXPECT_EQ(saved.status, 0) << saved.err;
  EXPECT_NE(saved.out.find("\ndevice-mode = Base\n"), std::string::npos) << saved.out;
  EXPECT_FALSE(std::filesystem::exists(cwd.path() / "-")) << "'-' is standard output, not a file";
  std::ofstream(cwd.path() / "in.profile") << "tx-power = 0x10\n";
  const Outcome diff = Qmxctl("--port sim config diff - <in.profile", cwd.path());
  EXPECT_EQ(diff.status, 1) << diff.err;
  EXPECT_EQ(diff.out, "tx-power: 0x12 -> 0x10\n");
  EXPECT_EQ(Qmxctl("--port sim config save -- --odd.profile", cwd.path()).status, 0);
  EXPECT_TRUE(std::filesystem::exists(cwd.path() / "--odd.profile"));
  EXPECT_EQ(Qmxctl("--port sim monitor 0.5").status, 0);

  struct Refused {
    const char* args;
    const char* says;
  } refused[] = {{"--baud 1234 status", "(the radio's rates: 1200, 2400,"},
                 {"--baud=0 status", "bad baud rate: '0'"},
                 {"--json=yes status", "--json takes no value"},
                 {"--port= status", "--port needs a device path"},
                 {"--bogus=1 status", "unknown option --bogus"},
                 {"monitor -1", "bad seconds: '-1'"},
                 {"monitor nan", "bad seconds: 'nan'"},
                 {"monitor 0.5s", "bad seconds: '0.5s'"},
                 {"--json config save -", "no room for --json"}};
  for (const Refused& r : refused) {
    const Outcome got = Qmxctl(std::string("--port sim ") + r.args, cwd.path());
    EXPECT_EQ(got.status, 2) << r.args;
    EXPECT_NE(got.err.find(r.says), std::string::npos) << r.args << ": " << got.err;
    EXPECT_EQ(got.out, "") << r.args;
  }
}

// Sets an environment variable (or unsets it, null) for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Without --port the port is QMX_PORT, else the one USB serial adapter;
// with neither, a command that only reads uses the built-in module and
// says so, and one that writes is refused before anything is sent.
TEST_F(QmxctlTest, DefaultPortNeverWritesToTheBuiltInModuleUnasked) {
  TempDir cwd;
  std::ofstream(cwd.path() / "prod.profile") << "tx-power = 0x10\n";
  {
    const ScopedEnv none("QMX_PORT", nullptr);
    const Outcome read = Qmxctl("status", cwd.path());
    if (read.err.find("reading the built-in simulated module") == std::string::npos)
      GTEST_SKIP() << "a USB serial adapter decides here: " << read.err;
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.out.rfind("Device Mode   Base\n", 0), 0u) << read.out;
    for (const char* args : {"config load prod.profile", "config set tx-power=0x10", "set 0 1 00", "defaults",
                             "mac 00:11:22:33:44:55:66:77", "fcc 1", "send 1 41", "reset", "firmware save x.bin"}) {
      const Outcome r = Qmxctl(args, cwd.path());
      EXPECT_EQ(r.status, 2) << args;
      EXPECT_NE(r.err.find("no radio port named: give --port PATH or set QMX_PORT"), std::string::npos)
          << args << ": " << r.err;
      EXPECT_NE(r.err.find("serial ports found: "), std::string::npos) << args << ": " << r.err;
      EXPECT_EQ(r.out, "") << args;
    }
    EXPECT_FALSE(std::filesystem::exists(cwd.path() / "x.bin"));
  }
  {
    const ScopedEnv sim("QMX_PORT", "sim");
    const Outcome r = Qmxctl("config load prod.profile", cwd.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "tx-power written\nSettings Saved.\n");
    EXPECT_EQ(r.err, "") << "asked for by name: no notice";
  }
  QmxsimProcess radio;
  if (radio.Path().empty()) return;
  const ScopedEnv named("QMX_PORT", radio.Path().c_str());
  EXPECT_EQ(Qmxctl("get 0 28 3", cwd.path()).out, "  1C: 51 4D 58\n");
}

// Messages that name the fix: a silent radio points at --port, --baud and
// --timeout; a missing port is said in the command line's words; a remote
// that does not answer is named; a question goes to standard error, and
// JSON says that a reset is still needed.
TEST_F(QmxctlTest, MessagesNameTheFix) {
  QmxsimProcess silent({"--faults", "never"});
  if (!silent.Path().empty()) {
    const Outcome r = Qmxctl("--port " + silent.Path() + " --timeout 100 status");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("qmxctl: Enter Protocol Mode: the radio did not answer on " + silent.Path() +
                         " at 9600 baud; check --port and --baud, or wait longer with --timeout (now 100 ms)"),
              std::string::npos)
        << r.err;
  }
  const Outcome missing = Qmxctl("--port /dev/qmx-no-such-port status");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "qmxctl: Not present: /dev/qmx-no-such-port does not exist; is the device plugged in?\n");
  const Outcome remote = Qmxctl("--port sim get 0 0 1 --remote 0x0F00");
  EXPECT_EQ(remote.status, 1);
  EXPECT_NE(remote.err.find("the remote radio at 0x0F00 did not answer"), std::string::npos) << remote.err;

  const Outcome asked = Qmxctl("--port sim config set device-mode=Remote");
  EXPECT_EQ(asked.status, 0) << asked.err;
  EXPECT_EQ(asked.out, "device-mode written\nSettings Saved.\n");
  EXPECT_NE(asked.err.find("(--reset answers Yes)"), std::string::npos) << asked.err;
  const auto json = nlohmann::json::parse(Qmxctl("--port sim --json config set device-mode=Remote").out);
  EXPECT_EQ(json["reset_needed"], true) << json;
  EXPECT_EQ(nlohmann::json::parse(Qmxctl("--port sim --json --reset config set device-mode=Remote").out)["reset_needed"],
            false);
}

// A pseudo-terminal carries no parity; a line asked for with one still
// opens on it (qmxsim understands the host at its baud rate whatever the
// parity), as a lab's radio behind a terminal server would.
TEST_F(QmxctlTest, ParityIsTakenOnAPseudoTerminal) {
  QmxsimProcess sim;
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  for (const char* line : {"--parity even", "--parity odd --stop 2"}) {
    const Outcome r = Qmxctl("--port " + sim.Path() + " " + line + " get 0 28 3");
    EXPECT_EQ(r.status, 0) << line << ": " << r.err;
    EXPECT_EQ(r.out, "  1C: 51 4D 58\n") << line;
  }
}

// A radio already out of protocol mode: 'exit' says so and succeeds, at
// once rather than after every retry.
TEST_F(QmxctlTest, ExitFromARadioAlreadyOutOfProtocolMode) {
  QmxsimProcess sim;
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  const std::string port = "--port " + sim.Path() + " ";
  ASSERT_EQ(Qmxctl(port + "enter").status, 0);
  const Outcome first = Qmxctl(port + "exit");
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "");
  const Outcome again = Qmxctl(port + "--json exit");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.err, "qmxctl: the radio was out of protocol mode already\n");
  EXPECT_EQ(again.out, "{\"protocol_mode\":false,\"was_out\":true}\n");
  EXPECT_EQ(Qmxctl(port + "get 0 28 3").out, "  1C: 51 4D 58\n") << "and is a radio to talk to still";
}

}  // namespace
}  // namespace qmx::test

namespace qmx::test {
namespace {

// nodes: the local radio first (its name from names.ini in the current
// directory), then each remote the scan found, as aligned text and as JSON.
TEST_F(QmxctlTest, NodesListsTheLocalRadioAndWhatTheScanFound) {
  TempDir cwd;
  std::ofstream(cwd.path() / "names.ini") << "# radios\n02514d5824000001 = Base, \"the\" one\n";
  const Outcome r = Qmxctl("--port sim --json nodes --listen 0 --scan 1-5", cwd.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto json = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_TRUE(json.is_object()) << r.out;
  const auto& nodes = json["nodes"];
  ASSERT_EQ(nodes.size(), 4u) << r.out;
  EXPECT_EQ(nodes[0]["local"], true);
  EXPECT_EQ(nodes[0]["address_hex"], "0x0000");
  EXPECT_EQ(nodes[0]["mac"], "02:51:4D:58:24:00:00:01");
  EXPECT_EQ(nodes[0]["name"], "Base, \"the\" one");
  for (int a = 1; a <= 3; ++a) {
    const auto& node = nodes[static_cast<std::size_t>(a)];
    EXPECT_EQ(node["address"], a) << node;
    EXPECT_EQ(node["local"], false) << node;
    EXPECT_EQ(node["frames"], 1) << node;
    EXPECT_TRUE(node["last_lqi"].is_number_integer()) << node;
    EXPECT_TRUE(node["mac"].is_null()) << "the scan learns no MAC: " << node;
  }
  EXPECT_EQ(json["scan"]["asked"], 5);
  EXPECT_EQ(json["scan"]["answered"], 3);

  const Outcome text = Qmxctl("--port sim nodes --listen 0 --scan 2", cwd.path());
  ASSERT_EQ(text.status, 0) << text.err;
  std::istringstream lines(text.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 3u) << text.out;
  EXPECT_EQ(rows[0].rfind("Address  MAC ", 0), 0u) << text.out;
  const std::size_t state = rows[0].find("State");
  EXPECT_EQ(rows[1].find("heard"), state) << text.out;
  EXPECT_EQ(rows[2].find("heard"), state) << text.out;
  EXPECT_EQ(rows[1].find("Base, \"the\" one"), rows[0].find("Name")) << text.out;
  EXPECT_EQ(rows[2].rfind("0x0002   -  ", 0), 0u) << text.out;
}

// A bad range or time is refused before the port is opened (which would
// exit with 1 here): nothing is sent.
TEST_F(QmxctlTest, NodesRefusesABadRangeBeforeSendingAnything) {
  for (const char* args : {"nodes --scan 5-1", "nodes --scan 0xFFFF", "nodes --scan x", "nodes --scan=",
                           "nodes --scan 1,3", "nodes --listen -1", "nodes --listen soon", "nodes 1-5",
                           "status --scan 1-5", "diag poll --listen 1"}) {
    const Outcome r = Qmxctl(std::string("--port /nonexistent/tty ") + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(r.out.empty()) << args;
    EXPECT_NE(r.err.find("qmxctl: "), std::string::npos) << args;
  }
  EXPECT_NE(Qmxctl("--port /nonexistent/tty nodes --scan 60-1").err.find(
                "bad address range '60-1': the last address is below the first"),
            std::string::npos);
}

// Over qmxsim's terminal, on a live network: what the remotes report while
// the command listens (data with its LQI, events) makes their rows; the
// reports themselves go to standard error. A scan then finds those that
// have joined.
TEST_F(QmxctlTest, NodesHearsTheRemotesOfALiveNetworkOverQmxsimsTerminal) {
  QmxsimProcess sim({"--traffic-interval", "0.05"}, QmxsimProcess::Network::Live);
  if (sim.Path().empty()) GTEST_SKIP() << "qmxsim did not start";
  ASSERT_TRUE(sim.WaitForOutput(std::chrono::seconds(10)));
  const std::string port = "--port " + sim.Path() + " --json nodes ";
  const Outcome r = Qmxctl(port + "--listen 1.5");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto json = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_TRUE(json.is_object()) << r.out;
  int withLqi = 0;
  for (const auto& node : json["nodes"]) {
    if (node["local"] == true) continue;
    EXPECT_GE(node["address"].get<int>(), 1) << node;
    EXPECT_LE(node["address"].get<int>(), 3) << node;
    // Without a scan only received data carries an LQI.
    if (node["frames"].get<int>() > 0 && node["last_lqi"].is_number_integer()) ++withLqi;
  }
  EXPECT_GT(withLqi, 0) << r.out;
  EXPECT_FALSE(json.contains("scan"));
  EXPECT_TRUE(std::regex_search(r.err, std::regex("0x000[123]  [0-9A-F]{2} "))) << "the data meanwhile: " << r.err;

  const Outcome scan = Qmxctl(port + "--listen 0 --scan 1-4");
  ASSERT_EQ(scan.status, 0) << scan.err;
  const auto scanned = nlohmann::json::parse(scan.out, nullptr, false);
  ASSERT_TRUE(scanned.is_object()) << scan.out;
  // The remotes join one after another from the start: those in already answer.
  EXPECT_GE(scanned["scan"]["answered"], 1) << scan.out;
  EXPECT_EQ(scanned["scan"]["asked"], 4) << scan.out;
}

}  // namespace
}  // namespace qmx::test

// The whole firmware programming as a user meets it, against a boot code that
// paces its bytes at 38400 baud and says "OK" 0.2 s after the transfer:
//
// - BM_QmxctlProgram: `qmxctl firmware program` of a 131,200-byte image,
//   start to exit (reset, boot prompt, transfer, "OK", "E", protocol mode),
//   against qmxsim on its pseudo-terminal, beside lrzsz's `sx` sending the
//   same image to the same boot code on another qmxsim (the prompt, "D",
//   the transfer and "OK" read by this program): both seconds and their
//   ratio.
// - BM_ProgramToProtocolMode: the same sequence in-process (the link
//   session's boot-code entry and exit around FirmwareUpgrade::Program, as
//   qmxctl runs them), and how long after the boot code's "OK" the radio
//   is back in protocol mode.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/byte_channel.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"
#include "link/xmodem_bytes.h"
#include "tools/firmware_upgrade.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using qmx::Clock;

constexpr std::size_t kImageSize = 131200;
constexpr auto kProgramTime = 200ms;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
  return image;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs `argv` with standard input and output on `fd` (or left alone when
// negative) and standard error discarded; its exit status, or -1.
int Run(const std::vector<std::string>& args, int fd = -1) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const bool spawned = posix_spawnp(&pid, copy[0].c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (!spawned || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The terminal at the boot code's line, raw, as `sx` expects it.
int OpenBootLine(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, B38400);
  ::cfsetospeed(&t, B38400);
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Boot prompt, "D" CR LF and "DL:" on `fd`, then `sx` sends `file`, then
// the boot code's "OK" CR LF is awaited. `transfer`: how long `sx` ran.
bool SxProgram(int fd, const std::string& file, Clock::duration& transfer) {
  qmx::FdChannel channel(fd, fd);
  qmx::FirmwareUpgrade upgrade(channel, qmx::SteadyTime());
  if (!upgrade.FindBootPrompt()) return false;
  const std::uint8_t download[] = {'D', '\r', '\n'};
  qmx::Xmodem text(channel, qmx::SteadyTime());
  if (!channel.Write(download) || text.AwaitPrompt("DL:", 1000, 1000) != 3) return false;
  const auto start = Clock::now();
  if (Run({"sx", file}, fd) != 0) return false;
  transfer = Clock::now() - start;
  return text.AwaitPrompt("OK\r\n", 5000, 1000) == 4;
}

void BM_QmxctlProgram(benchmark::State& state) {
  const std::string qmxctl = qmx::test::BuildDir() + "/app/qmxctl";
  qmx::test::TempDir dir;
  const std::string file = (dir.path() / "image.bin").string();
  const auto image = Image();
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                              static_cast<std::streamsize>(image.size()));
  const std::vector<std::string> boot{"--boot-paced", "--program-time", std::to_string(kProgramTime.count())};

  double ours = 0, theirs = 0;
  Clock::duration transfer{};
  for (auto _ : state) {
    qmx::test::QmxsimProcess radio(boot);
    if (radio.Path().empty()) {
      state.SkipWithError("no qmxsim");
      break;
    }
    auto start = Clock::now();
    if (Run({qmxctl, "--port", radio.Path(), "firmware", "program", file}) != 0) {
      state.SkipWithError("qmxctl firmware program failed");
      break;
    }
    ours = Seconds(Clock::now() - start);

    std::vector<std::string> bootOnly = boot;
    bootOnly.emplace_back("--boot-only");
    qmx::test::QmxsimProcess blank(bootOnly);
    const int fd = blank.Path().empty() ? -1 : OpenBootLine(blank.Path());
    start = Clock::now();
    const bool sent = fd >= 0 && SxProgram(fd, file, transfer);
    theirs = Seconds(Clock::now() - start);
    if (fd >= 0) ::close(fd);
    if (!sent) {
      state.SkipWithError("sx could not program the image");
      break;
    }
    state.SetIterationTime(ours);
  }
  state.counters["qmxctl_s"] = ours;
  state.counters["sx_s"] = theirs;
  state.counters["sx_transfer_s"] = Seconds(transfer);
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}

BENCHMARK(BM_QmxctlProgram)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Notes when the first EOT was written and when the boot code's "OK" CR
// LF has been read.
class AnswerWatch final : public qmx::ByteChannel {
 public:
  explicit AnswerWatch(qmx::ByteChannel& inner) : inner_(inner) {}
  qmx::Done Write(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() == 1 && bytes[0] == qmx::xmodem::kEot && eot == Clock::time_point{}) eot = Clock::now();
    return inner_.Write(bytes);
  }
  int ReadByte(Clock::time_point deadline) override {
    const int b = inner_.ReadByte(deadline);
    if (b >= 0) {
      tail_ += static_cast<char>(b);
      if (tail_.size() > 4) tail_.erase(0, 1);
      if (tail_ == "OK\r\n") answered = Clock::now();
    }
    return b;
  }
  void DropInput() override { inner_.DropInput(); }

  Clock::time_point eot{};
  Clock::time_point answered{};

 private:
  qmx::ByteChannel& inner_;
  std::string tail_;
};

void BM_ProgramToProtocolMode(benchmark::State& state) {
  qmx::test::TempDir temp;
  qmx::WorkDir dir(temp.path());
  qmx::StderrPrompter prompter;
  qmx::CondVarWaiter waiter;
  qmx::DiscardingSink sink;
  const auto image = Image();
  double total = 0, afterAnswer = 0, transfer = 0;
  for (auto _ : state) {
    qmx::sim::SimOptions options;
    options.appStartTime = std::chrono::milliseconds(state.range(0));
    auto module = std::make_shared<qmx::sim::SimModule>(options);
    module->WithBootloader([](qmx::sim::SimBootloader& b) {
      b.Options().paced = true;
      b.Options().programTime = kProgramTime;
    });
    qmx::RadioLink link(qmx::sim::MakeSimPortFactory(module), dir, prompter, waiter, sink);
    link.transport.SetSettleTime(0ms);
    link.parser.Start();
    const qmx::PortChoice port{qmx::sim::kSimPortName, {9600, 8, qmx::parity::None, qmx::stopbits::One, false}, "SIM"};
    if (!link.session.Connect(port)) {
      state.SkipWithError("no protocol mode");
      break;
    }
    const auto start = Clock::now();
    if (!link.session.EnterBootCode(true)) {
      state.SkipWithError("no boot prompt");
      break;
    }
    AnswerWatch watch(link.session.BootChannel());
    // The transfer runs from the gauge's first value (the first block) to
    // the EOT.
    Clock::time_point sending{};
    qmx::FirmwareUpgrade::Hooks hooks;
    hooks.gauge = [&](std::size_t) {
      if (sending == Clock::time_point{}) sending = Clock::now();
    };
    qmx::FirmwareUpgrade upgrade(watch, link.session.Time(), hooks);
    upgrade.SetEndOnAnswer(true);
    const bool programmed = upgrade.Program(image).ok();
    upgrade.Leave();
    const bool back = link.session.LeaveBootCode().ok();
    const auto end = Clock::now();
    if (!programmed || !back) {
      state.SkipWithError("programming or the way back failed");
      break;
    }
    total = Seconds(end - start);
    afterAnswer = Seconds(end - watch.answered);
    transfer = Seconds(watch.eot - sending);
    state.SetIterationTime(total);
    link.session.Disconnect();
  }
  state.counters["total_s"] = total;
  state.counters["after_ok_s"] = afterAnswer;
  state.counters["transfer_s"] = transfer;
}

BENCHMARK(BM_ProgramToProtocolMode)
    ->ArgName("app_start_ms")
    ->Arg(0)
    ->Arg(300)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// The flood as a user meets it: the simulated module served on a
// pseudo-terminal, as qmxsim serves it, and the real window connected to the
// terminal through the POSIX serial port; a pacing thread makes the module
// send RX Data frames at a steady rate. Its output can be copied, byte for
// byte, to a second terminal, for another program to read the same stream.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QString>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/ui/flood_common.h"
#include "config/register_map.h"
#include "link/event.h"
#include "link/radio_link.h"
#include "link/serial_port.h"
#include "link/ui/comm_port_form.h"
#include "link/ui/qt_waiter.h"
#include "link/workdir.h"
#include "mainwindow/ui/main_window.h"
#include "sim/sim_line.h"
#include "sim/sim_module.h"

extern char** environ;

namespace qmx::bench {

// A pseudo-terminal, raw from the start, with a descriptor of its own on the
// slave side (so the master never sees a hang-up between users).
struct RawPty {
  RawPty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) throw std::runtime_error("no pty");
    path = ::ptsname(master);
    slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) throw std::runtime_error("no pty slave");
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(slave, TCSANOW, &t);
  }
  ~RawPty() {
    CloseMaster();
    if (slave >= 0) ::close(slave);
  }
  RawPty(const RawPty&) = delete;
  RawPty& operator=(const RawPty&) = delete;
  // The device goes away: readers of the slave see the end.
  void CloseMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  int master = -1;
  int slave = -1;
  std::string path;
};

// All of `bytes` to `fd`; a reader that falls behind holds the writer back.
inline void WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0) bytes = bytes.subspan(static_cast<std::size_t>(n));
    else if (n < 0 && errno == EINTR) continue;
    else return;
  }
}

inline double ClockSeconds(clockid_t clock) {
  timespec t{};
  ::clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The simulated module on a pseudo-terminal: its output goes to the master
// side (and to Tee()'s descriptor too), what the host writes goes to the
// module. The host is taken to be at the module's factory line.
class PtyRadio final : public qmx::sim::SimSink {
 public:
  explicit PtyRadio(std::shared_ptr<qmx::sim::SimModule> module) : module_(std::move(module)) {
    module_->Attach(this);
    serve_ = std::thread([this] { Serve(); });
  }
  ~PtyRadio() override {
    module_->Detach(this);
    stop_.set();
    serve_.join();
  }
  const std::string& Path() const { return pty_.path; }
  // From now on every byte sent also goes to `fd` (-1: no more).
  void Tee(int fd) { tee_.store(fd); }
  std::uint64_t TeedBytes() const { return teed_.load(); }
  // CPU time of the thread that hands the host's bytes to the module.
  double ServeCpuSeconds() const {
    clockid_t clock{};
    return ::pthread_getcpuclockid(const_cast<std::thread&>(serve_).native_handle(), &clock) == 0 ? ClockSeconds(clock)
                                                                                                   : 0;
  }

  void OnOutput(std::span<const std::uint8_t> bytes, const qmx::sim::SimLine&) override {
    WriteAll(pty_.master, bytes);
    if (const int fd = tee_.load(); fd >= 0) {
      WriteAll(fd, bytes);
      teed_ += bytes.size();
    }
  }
  void OnUnplug() override {}

 private:
  void Serve() {
    const LineSettings host{9600, 8, parity::None, stopbits::One, false};
    std::uint8_t buffer[4096];
    for (;;) {
      pollfd fds[2] = {{pty_.master, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      const ssize_t n = ::read(pty_.master, buffer, sizeof buffer);
      if (n > 0) module_->FromHost(std::span(buffer, static_cast<std::size_t>(n)), host);
    }
  }

  RawPty pty_;
  std::shared_ptr<qmx::sim::SimModule> module_;
  qmx::Event stop_;
  std::atomic<int> tee_{-1};
  std::atomic<std::uint64_t> teed_{0};
  std::thread serve_;
};

// Another program, started with `argv`; stdin from `input` (-1: as ours),
// stdout to `output` (empty: /dev/null), stderr to /dev/null.
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, int input = -1, const std::filesystem::path& output = {}) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (input >= 0) ::posix_spawn_file_actions_adddup2(&actions, input, 0);
    const std::string out = output.empty() ? std::string("/dev/null") : output.string();
    ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    ::posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Running() const { return pid_ > 0; }
  // Waits for the end; the CPU time it used (user and system), in seconds.
  double Wait() {
    if (pid_ <= 0) return -1;
    rusage usage{};
    int status = 0;
    while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }

 private:
  pid_t pid_ = -1;
};

// The window connected to the module on its terminal, with "Log Data" on,
// in a temporary working directory that goes with it.
struct PtyFloodRig {
  PtyFloodRig()
      : dir(std::filesystem::temp_directory_path() / ("qmx_ptyflood_" + std::to_string(::getpid()))),
        workdir((std::filesystem::create_directories(dir), dir.string())),
        module(std::make_shared<qmx::sim::SimModule>()),
        radio(module),
        link([](const std::string&) { return MakePosixSerialPort(); }, workdir, prompter, waiter, sink),
        window(link, image, prompter, workdir),
        port(link, prompter, &window) {
    sink.SetTarget(&window.Sink());
    port.SetPortSource([] { return std::vector<PortInfo>{}; }, [](const std::string&) { return false; });
    window.SetForms({&port});
    window.show();
    window.LogData1->setChecked(true);
    connected = window.ConnectTo(QString::fromStdString(radio.Path()), "9600");
  }
  ~PtyFloodRig() {
    sink.SetTarget(nullptr);
    link.parser.Stop();
    link.transport.StopComm();
  }

  // Sends `total` RX Data frames (FrameData) at `rate` a second from its own
  // thread, paced by the clock alone; `done` afterwards, with the thread's
  // CPU time in `cpuSeconds`.
  std::thread Flood(std::uint32_t total, int rate, std::atomic<bool>& done, std::atomic<double>& cpuSeconds) {
    return std::thread([this, total, rate, &done, &cpuSeconds] {
      ::pthread_setname_np(::pthread_self(), "flood-radio");
      const auto period = std::chrono::nanoseconds(std::chrono::seconds(1)) / rate;
      const auto start = std::chrono::steady_clock::now();
      for (std::uint32_t i = 0; i < total; ++i) {
        std::this_thread::sleep_until(start + period * i);
        module->SendRxData(0x0002, FrameData(i));
      }
      cpuSeconds = ThreadCpuSeconds();
      done = true;
    });
  }

  std::filesystem::path dir;
  qmx::WorkDir workdir;
  CountingPrompter prompter;
  qmx::QtWaiter waiter;
  std::shared_ptr<qmx::sim::SimModule> module;
  PtyRadio radio;
  qmx::ForwardingSink sink;
  qmx::RadioLink link;
  qmx::RadioImage image;
  qmx::TForm1 window;
  qmx::TCommPortForm port;
  bool connected = false;
};

}  // namespace qmx::bench

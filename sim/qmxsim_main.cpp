// qmxsim: serves one simulated QMX2400 module on a pseudo-terminal, so that
// the program (or any serial tool) can talk to it through a real tty.
//
// The first line on stdout is the path of the terminal to open. The tool
// then serves until SIGINT or SIGTERM, or until an unplug fault strikes;
// closing the master side then shows the host a hang-up.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "link/event.h"
#include "link/version.h"
#include "sim/sim_module.h"

namespace {

using qmx::LineSettings;
using qmx::sim::Fault;
using qmx::sim::SimModule;

constexpr char kUsage[] =
    "Usage: qmxsim [--baud N] [--parity none|even|odd] [--stop 1|2] [--faults LIST]\n"
    "              [--quiet] [--traffic-interval SECONDS] [--seed N] [--echo]\n"
    "              [--strict-stop-bits] [--remotes N] [--churn[=SECONDS]]\n"
    "              [--boot-only] [--boot-paced] [--program-time MS] [--app-start MS]\n"
    "              [--help] [--version]\n"
    "\n"
    "Serves a simulated QMX2400 module (the base of a PAN with remotes 0x0001,\n"
    "0x0002 and 0x0003) on a pseudo-terminal. The first line printed is the\n"
    "terminal's path; open it with your serial tool. SIGINT or SIGTERM end the\n"
    "tool; the terminal then reports a hang-up.\n"
    "\n"
    "The network is live: the base announces its start-up and the PAN, the\n"
    "remotes join one after another over the first seconds, then send text\n"
    "and binary data now and then, report changes of their inputs as I/O\n"
    "events and answer each line typed outside protocol mode.\n"
    "\n"
    "  --baud N        the module's serial line: 1200, 2400, 4800, 9600 (default),\n"
    "                  19200, 38400, 57600 or 115200 baud\n"
    "  --parity P      none (default), even or odd, as the module reports it in\n"
    "                  bank 3. A Linux pseudo-terminal does not show parity (nor\n"
    "                  the data bits) to its master side, so the module\n"
    "                  understands a host at its baud rate whatever its parity.\n"
    "  --stop S        1 (default) or 2 stop bits. Like a real UART, which checks\n"
    "                  only the first stop bit, the module also understands a\n"
    "                  host with other stop bits\n"
    "  --strict-stop-bits\n"
    "                  understand only a host whose stop bits match as well\n"
    "  --faults LIST   comma-separated faults of the replies, each NAME or\n"
    "                  NAME=VALUE:\n"
    "                    drop[=N]      lose the next N replies (default 1)\n"
    "                    never         answer nothing\n"
    "                    late[=MS]     send every reply MS late (default 1500)\n"
    "                    dup           send every reply twice\n"
    "                    seq[=K]       add K to reply sequence numbers (default 1)\n"
    "                    noise[=N]     N noise bytes before each reply (default 8)\n"
    "                    overlong[=L]  a stray 0xFB and length byte L > 100 before\n"
    "                                  each reply (default 101)\n"
    "                    unplug[=N]    unplug after N replies (default 0): the tool\n"
    "                                  exits and the host sees a hang-up\n"
    "  --quiet, --no-traffic\n"
    "                  a quiet network: the remotes are joined from the start\n"
    "                  and send nothing unasked\n"
    "  --traffic-interval SECONDS\n"
    "                  mean time between two reports of one remote (default 5)\n"
    "  --seed N        seed of the network's chances (default 1): the same seed\n"
    "                  gives the same traffic\n"
    "  --echo          remotes send the data of each TX Data back as RX Data\n"
    "  --remotes N     the network's remotes: addresses 1 to N answer, others\n"
    "                  not (0-250, default 3). Each has its own MAC address;\n"
    "                  they join within 30 seconds at most\n"
    "  --churn[=SECONDS]\n"
    "                  remotes leave the network (announced as a node left)\n"
    "                  and join again a while later, one time in three under a\n"
    "                  new address with the same MAC address. SECONDS: mean\n"
    "                  time between two leaves in the network (default 10).\n"
    "                  Commands to a remote that is away get no acknowledgement\n"
    "  --boot-only     the module has no working firmware, as after an upgrade\n"
    "                  cut short: it stays in its boot code (38400 8N1, 0x03\n"
    "                  answered with \">\") until an image is programmed\n"
    "  --boot-paced    the boot code's bytes take their wire time at 38400 baud,\n"
    "                  both ways, as on a real line\n"
    "  --program-time MS\n"
    "                  the boot code programs a received image for MS ms before\n"
    "                  it says \"OK\" (default 3000)\n"
    "  --app-start MS  after \"E\" the application listens only MS ms later\n"
    "                  (default 0)\n"
    "  --help          show this text\n"
    "  --version       show the version and exit\n";

static_assert(qmx::sim::kMaxRemotes == 250, "the help and its messages say 250");

// Mean time between two leaves of a network with churn, unless given.
constexpr std::chrono::milliseconds kDefaultChurn{10000};

int Usage(const char* problem) {
  std::fprintf(stderr, "qmxsim: %s\n\n%s", problem, kUsage);
  return 2;
}

struct FaultArg {
  Fault fault;
  int count;      // -1: all replies
  bool valueIsCount;
};

const std::map<std::string_view, FaultArg> kFaultNames{
    {"drop", {Fault::DropReply, 1, true}},         {"never", {Fault::NeverReply, -1, false}},
    {"late", {Fault::LateReply, -1, false}},       {"dup", {Fault::DuplicateReply, -1, false}},
    {"seq", {Fault::WrongSequence, -1, false}},    {"noise", {Fault::Noise, -1, false}},
    {"overlong", {Fault::OverlongLength, -1, false}}, {"unplug", {Fault::Unplug, -1, false}},
};

std::optional<long> Number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < 0) return std::nullopt;
  return v;
}

// Seconds, with a fraction if wanted, as whole milliseconds: at least 1 ms,
// at most a day.
std::optional<std::chrono::milliseconds> Interval(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string s(text);
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(s.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(seconds >= 0.001 && seconds <= 86400)) return std::nullopt;
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

bool ApplyFaults(SimModule& module, std::string_view list) {
  while (!list.empty()) {
    const auto comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    const auto eq = item.find('=');
    const auto it = kFaultNames.find(item.substr(0, eq));
    if (it == kFaultNames.end()) return false;
    FaultArg arg = it->second;
    int param = 0;
    if (eq != std::string_view::npos) {
      auto v = Number(item.substr(eq + 1));
      if (!v || *v > 100000) return false;
      if (arg.valueIsCount) {
        if (*v == 0) continue;
        arg.count = static_cast<int>(*v);
      } else {
        param = static_cast<int>(*v);
      }
    }
    module.SetFault(arg.fault, arg.count, param);
  }
  return true;
}

std::uint32_t BaudOf(speed_t speed) {
  switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
  }
}

speed_t SpeedOf(std::uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

// The line the host has set on the terminal. The pty keeps baud rate and
// stop bits but clears PARENB and forces 8 data bits.
std::optional<LineSettings> HostLine(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return std::nullopt;
  LineSettings line;
  line.baudRate = BaudOf(::cfgetospeed(&t));
  line.stopBits = (t.c_cflag & CSTOPB) ? qmx::stopbits::Two : qmx::stopbits::One;
  line.parity = !(t.c_cflag & PARENB) ? qmx::parity::None
                                      : (t.c_cflag & PARODD) ? qmx::parity::Odd : qmx::parity::Even;
  switch (t.c_cflag & CSIZE) {
    case CS5: line.byteSize = 5; break;
    case CS6: line.byteSize = 6; break;
    case CS7: line.byteSize = 7; break;
    default: line.byteSize = 8; break;
  }
  return line;
}

// Module output goes to the master side when the host's line matches.
class PtySink final : public qmx::sim::SimSink {
 public:
  PtySink(int master, int slave, qmx::Event& unplugged) : master_(master), slave_(slave), unplugged_(unplugged) {}

  void OnOutput(std::span<const std::uint8_t> bytes, const qmx::sim::SimLine& line) override {
    auto host = HostLine(slave_);
    if (!host || !line.Accepts(*host)) return;
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        // The host does not read and the terminal's buffer is full: like a
        // real line, what does not fit is lost.
        return;
      }
    }
  }
  void OnUnplug() override { unplugged_.set(); }

 private:
  int master_;
  int slave_;
  qmx::Event& unplugged_;
};

struct SimArgs {
  LineSettings line{9600, 8, qmx::parity::None, qmx::stopbits::One, false};
  std::string faults;
  bool quiet = false;
  std::chrono::milliseconds trafficInterval{5000};
  long seed = 1;
  bool echo = false;
  bool strictStopBits = false;
  long remotes = 3;
  std::chrono::milliseconds churn{0};
  bool bootOnly = false;
  bool bootPaced = false;
  std::optional<std::chrono::milliseconds> programTime;
  std::chrono::milliseconds appStart{0};
};

// The command line into `o`; the exit status when the program ends here
// (help, version, a mistake).
std::optional<int> ParseSimArgs(int argc, char** argv, SimArgs& o) {
  LineSettings& line = o.line;

  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    auto number = [&] {
      auto v = value();
      return v ? Number(*v) : std::nullopt;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("qmxsim %s\n", QMX_VERSION_TEXT);
      return 0;
    } else if (a == "--baud") {
      auto n = number();
      if (!n || !qmx::sim::CodeFromBaud(static_cast<std::uint32_t>(*n))) return Usage("unsupported baud rate");
      line.baudRate = static_cast<std::uint32_t>(*n);
    } else if (a == "--parity") {
      auto v = value();
      if (v == "none") line.parity = qmx::parity::None;
      else if (v == "even") line.parity = qmx::parity::Even;
      else if (v == "odd") line.parity = qmx::parity::Odd;
      else return Usage("parity must be none, even or odd");
    } else if (a == "--stop") {
      auto v = value();
      if (v == "1") line.stopBits = qmx::stopbits::One;
      else if (v == "2") line.stopBits = qmx::stopbits::Two;
      else return Usage("stop bits must be 1 or 2");
    } else if (a == "--faults") {
      auto v = value();
      if (!v) return Usage("--faults needs a list");
      o.faults = std::string(*v);
    } else if (a == "--quiet" || a == "--no-traffic") {
      o.quiet = true;
    } else if (a == "--traffic-interval") {
      auto v = value();
      auto t = v ? Interval(*v) : std::nullopt;
      if (!t) return Usage("--traffic-interval needs a number of seconds");
      o.trafficInterval = *t;
    } else if (a == "--seed") {
      auto n = number();
      if (!n || *n > 0xFFFFFFFFL) return Usage("--seed needs a number");
      o.seed = *n;
    } else if (a == "--echo") {
      o.echo = true;
    } else if (a == "--strict-stop-bits") {
      o.strictStopBits = true;
    } else if (a == "--boot-only") {
      o.bootOnly = true;
    } else if (a == "--boot-paced") {
      o.bootPaced = true;
    } else if (a == "--program-time" || a == "--app-start") {
      auto n = number();
      if (!n || *n > 600000) return Usage((std::string(a) + " needs a number of milliseconds").c_str());
      (a == "--app-start" ? o.appStart : o.programTime.emplace()) = std::chrono::milliseconds(*n);
    } else if (a == "--remotes") {
      auto n = number();
      if (!n || *n > qmx::sim::kMaxRemotes) return Usage("--remotes needs a number from 0 to 250");
      o.remotes = *n;
    } else if (a == "--churn") {
      o.churn = kDefaultChurn;
    } else if (a.starts_with("--churn=")) {
      auto t = Interval(a.substr(std::string_view("--churn=").size()));
      if (!t) return Usage("--churn=SECONDS needs a number of seconds");
      o.churn = *t;
    } else {
      return Usage(("unknown argument " + std::string(a)).c_str());
    }
  }
  if (o.quiet && o.churn.count() > 0) return Usage("--churn needs a live network: leave out --quiet");
  return std::nullopt;
}

// A pseudo-terminal at `line`, raw from the start: a cooked terminal would
// echo the module's output back to it before the host sets its own mode.
// Our own descriptor of the slave keeps the master from seeing a hang-up
// between host sessions, and lets us read the host's line settings.
// Prints the error and gives nothing when it cannot be had.
std::optional<std::pair<int, int>> OpenTerminal(const LineSettings& line) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("qmxsim: pseudo-terminal");
    return std::nullopt;
  }
  const char* name = ::ptsname(master);
  const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  if (slave < 0) {
    std::perror("qmxsim: terminal");
    return std::nullopt;
  }
  termios t{};
  ::tcgetattr(slave, &t);
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, SpeedOf(line.baudRate));
  ::cfsetospeed(&t, SpeedOf(line.baudRate));
  if (line.stopBits == qmx::stopbits::Two) t.c_cflag |= CSTOPB;
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(slave, TCSANOW, &t);
  return std::pair{master, slave};
}

// Feeds what the host writes to the module until a signal, an unplug or a
// failure; returns the exit status.
int Serve(SimModule& module, int master, int slave, int sigfd, qmx::Event& unplugged) {
  std::uint8_t buffer[4096];
  for (;;) {
    pollfd fds[3] = {{master, POLLIN, 0}, {sigfd, POLLIN, 0}, {unplugged.fd(), POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("qmxsim: poll");
      return 1;
    }
    if (fds[1].revents & POLLIN) return 0;
    if (fds[2].revents & POLLIN) {
      std::fputs("qmxsim: unplugged\n", stderr);
      return 0;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) {
        if (auto host = HostLine(slave)) module.FromHost(std::span(buffer, static_cast<std::size_t>(n)), *host);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        std::perror("qmxsim: read");
        return 1;
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Cannot happen while we hold the slave open; never spin on it.
      std::fputs("qmxsim: terminal failed\n", stderr);
      return 1;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  SimArgs args;
  if (auto status = ParseSimArgs(argc, argv, args)) return *status;
  const LineSettings& line = args.line;

  // Blocked before the module's thread starts, so that it inherits the mask
  // and the signals reach only the signalfd.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  const int sigfd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  if (sigfd < 0) {
    std::perror("qmxsim: signalfd");
    return 1;
  }

  qmx::sim::SimOptions options =
      qmx::sim::LiveNetwork(args.quiet ? std::chrono::milliseconds(0) : args.trafficInterval,
                            static_cast<std::uint32_t>(args.seed));
  options.match = args.strictStopBits ? qmx::sim::MatchMode::BaudAndStopBits : qmx::sim::MatchMode::BaudRate;
  options.remoteDataEcho = args.echo;
  options.remotes = static_cast<int>(args.remotes);
  options.network.churn = args.churn;
  options.appStartTime = args.appStart;
  auto module = std::make_shared<SimModule>(options);
  module->SetLine(line);
  if (!ApplyFaults(*module, args.faults)) return Usage("bad fault list");
  if (args.bootOnly) module->SetFault(Fault::NoFirmware);
  module->WithBootloader([&args](qmx::sim::SimBootloader& boot) {
    boot.Options().paced = args.bootPaced;
    if (args.programTime) boot.Options().programTime = *args.programTime;
  });

  const auto terminal = OpenTerminal(line);
  if (!terminal) return 1;
  const auto [master, slave] = *terminal;
  std::printf("%s\n", ::ptsname(master));
  std::fflush(stdout);

  qmx::Event unplugged;
  PtySink sink(master, slave, unplugged);
  module->Attach(&sink);
  const int status = Serve(*module, master, slave, sigfd, unplugged);

  module->Detach(&sink);
  module.reset();
  ::close(slave);
  ::close(master);
  ::close(sigfd);
  return status;
}

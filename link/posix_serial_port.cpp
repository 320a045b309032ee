// The POSIX serial port: termios for the line, poll() for waiting, the
// modem-control ioctls for DTR and RTS, and the driver's interrupt counters
// for line errors.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "link/event.h"
#include "link/serial_port.h"
#include "link/port_access.h"

// Rates that have no Bxxx constant (14,400 and 28,800 among them) are set on
// Linux through the kernel's termios2 with BOTHER. glibc does not declare
// termios2, and the kernel header that does clashes with <termios.h>, so the
// layout of the architectures that use the generic termios is given here;
// TCGETS2/TCSETS2 name this struct.
#if defined(__linux__) && defined(TCGETS2) && defined(TCSETS2) && \
    (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || defined(__riscv))
#define QMX_HAVE_TERMIOS2 1
struct termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
static_assert(sizeof(termios2) == 44, "kernel termios2 layout");
#endif

namespace qmx {

namespace {

struct BaudCode {
  speed_t code;
  std::uint32_t rate;
};

constexpr BaudCode kBauds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400},
#ifdef B460800
    {B460800, 460800},
#endif
#ifdef B500000
    {B500000, 500000},
#endif
#ifdef B576000
    {B576000, 576000},
#endif
#ifdef B921600
    {B921600, 921600},
#endif
#ifdef B1000000
    {B1000000, 1000000},
#endif
#ifdef B1152000
    {B1152000, 1152000},
#endif
#ifdef B1500000
    {B1500000, 1500000},
#endif
#ifdef B2000000
    {B2000000, 2000000},
#endif
#ifdef B2500000
    {B2500000, 2500000},
#endif
#ifdef B3000000
    {B3000000, 3000000},
#endif
#ifdef B3500000
    {B3500000, 3500000},
#endif
#ifdef B4000000
    {B4000000, 4000000},
#endif
};

bool CodeForRate(std::uint32_t rate, speed_t& code) {
  for (const auto& b : kBauds) {
    if (b.rate == rate) {
      code = b.code;
      return true;
    }
  }
  return false;
}

std::uint32_t RateForCode(speed_t code) {
  for (const auto& b : kBauds) {
    if (b.code == code) return b.rate;
  }
  return 0;
}

// Raw mode in which the tty passes every byte through untouched in both
// directions and never adds one of its own: no echo, no line editing, no
// CR/NL translation, no XON/XOFF, no signal characters, breaks ignored
// instead of read as NUL, and bytes with parity or framing errors delivered
// as received (INPCK off: with it the tty would replace them by NUL). The
// driver counts those errors all the same. Reads return at once with what is
// buffered (VMIN = VTIME = 0). Speed, character size, parity, stop bits and
// CTS flow are left as they are.
void MakeRaw(termios& t) {
  const tcflag_t keep = t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  const speed_t ispeed = cfgetispeed(&t);
  const speed_t ospeed = cfgetospeed(&t);
  cfmakeraw(&t);
  t.c_iflag &= ~(tcflag_t)(PARMRK | INPCK | IGNPAR | ISTRIP | IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR);
#ifdef IUCLC
  t.c_iflag &= ~(tcflag_t)IUCLC;
#endif
  t.c_iflag |= IGNBRK;
  t.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  t.c_cflag &= ~(tcflag_t)CMSPAR;
#endif
  t.c_cflag |= keep | CLOCAL | CREAD;
  cfsetispeed(&t, ispeed);
  cfsetospeed(&t, ospeed);
#ifdef CIBAUD
  // Input speed follows the output speed.
  t.c_cflag &= ~(tcflag_t)CIBAUD;
#endif
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// A failure of `operation` with the reason errno gives for the call that
// just failed (none when it set none).
Done Failed(Operation operation, Status status) {
  return Done::Fail(operation, status, errno != 0 ? std::strerror(errno) : std::string());
}

Done LineNotApplied(std::string why) {
  return Done::Fail(Operation::LineSettings, Status::LineNotApplied, std::move(why));
}

std::string BusyText(const std::string& name) { return "Busy: " + name + " is in use by another program"; }

// Why `name` could not be opened, in words a user can act on.
std::string OpenFailureText(const std::string& name, int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    {
      const std::string hint = SerialPermissionHint({PortInfo{name, name, 0, {}, {}}});
      return "Permission denied: " + name + (hint.empty() ? std::string() : " \u2014 " + hint);
    }
    case EBUSY: return BusyText(name);
    case ENOENT:
    case ENODEV:
    case ENXIO: return "Not present: " + name + " does not exist; is the device plugged in?";
    default: return name + ": " + std::strerror(error);
  }
}

class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override { Close(); }

  Done Open(const std::string& name) override {
    auto fail = [](std::string why) { return Done::Fail(Operation::OpenPort, Status::CannotOpen, std::move(why)); };
    if (fd_.load() >= 0) return fail("port already open");
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(OpenFailureText(name, errno));
    termios t{};
    const std::string why = Claim(fd, name, t);
    if (!why.empty()) {
      ::close(fd);  // also drops the lock
      return fail(why);
    }
    fd_.store(fd);
    isPty_ = IsPtySlave(fd);
    AskForLowLatency(fd);
    framingSize_ = CharSize(t.c_cflag);
    framingParity_ = ParityOf(t.c_cflag);
    // Errors counted before the port was ours are not reported.
    haveCounts_ = ReadCounts(lastCounts_);
    noCounters_ = false;
    return {};
  }

  bool IsOpen() const override { return fd_.load() >= 0; }

  Result<LineSettings> GetSettings() override {
    const int fd = fd_.load();
    termios t{};
    if (fd < 0) return Result<LineSettings>::Fail(Operation::LineSettings, Status::LineNotRead, "the port is closed");
    errno = 0;
    if (::tcgetattr(fd, &t) != 0) return Result<LineSettings>::From(Failed(Operation::LineSettings, Status::LineNotRead));
    LineSettings s;
    s.baudRate = RateForCode(cfgetospeed(&t));
#ifdef QMX_HAVE_TERMIOS2
    termios2 t2{};
    if (::ioctl(fd, TCGETS2, &t2) == 0 && t2.c_ospeed != 0) s.baudRate = t2.c_ospeed;
#endif
    s.byteSize = isPty_ ? framingSize_ : CharSize(t.c_cflag);
    s.parity = isPty_ ? framingParity_ : ParityOf(t.c_cflag);
    s.stopBits = (t.c_cflag & CSTOPB) ? stopbits::Two : stopbits::One;
    s.ctsFlow = (t.c_cflag & CRTSCTS) != 0;
    return s;
  }

  Done ApplySettings(const LineSettings& s) override {
    const int fd = fd_.load();
    if (fd < 0) return LineNotApplied("the port is closed");
    if (s.baudRate == 0) return LineNotApplied("no baud rate");
    tcflag_t size = 0;
    switch (s.byteSize) {
      case 5: size = CS5; break;
      case 6: size = CS6; break;
      case 7: size = CS7; break;
      case 8: size = CS8; break;
      default: return LineNotApplied(std::to_string(s.byteSize) + " data bits");
    }
    if (s.parity != parity::None && s.parity != parity::Odd && s.parity != parity::Even)
      return LineNotApplied("unknown parity");
    if (s.stopBits != stopbits::One && s.stopBits != stopbits::Two) return LineNotApplied("unknown stop bits");

    termios t{};
    errno = 0;
    if (::tcgetattr(fd, &t) != 0) return Failed(Operation::LineSettings, Status::LineNotApplied);
    MakeRaw(t);
    t.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    // A pty carries 8-bit characters without parity, and C libraries that
    // check the kernel's answer refuse a request for other framing: there
    // the framing is only kept (below), not asked for.
    t.c_cflag |= isPty_ ? CS8 : size;
    if (s.parity != parity::None && !isPty_) t.c_cflag |= PARENB;
    if (s.parity == parity::Odd && !isPty_) t.c_cflag |= PARODD;
    if (s.stopBits == stopbits::Two) t.c_cflag |= CSTOPB;
    if (s.ctsFlow) t.c_cflag |= CRTSCTS;
    speed_t code = 0;
    const bool standard = CodeForRate(s.baudRate, code);
    if (standard) {
      cfsetispeed(&t, code);
      cfsetospeed(&t, code);
    }
    errno = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return Failed(Operation::LineSettings, Status::LineNotApplied);
    if (!standard && !SetOtherRate(fd, s.baudRate))
      return LineNotApplied(std::to_string(s.baudRate) + " baud is not supported");

    // tcsetattr() succeeds when any part was taken; check that all was.
    const Result<LineSettings> read = GetSettings();
    if (!read) return LineNotApplied(read.reason());
    const LineSettings& back = *read;
    const auto diff = back.baudRate > s.baudRate ? back.baudRate - s.baudRate : s.baudRate - back.baudRate;
    // A driver may report the rate its divisor really gives; within 2 % the
    // line works.
    const bool rateOk = std::uint64_t{diff} * 50 <= s.baudRate;
    if (isPty_) {
      // A pty always carries 8-bit characters without parity; the framing
      // asked for is kept here so that it reads back as set.
      framingSize_ = s.byteSize;
      framingParity_ = s.parity;
      if (rateOk && back.stopBits == s.stopBits && back.ctsFlow == s.ctsFlow) return {};
      return LineNotApplied("the line was taken only in part");
    }
    if (rateOk && back.byteSize == s.byteSize && back.parity == s.parity && back.stopBits == s.stopBits &&
        back.ctsFlow == s.ctsFlow)
      return {};
    return LineNotApplied("the line was taken only in part");
  }

  Done SetDtr(bool on) override { return SetModemLine(TIOCM_DTR, on); }
  Done SetRts(bool on) override { return SetModemLine(TIOCM_RTS, on); }
  Result<bool> RaiseDtrRts() override {
    const int fd = fd_.load();
    int lines = 0;
    // A pseudo-terminal has no modem lines: nothing to raise, nothing to wait for.
    errno = 0;
    if (fd < 0 || ::ioctl(fd, TIOCMGET, &lines) != 0)
      return Result<bool>::From(Failed(Operation::LineSettings, Status::LineNotApplied));
    constexpr int kBoth = TIOCM_DTR | TIOCM_RTS;
    if ((lines & kBoth) == kBoth) return false;  // opening raised them already
    int bits = kBoth;
    if (::ioctl(fd, TIOCMBIS, &bits) != 0)
      return Result<bool>::From(Failed(Operation::LineSettings, Status::LineNotApplied));
    return true;
  }

  Done Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) override {
    const int fd = fd_.load();
    if (fd < 0) return Done::Fail(Operation::Write, Status::PortClosed);
    // Nothing written is a port gone; part of the block, a write that failed.
    const auto failed = [](std::size_t done) {
      return Failed(Operation::Write, done ? Status::WriteFailed : Status::PortClosed);
    };
    errno = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || errno != EAGAIN) return failed(done);
      // The driver's buffer is full: wait for room until the deadline.
      for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
          // Give up; what is still queued must not go out later.
          ::tcflush(fd, TCOFLUSH);
          return Done::Fail(Operation::Write, Status::TimedOut, "held back by flow control");
        }
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return failed(done);
        if (p.revents & POLLOUT) break;
      }
    }
    return {};
  }

  WaitResult WaitReadable(const Event& stop) override {
    const int fd = fd_.load();
    if (fd < 0) return WaitResult::Error;
    pollfd p[2] = {{fd, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
    for (;;) {
      const int r = ::poll(p, 2, -1);
      if (r > 0) break;
      if (r < 0 && errno != EINTR) return WaitResult::Error;
    }
    if (p[1].revents) return WaitResult::Stopped;
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Bytes that came before the device went are still delivered; the
      // read after them reports the loss. A hung-up tty claims POLLIN with
      // nothing behind it.
      int queued = 0;
      if ((p[0].revents & POLLIN) && ::ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) return WaitResult::Readable;
      return WaitResult::Hangup;
    }
    return WaitResult::Readable;
  }

  Result<std::size_t> Read(std::span<std::uint8_t> out) override {
    using Count = Result<std::size_t>;
    const auto gone = [](const char* why) { return Count::Fail(Operation::PortLost, Status::PortClosed, why); };
    const int fd = fd_.load();
    if (fd < 0) return gone("the port is closed");
    if (out.empty()) return 0;
    bool retried = false;
    for (;;) {
      errno = 0;
      const ssize_t n = ::read(fd, out.data(), out.size());
      if (n > 0) return static_cast<std::size_t>(n);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return 0;
      // EIO and the like: the device is gone
      if (n < 0) return Count::From(Failed(Operation::PortLost, Status::PortClosed));
      // With VMIN = VTIME = 0 an empty queue also reads as 0 bytes. A
      // hang-up says the device is gone; so does input that poll() keeps
      // claiming while reads find none (a byte may also just have come in
      // between, hence one more read before deciding).
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 0) < 0) return Count::From(Failed(Operation::PortLost, Status::PortClosed));
      if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return gone("hung up");
      if (!(p.revents & POLLIN)) return 0;
      if (retried) return gone("input claimed but none read");
      retried = true;
    }
  }

  Result<unsigned> TakeLineErrors() override {
    unsigned flags = 0;
    const int fd = fd_.load();
    if (fd < 0) return Result<unsigned>::Fail(Operation::PortLost, Status::PortClosed, "the port is closed");
    // A driver that said it keeps no counters is not asked again on every
    // wake-up.
    if (noCounters_) return flags;
#ifdef TIOCGICOUNT
    serial_icounter_struct now{};
    errno = 0;
    if (::ioctl(fd, TIOCGICOUNT, &now) != 0) {
      // ptys and some drivers keep no counters: nothing to report.
      noCounters_ = errno == ENOTTY || errno == EINVAL;
      if (noCounters_) return flags;
      return Result<unsigned>::From(Failed(Operation::PortLost, Status::PortClosed));
    }
    if (haveCounts_) {
      if (now.brk != lastCounts_.brk) flags |= lineerror::Break;
      if (now.frame != lastCounts_.frame) flags |= lineerror::Framing;
      if (now.buf_overrun != lastCounts_.buf_overrun) flags |= lineerror::InputOverflow;
      if (now.overrun != lastCounts_.overrun) flags |= lineerror::Overrun;
      if (now.parity != lastCounts_.parity) flags |= lineerror::Parity;
    }
    lastCounts_ = now;
    haveCounts_ = true;
#endif
    return flags;
  }

  void Close() override {
    const int fd = fd_.exchange(-1);
    if (fd < 0) return;
    // Closing waits for queued output to drain; when CTS holds it back that
    // can take the driver's whole closing wait, so such output is dropped.
    int queued = 0;
    termios t{};
    int lines = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && ::tcgetattr(fd, &t) == 0 && (t.c_cflag & CRTSCTS) &&
        ::ioctl(fd, TIOCMGET, &lines) == 0 && !(lines & TIOCM_CTS)) {
      ::tcflush(fd, TCOFLUSH);
    }
    RestoreLatency(fd);
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
  }

 private:
  // Most USB serial adapters hold received bytes for up to 16 ms before
  // handing them over, which delays every reply by as much. The driver's
  // low-latency flag asks it not to; a driver that does not know it (a
  // pseudo-terminal, many others) refuses, and the port works as before.
  // Whatever was there is put back on close.
  void AskForLowLatency(int fd) {
    restoreLowLatency_ = false;
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (isPty_ || ::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY)) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    restoreLowLatency_ = ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
#else
    (void)fd;
#endif
  }

  void RestoreLatency(int fd) {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (!restoreLowLatency_ || ::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#else
    (void)fd;
#endif
    restoreLowLatency_ = false;
  }

#ifdef __linux__
  using Counts = serial_icounter_struct;
#else
  struct Counts {};
#endif

  bool ReadCounts(Counts& c) {
#ifdef TIOCGICOUNT
    return ::ioctl(fd_.load(), TIOCGICOUNT, &c) == 0;
#else
    (void)c;
    return false;
#endif
  }

  // Makes the freshly opened tty ours: exclusive, locked, raw. Returns why
  // not, leaving the tty as it was, or an empty text.
  static std::string Claim(int fd, const std::string& name, termios& t) {
    if (!::isatty(fd)) return name + ": not a terminal";
#ifdef TIOCGEXCL
    // Someone holds it exclusively; a privileged open gets past that.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) return BusyText(name);
#endif
    // A pseudo-terminal's exclusive flag would outlive us if we were killed
    // (its other side keeps the terminal alive) and leave it busy for good:
    // there our lock alone makes the open exclusive.
    struct stat node {};
    const bool pty = ::fstat(fd, &node) == 0 && major(node.st_rdev) >= 136 && major(node.st_rdev) <= 143;
    // TIOCEXCL does not stop a privileged opener; the lock does. It is taken
    // first so that a port that someone else holds is left untouched.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
      return errno == EWOULDBLOCK ? BusyText(name) : ErrnoText("flock");
    if (!pty && ::ioctl(fd, TIOCEXCL) != 0) return ErrnoText("TIOCEXCL");
    std::string why;
    if (::tcgetattr(fd, &t) != 0) {
      why = ErrnoText("tcgetattr");
    } else {
      // Raw at once, before the line settings are chosen, so that no byte
      // that arrives meanwhile is echoed or translated.
      MakeRaw(t);
      if (::tcsetattr(fd, TCSANOW, &t) != 0) why = ErrnoText("tcsetattr");
      // What arrived before the port was ours (a radio talking to a port
      // no one read) is no one's answer: the first byte read is new.
      if (why.empty()) ::tcflush(fd, TCIFLUSH);
    }
    if (!why.empty() && !pty) ::ioctl(fd, TIOCNXCL);
    return why;
  }

  static std::uint8_t CharSize(tcflag_t cflag) {
    switch (cflag & CSIZE) {
      case CS5: return 5;
      case CS6: return 6;
      case CS7: return 7;
      default: return 8;
    }
  }

  static std::uint8_t ParityOf(tcflag_t cflag) {
    if (!(cflag & PARENB)) return parity::None;
    return (cflag & PARODD) ? parity::Odd : parity::Even;
  }

  // The slave side of a pseudo-terminal (Unix98 or legacy BSD).
  static bool IsPtySlave([[maybe_unused]] int fd) {
#ifndef __linux__
    return false;
#else
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
#endif
  }

  Done SetModemLine(int bit, bool on) {
    const int fd = fd_.load();
    if (fd < 0) return LineNotApplied("the port is closed");
    errno = 0;
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) return Failed(Operation::LineSettings, Status::LineNotApplied);
    return {};
  }

  static bool SetOtherRate([[maybe_unused]] int fd, [[maybe_unused]] std::uint32_t rate) {
#ifdef QMX_HAVE_TERMIOS2
    constexpr tcflag_t kBother = 0010000;  // BOTHER of the generic termbits
    termios2 t2{};
    if (::ioctl(fd, TCGETS2, &t2) != 0) return false;
    t2.c_cflag &= ~(tcflag_t)(CBAUD | CIBAUD);  // input speed follows output
    t2.c_cflag |= kBother;
    t2.c_ispeed = rate;
    t2.c_ospeed = rate;
    return ::ioctl(fd, TCSETS2, &t2) == 0;
#else
    return false;
#endif
  }

  std::atomic<int> fd_{-1};
  bool isPty_ = false;
  bool restoreLowLatency_ = false;  // we set the driver's low-latency flag
  std::uint8_t framingSize_ = 8;
  std::uint8_t framingParity_ = parity::None;
  // Only the thread that reads the port takes line errors.
  Counts lastCounts_{};
  bool haveCounts_ = false;
  bool noCounters_ = false;  // the driver keeps no error counters
};

}  // namespace

std::unique_ptr<SerialPort> MakePosixSerialPort() { return std::make_unique<PosixSerialPort>(); }

}  // namespace qmx

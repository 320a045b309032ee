#include "link/transport.h"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <system_error>

#include "link/clock.h"
#include "link/options.h"
#include "link/ring.h"

namespace qmx {

namespace {

constexpr std::chrono::milliseconds kWriteTimeout{2000};
// Largest block taken from the driver per wake-up.
constexpr std::size_t kReadChunk = 4096;
using GatherClock = std::chrono::steady_clock;

// The transport whose reading thread this is, so that a listener running on
// that thread can stop it without joining itself.
thread_local const SerialTransport* tlCommThreadOf = nullptr;

}  // namespace

SerialTransport::SerialTransport(PortFactory factory, LinkOptions& options, ReceiveRing& ring)
    : factory_(std::move(factory)), options_(options), ring_(ring) {}

SerialTransport::~SerialTransport() { StopComm(); }

std::shared_ptr<SerialPort> SerialTransport::Port() const {
  std::lock_guard lock(mutex_);
  return port_;
}

void SerialTransport::SignalCommStop() {
  std::shared_ptr<Event> stop;
  {
    std::lock_guard lock(mutex_);
    stop = commStop_;
  }
  if (stop) stop->set();
}

Done SerialTransport::OpenCommPort(const LineSettings& settings, const std::string& portName, bool open) {
  std::shared_ptr<SerialPort> port;
  if (open) {
    // The reading thread cannot replace itself.
    if (tlCommThreadOf == this) return Done::Fail(Status::CannotOpen);
    Result<std::shared_ptr<SerialPort>> started = StartPort(portName);
    if (!started) return Done::From(started);
    port = std::move(started.value());
  } else {
    port = Port();
  }
  return SetUpLine(port.get(), settings);
}

Result<std::shared_ptr<SerialPort>> SerialTransport::StartPort(const std::string& portName) {
  // A port left open by an earlier attempt is stopped first; its thread
  // would otherwise go on feeding the ring alongside the new one.
  StopComm();
  std::unique_ptr<SerialPort> made = factory_ ? factory_(portName) : nullptr;
  const Done opened =
      made ? made->Open(portName) : Done::Fail(Status::CannotOpen, "Not present: no port named " + portName);
  if (!opened) {
    const std::string why = opened.reason().empty() ? portName + ": cannot be opened" : opened.reason();
    if (openFailure_) openFailure_(why);
    return Result<std::shared_ptr<SerialPort>>::Fail(Operation::OpenPort, Status::CannotOpen, why);
  }
  std::shared_ptr<SerialPort> port = std::move(made);
  auto stop = std::make_shared<Event>();
  RingConsumer* consumer;
  {
    std::lock_guard lock(mutex_);
    consumer = consumer_;
    port_ = port;
    commStop_ = stop;
    portName_ = portName;
  }
  SetOpen(true);
  threadRunning_.store(true);
  try {
    thread_ = std::thread([this, port, stop, consumer] { CommThread(port, stop, consumer); });
  } catch (const std::system_error& e) {
    // Without its reading thread the port would never hear a reply.
    threadRunning_.store(false);
    StopComm();
    return Result<std::shared_ptr<SerialPort>>::Fail(Operation::StartThread, Status::ThreadFailed, e.what());
  }
  return port;
}

Done SerialTransport::SetUpLine(SerialPort* port, const LineSettings& settings) {
  Result<LineSettings> current = Result<LineSettings>::Fail(Operation::LineSettings, Status::LineNotRead);
  {
    std::lock_guard io(ioMutex_);
    if (port) current = port->GetSettings();
  }
  if (!current) return StopWith(Done::From(current));

  LineSettings wanted;  // base: 38,400 baud, 8 data bits, no parity, one stop bit
  wanted.baudRate = settings.baudRate;
  wanted.byteSize = settings.byteSize;
  wanted.parity = settings.parity;
  wanted.stopBits = settings.stopBits;
  wanted.ctsFlow = options_.obeyCts.load();
  Done applied;
  Result<bool> raised = false;
  {
    std::lock_guard io(ioMutex_);
    applied = port->ApplySettings(wanted);
    if (applied) raised = port->RaiseDtrRts();
  }
  if (!applied) return StopWith(applied);
  {
    std::lock_guard lock(mutex_);
    lastLine_ = wanted;
  }
  // The line needs time to settle only after DTR or RTS went up, and only
  // on a port that has them (never a pseudo-terminal): then once.
  if (raised && *raised) SettleWait();
  return {};
}

Done SerialTransport::StopWith(Done failure) {
  SignalCommStop();
  return failure;
}

void SerialTransport::SettleWait() {
  const auto settle = settleTime_.load();
  if (settle.count() <= 0) return;
  if (sleeper_) sleeper_(settle);
  else SteadyTime().Sleep(settle);
}

Done SerialTransport::WriteFailure(Done failure) {
  if (writeFailure_) writeFailure_(failure);
  return failure;
}

Done SerialTransport::WritePort(std::span<const std::uint8_t> bytes) {
  std::shared_ptr<SerialPort> port = Port();
  const Done closed = Done::Fail(Operation::Write, Status::PortClosed);
  if (!port || !open_.load()) return WriteFailure(closed);
  // Before the write: its answer must not wait out a gathering pause.
  lastWrite_.store(GatherClock::now().time_since_epoch().count());
  if (gathering_.load()) wrote_.set();
  Done written;
  {
    std::lock_guard io(ioMutex_);
    if (!port->IsOpen()) return WriteFailure(closed);
    written = port->Write(bytes, kWriteTimeout);
  }
  if (written) return {};
  return WriteFailure(std::move(written).During(Operation::Write));
}

Result<LineSettings> SerialTransport::GetPortSettings() {
  std::shared_ptr<SerialPort> port = Port();
  Result<LineSettings> line = Result<LineSettings>::Fail(Operation::LineSettings, Status::LineNotRead);
  {
    std::lock_guard io(ioMutex_);
    if (port) line = port->GetSettings();
  }
  if (!line) SignalCommStop();
  return line;
}

bool SerialTransport::ReadLine(LineSettings& out) {
  std::shared_ptr<SerialPort> port = Port();
  std::lock_guard io(ioMutex_);
  if (!port || !port->IsOpen()) return false;
  const Result<LineSettings> line = port->GetSettings();
  if (line) out = *line;
  return line.ok();
}

bool SerialTransport::ApplyLine(const LineSettings& line) {
  std::shared_ptr<SerialPort> port = Port();
  std::lock_guard io(ioMutex_);
  if (!port || !port->IsOpen() || !port->ApplySettings(line)) return false;
  std::lock_guard lock(mutex_);
  lastLine_ = line;
  return true;
}

LineSettings SerialTransport::LastLine() const {
  std::lock_guard lock(mutex_);
  return lastLine_;
}

void SerialTransport::StopComm() {
  SignalCommStop();
  if (tlCommThreadOf == this) return;  // a listener on the reading thread
  if (thread_.joinable()) {
    thread_.join();  // the thread closes the port
  } else if (std::shared_ptr<SerialPort> port = Port()) {
    std::lock_guard io(ioMutex_);
    port->Close();
  }
  SetOpen(false);
  std::lock_guard lock(mutex_);
  port_.reset();
  commStop_.reset();
}

std::string SerialTransport::PortName() const {
  std::lock_guard lock(mutex_);
  return portName_;
}

void SerialTransport::SetPortLostListener(std::function<void()> listener) {
  std::lock_guard lock(mutex_);
  portLost_ = std::move(listener);
}

void SerialTransport::SetRingConsumer(RingConsumer* consumer) {
  std::lock_guard lock(mutex_);
  consumer_ = consumer;
}

void SerialTransport::SetStateListener(std::function<void(bool open)> listener) {
  std::lock_guard lock(mutex_);
  stateListener_ = std::move(listener);
}

void SerialTransport::ResetReceiveRing() { ring_.Reset(); }

void SerialTransport::SetOpen(bool open) {
  if (open_.exchange(open) == open) return;
  std::function<void(bool)> listener;
  {
    std::lock_guard lock(mutex_);
    listener = stateListener_;
  }
  if (listener) listener(open);
}

void SerialTransport::ReportCommErrors(SerialPort& port) {
  // Flags are read (and so cleared) on every wake-up; the listener decides
  // whether they are shown.
  const Result<unsigned> flags = port.TakeLineErrors();
  if (flags && *flags != 0 && lineErrors_) lineErrors_(*flags);
}

void SerialTransport::Gather(GatherClock::time_point until, const Event& stop) {
  wrote_.reset();
  // Set before the last write is looked at, and WritePort stores the time
  // before it looks at the flag: a write either shows in lastWrite_ here or
  // sets wrote_.
  gathering_.store(true);
  for (;;) {
    const auto now = GatherClock::now();
    const auto sinceWrite = now - GatherClock::time_point(GatherClock::duration(lastWrite_.load()));
    if (sinceWrite < quietAfterWrite_.load() || now >= until) break;
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - now);
    const timespec timeout{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
    pollfd p[2] = {{stop.fd(), POLLIN, 0}, {wrote_.fd(), POLLIN, 0}};
    const int r = ::ppoll(p, 2, &timeout, nullptr);
    if (r > 0 || (r < 0 && errno != EINTR)) break;
  }
  gathering_.store(false);
}

void SerialTransport::CommThread(std::shared_ptr<SerialPort> port, std::shared_ptr<Event> stop,
                                 RingConsumer* consumer) {
  tlCommThreadOf = this;
  // Named for profilers and the benchmarks' account of where time goes.
  ::pthread_setname_np(::pthread_self(), "qmx-port");
  std::array<std::uint8_t, kReadChunk> buffer;
  // When the thread last began to wait for the port.
  GatherClock::time_point looking = GatherClock::now();
  bool lost = false;
  if (consumer) consumer->ReaderStarted();
  for (;;) {
    const std::size_t room = ring_.FreeSpace();
    if (room == 0) {
      // Unread bytes are never overwritten: wait for the consumer to make
      // room while the driver's buffer (and flow control) hold the rest.
      pollfd p[2] = {{ring_.spaceEvent().fd(), POLLIN, 0}, {stop->fd(), POLLIN, 0}};
      if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
      if (p[1].revents) break;
      continue;
    }
    const WaitResult wait = port->WaitReadable(*stop);
    if (wait == WaitResult::Stopped) break;
    if (wait != WaitResult::Readable) {
      lost = true;
      break;
    }
    const Result<std::size_t> n = port->Read({buffer.data(), std::min(room, buffer.size())});
    if (!n) {
      lost = true;
      break;
    }
    if (*n > 0) {
      // The consumer on this thread takes the block first; the data event
      // wakes another thread only for what it left.
      ring_.Put({buffer.data(), *n});
      if (consumer) consumer->BytesWritten();
      ring_.SignalIfUnread();
    }
    ReportCommErrors(*port);
    if (*n > 0) {
      const auto now = GatherClock::now();
      const auto gather = gather_.load();
      if (gather.count() > 0 && now - looking < gather) Gather(now + gather, *stop);
    }
    looking = GatherClock::now();
  }
  if (consumer) consumer->ReaderEnded();

  // A device that vanishes while the owner stops the port is just stopped.
  // The loss is reported before the port shows as closed: whoever sees a
  // command fail on the closed port finds the loss already reported.
  if (lost && !stop->isSet()) {
    std::function<void()> listener;
    {
      std::lock_guard lock(mutex_);
      listener = portLost_;
    }
    if (listener) listener();
    SetOpen(false);
    std::lock_guard io(ioMutex_);
    port->Close();
  } else {
    {
      std::lock_guard io(ioMutex_);
      port->Close();
    }
    SetOpen(false);
  }
  threadRunning_.store(false);
  tlCommThreadOf = nullptr;
}

}  // namespace qmx

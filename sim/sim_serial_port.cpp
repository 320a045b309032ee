#include "sim/sim_serial_port.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace qmx::sim {

SimSerialPort::SimSerialPort(std::shared_ptr<SimModule> module) : module_(std::move(module)) {}

SimSerialPort::~SimSerialPort() { Close(); }

Done SimSerialPort::Open(const std::string& name) {
  auto fail = [](const char* why) { return Done::Fail(Operation::OpenPort, Status::CannotOpen, why); };
  if (name != kSimPortName) return fail("No such device");
  {
    std::lock_guard lock(mutex_);
    if (open_) return fail("Device or resource busy");
    open_ = true;
    hungUp_ = false;
    buffer_.clear();
    lineErrors_ = 0;
    ClearReady();
  }
  // Outside our lock: the module calls back into this port with its own
  // lock held.
  if (module_->Attach(this)) return {};
  {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  return fail(module_->IsPlugged() ? "Device or resource busy" : "No such device");
}

bool SimSerialPort::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

Done SimSerialPort::Unusable(Operation operation, Status status) const {
  if (!open_) return Done::Fail(operation, status, "the port is closed");
  if (hungUp_) return Done::Fail(operation, status, "the simulated module is unplugged");
  return {};
}

Result<LineSettings> SimSerialPort::GetSettings() {
  std::lock_guard lock(mutex_);
  if (Done bad = Unusable(Operation::LineSettings, Status::LineNotRead); !bad) return Result<LineSettings>::From(bad);
  return host_;
}

Done SimSerialPort::ApplySettings(const LineSettings& settings) {
  std::lock_guard lock(mutex_);
  if (Done bad = Unusable(Operation::LineSettings, Status::LineNotApplied); !bad) return bad;
  host_ = settings;
  return {};
}

Done SimSerialPort::SetDtr(bool) {
  std::lock_guard lock(mutex_);
  return open_ ? Done{} : Done::Fail(Operation::LineSettings, Status::LineNotApplied, "the port is closed");
}

Done SimSerialPort::SetRts(bool on) { return SetDtr(on); }

Done SimSerialPort::Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds) {
  LineSettings host;
  {
    std::lock_guard lock(mutex_);
    if (Done bad = Unusable(Operation::Write, Status::PortClosed); !bad) return bad;
    host = host_;
  }
  module_->FromHost(bytes, host);
  return {};
}

WaitResult SimSerialPort::WaitReadable(const Event& stop) {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return WaitResult::Error;
  }
  for (;;) {
    // The ready event is set whenever there is something to report, so one
    // poll both waits and, with bytes waiting, returns at once. Stopping
    // wins over data, so that a flood cannot keep a reader from ending.
    pollfd fds[2] = {{stop.fd(), POLLIN, 0}, {ready_.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return WaitResult::Error;
    if (fds[0].revents & POLLIN) return WaitResult::Stopped;
    std::lock_guard lock(mutex_);
    if (!open_) return WaitResult::Error;
    if (!buffer_.empty()) return WaitResult::Readable;
    if (hungUp_) return WaitResult::Hangup;
  }
}

Result<std::size_t> SimSerialPort::Read(std::span<std::uint8_t> out) {
  std::lock_guard lock(mutex_);
  if (open_ && !buffer_.empty()) {
    const std::size_t n = std::min(out.size(), buffer_.size());
    std::copy_n(buffer_.begin(), n, out.begin());
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
    if (buffer_.empty() && !hungUp_) ClearReady();
    return n;
  }
  if (Done bad = Unusable(Operation::PortLost, Status::PortClosed); !bad) return Result<std::size_t>::From(bad);
  return 0;
}

Result<unsigned> SimSerialPort::TakeLineErrors() {
  std::lock_guard lock(mutex_);
  if (Done bad = Unusable(Operation::PortLost, Status::PortClosed); !bad) return Result<unsigned>::From(bad);
  const unsigned flags = lineErrors_;
  lineErrors_ = 0;
  return flags;
}

void SimSerialPort::Close() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    open_ = false;
    buffer_.clear();
    // Wakes a reader still waiting; it then sees the port closed.
    SetReady();
  }
  module_->Detach(this);
}

void SimSerialPort::OnOutput(std::span<const std::uint8_t> bytes, const SimLine& line) {
  std::lock_guard lock(mutex_);
  if (!open_ || hungUp_) return;
  if (!line.Accepts(host_)) {
    // A receiver at another line sees garbage and framing errors; we keep
    // the error and spare the garbage.
    lineErrors_ |= lineerror::Framing;
    return;
  }
  const std::size_t room = kBufferLimit - std::min(kBufferLimit, buffer_.size());
  if (bytes.size() > room) lineErrors_ |= lineerror::InputOverflow;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
  if (!buffer_.empty()) SetReady();
}

void SimSerialPort::OnUnplug() {
  std::lock_guard lock(mutex_);
  hungUp_ = true;
  SetReady();
}

// The event follows readySet_, which the lock guards: a flood of small
// writes costs one system call when the reader drains, not one per write.
void SimSerialPort::SetReady() {
  if (readySet_) return;
  readySet_ = true;
  ready_.set();
}

void SimSerialPort::ClearReady() {
  if (!readySet_) return;
  readySet_ = false;
  ready_.reset();
}

std::unique_ptr<SerialPort> MakeSimSerialPort(std::shared_ptr<SimModule> module) {
  return std::make_unique<SimSerialPort>(std::move(module));
}

PortFactory MakeSimPortFactory(std::shared_ptr<SimModule> module, PortFactory otherwise) {
  return [module = std::move(module), otherwise = std::move(otherwise)](const std::string& name) -> std::unique_ptr<SerialPort> {
    if (name == kSimPortName) return MakeSimSerialPort(module);
    return otherwise ? otherwise(name) : nullptr;
  };
}

}  // namespace qmx::sim

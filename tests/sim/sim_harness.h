// Drives a SimModule directly with command frames and collects what it
// sends, cut into frames as the program would see them at the host's line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/packet.h"
#include "sim/sim_module.h"
#include "tests/fixtures/fake_clock.h"

namespace qmx::sim::test {

using namespace std::chrono_literals;

inline LineSettings Line9600() {
  LineSettings l;
  l.baudRate = 9600;
  return l;
}

// Options that make everything but the boot immediate and every wait short.
// Tests that must act inside the boot window use SlowBoot().
inline SimOptions FastOptions() {
  SimOptions o;
  o.remoteLatency = 0ms;
  o.bootTime = 30ms;
  o.panFormTime = 10ms;
  o.parserTimeout = 60ms;
  return o;
}

inline SimOptions SlowBoot() {
  SimOptions o = FastOptions();
  o.bootTime = 300ms;
  return o;
}

class Capture : public SimSink {
 public:
  explicit Capture(LineSettings host) : host_(host) {}

  void OnOutput(std::span<const std::uint8_t> bytes, const SimLine& line) override {
    std::lock_guard lock(mutex_);
    if (!line.Accepts(host_)) {
      ++mismatched_;
      return;
    }
    raw_.insert(raw_.end(), bytes.begin(), bytes.end());
    assembler_.Feed(bytes, [this](const Frame& f) { frames_.push_back(f); });
    changed_.notify_all();
  }
  void OnUnplug() override {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    changed_.notify_all();
  }

  void SetHost(const LineSettings& host) {
    std::lock_guard lock(mutex_);
    host_ = host;
  }
  LineSettings Host() const {
    std::lock_guard lock(mutex_);
    return host_;
  }
  std::vector<Frame> Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  std::vector<std::uint8_t> Raw() const {
    std::lock_guard lock(mutex_);
    return raw_;
  }
  int Mismatched() const {
    std::lock_guard lock(mutex_);
    return mismatched_;
  }
  bool Unplugged() const {
    std::lock_guard lock(mutex_);
    return unplugged_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    raw_.clear();
    mismatched_ = 0;
  }
  // Waits until `count` raw bytes have arrived; false on time-out.
  bool WaitRaw(std::size_t count, std::chrono::milliseconds timeout = 2000ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return raw_.size() >= count; });
  }
  // Waits until `count` frames have arrived; false on time-out.
  bool WaitFrames(std::size_t count, std::chrono::milliseconds timeout = 2000ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  LineSettings host_;
  FrameAssembler assembler_;
  std::vector<Frame> frames_;
  std::vector<std::uint8_t> raw_;
  int mismatched_ = 0;
  bool unplugged_ = false;
};

inline std::vector<std::uint8_t> Payload(const Frame& f) { return {f.payload(), f.payload() + f.payloadSize()}; }

inline PacketRecord Reg(std::uint8_t bank, std::uint8_t reg, std::uint8_t span,
                        std::vector<std::uint8_t> data = {}, std::uint16_t address = 0) {
  PacketRecord r;
  r.Bank = bank;
  r.Register = reg;
  r.Span = span;
  r.NetworkAddress = address;
  std::copy(data.begin(), data.end(), r.Data.begin());
  return r;
}

inline PacketRecord Tx(std::uint16_t address, std::vector<std::uint8_t> data) {
  PacketRecord r;
  r.NetworkAddress = address;
  r.Length = static_cast<std::uint8_t>(data.size());
  std::copy(data.begin(), data.end(), r.Data.begin());
  return r;
}

class Harness {
 public:
  explicit Harness(SimOptions options = FastOptions())
      : module(std::make_shared<SimModule>(options)), out(Line9600()) {
    module->Attach(&out);
  }
  ~Harness() { module->Detach(&out); }

  // Sends a command frame at the host's line; returns its sequence number.
  std::uint8_t Send(std::uint8_t type, const PacketRecord& rec = {}) {
    const std::uint8_t seq = seq_.NextSequenceNumber();
    auto frame = BuildCommandFrame(type, rec, seq);
    if (frame) SendBytes({frame->data(), frame->size});
    return seq;
  }
  // Sends an arbitrary frame (malformed ones included).
  std::uint8_t SendRaw(std::uint8_t type, std::vector<std::uint8_t> payload) {
    const std::uint8_t seq = seq_.NextSequenceNumber();
    auto frame = BuildFrame(seq, type, payload);
    if (frame) SendBytes({frame->data(), frame->size});
    return seq;
  }
  void SendBytes(std::span<const std::uint8_t> bytes) { module->FromHost(bytes, out.Host()); }

  // Enters protocol mode and forgets what was sent so far.
  void Enter() {
    Send(ptype::EnterProtocolMode);
    out.Clear();
  }

  // The frames sent since the last Clear, as (type, sequence) checks need.
  std::vector<Frame> Frames() const { return out.Frames(); }
  // The only frame sent, or nothing when there were none or several.
  std::optional<Frame> Only() const {
    auto f = out.Frames();
    if (f.size() != 1) return std::nullopt;
    return f[0];
  }
  // Sends a command and returns the single frame that answered it.
  std::optional<Frame> Ask(std::uint8_t type, const PacketRecord& rec = {}) {
    out.Clear();
    Send(type, rec);
    return Only();
  }

  std::shared_ptr<SimModule> module;
  Capture out;

 private:
  SequenceCounter seq_;
};

// `o` with the module's timers on `clock`.
inline SimOptions OnClock(SimOptions o, qmx::test::FakeClock& clock) {
  o.time = &clock;
  return o;
}

// A Harness whose module runs on a fake clock: its delays (late replies,
// boot, over-the-air latency) pass only in Pass(), so a test sees at once
// everything a span of time brings, and nothing more.
struct ClockedHarness {
  explicit ClockedHarness(SimOptions options = FastOptions()) : h(OnClock(options, clock)) {}
  // Lets `span` pass and returns once all that was due by then has been sent.
  void Pass(Clock::duration span) {
    clock.Advance(span);
    h.module->WaitUntilIdle();
  }

  qmx::test::FakeClock clock;  // outlives the module
  Harness h;
};

inline bool IsAnnounce(const Frame& f, std::uint8_t code) {
  return f.type() == ptype::Announce && f.payloadSize() >= 1 && f.payload()[0] == code;
}

}  // namespace qmx::sim::test

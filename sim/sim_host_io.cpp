// The simulated module's side of the serial line: the bytes from the host
// become frames (or pass through in transparent mode), and replies go back
// with the faults a test has set on them.
#include "sim/sim_module.h"

#include <algorithm>
#include <string>

#include "sim/sim_internal.h"

namespace qmx::sim {

using namespace internal;
using std::chrono::milliseconds;

// ---------------------------------------------------------------------------
// Output

void SimModule::Emit(std::span<const std::uint8_t> bytes) {
  if (!plugged_ || sink_ == nullptr || bytes.empty()) return;
  sink_->OnOutput(bytes, line_);
}

void SimModule::EmitFrame(std::uint8_t seq, std::uint8_t type, std::span<const std::uint8_t> payload) {
  if (auto frame = BuildFrame(seq, type, payload.first(std::min(payload.size(), kMaxPayload))))
    Emit(std::span(frame->data(), frame->size));
}

void SimModule::EmitAnnounce(std::uint8_t code, std::span<const std::uint8_t> fields) {
  std::vector<std::uint8_t> payload{code};
  payload.insert(payload.end(), fields.begin(), fields.end());
  EmitFrame(0, ptype::Announce, payload);
}

void SimModule::EmitFromRemote(std::uint8_t type, std::uint16_t from, std::uint8_t lqi,
                               std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(from & 0xFF), static_cast<std::uint8_t>(from >> 8), lqi};
  payload.insert(payload.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), kMaxPayload - 3)));
  EmitFrame(0, type, payload);
}

bool SimModule::Faulty(Fault fault) const {
  auto it = faults_.find(fault);
  return it != faults_.end() && it->second.active;
}

bool SimModule::TakeFault(Fault fault, int* param) {
  auto it = faults_.find(fault);
  if (it == faults_.end() || !it->second.active) return false;
  FaultState& f = it->second;
  if (param) *param = f.param;
  if (f.count > 0 && --f.count == 0) f.active = false;
  return true;
}

void SimModule::Reply(const Frame& command, std::uint8_t type, std::span<const std::uint8_t> payload,
                      milliseconds delay, std::function<void()> after) {
  if (Faulty(Fault::Unplug) && unplugAfter_ > 0) --unplugAfter_;
  if (TakeFault(Fault::DropReply)) {
    if (after) after();
    return;
  }
  std::uint8_t seq = command.sequence();
  int param = 0;
  if (TakeFault(Fault::WrongSequence, &param))
    seq = static_cast<std::uint8_t>((seq + (param != 0 ? param : 1)) & 0x7F);
  auto frame = BuildFrame(seq, type, payload);
  if (!frame) return;

  std::vector<std::uint8_t> out;
  if (TakeFault(Fault::Noise, &param)) {
    std::uniform_int_distribution<int> any(0, 255);
    for (int i = 0; i < (param > 0 ? param : 8); ++i) {
      auto b = static_cast<std::uint8_t>(any(rng_));
      out.push_back(b == kStartOfPacket ? 0x00 : b);
    }
  }
  if (TakeFault(Fault::OverlongLength, &param)) {
    out.push_back(kStartOfPacket);
    out.push_back(static_cast<std::uint8_t>(std::clamp(param, static_cast<int>(kMaxPacketLength) + 1, 255)));
  }
  out.insert(out.end(), frame->data(), frame->data() + frame->size);
  if (TakeFault(Fault::DuplicateReply)) out.insert(out.end(), frame->data(), frame->data() + frame->size);
  if (TakeFault(Fault::LateReply, &param)) delay += milliseconds(param > 0 ? param : 1500);

  if (delay.count() <= 0) {
    Emit(out);
    if (after) after();
    return;
  }
  scheduler_.After(delay, [this, out = std::move(out), after = std::move(after)] {
    Emit(out);
    if (after) after();
  });
}

// ---------------------------------------------------------------------------
// Input

void SimModule::FromHost(std::span<const std::uint8_t> bytes, const LineSettings& hostLine) {
  std::lock_guard lock(mutex_);
  // While booting only the boot code listens, at its own line.
  if (plugged_ && phase_ == Phase::Booting) {
    if (SimLine{SimBootloader::Line(), line_.match}.Accepts(hostLine)) boot_.Input(bytes);
    return;
  }
  if (!plugged_ || phase_ != Phase::Running || !line_.Accepts(hostLine)) return;
  if (Faulty(Fault::NeverReply)) return;
  ++inputGeneration_;
  std::vector<std::uint8_t> pass;
  for (std::uint8_t b : bytes) {
    // A command may have reset or unplugged the module half-way.
    if (!plugged_ || phase_ != Phase::Running) break;
    if (protocolMode_) {
      if (assembler_.Push(b)) {
        const Frame frame = assembler_.frame();
        OnFrame(frame);
      }
    } else if (auto enter = TransparentByte(b, pass)) {
      PassThrough(pass);
      pass.clear();
      OnFrame(*enter);
    }
  }
  if (plugged_ && phase_ == Phase::Running) {
    PassThrough(pass);
    ArmParserTimeout();
  }
}

std::optional<Frame> SimModule::TransparentByte(std::uint8_t byte, std::vector<std::uint8_t>& passThrough) {
  held_.push_back(byte);
  while (!held_.empty()) {
    bool prefix = true;
    for (std::size_t i = 0; i < held_.size() && prefix; ++i)
      prefix = i == kEnterSequenceAt || held_[i] == kEnterFrame[i];
    if (prefix) {
      if (held_.size() < kEnterFrame.size()) return std::nullopt;
      Frame frame;
      std::copy(held_.begin(), held_.end(), frame.bytes.begin());
      frame.size = held_.size();
      held_.clear();
      return frame;
    }
    passThrough.push_back(held_.front());
    held_.erase(held_.begin());
  }
  return std::nullopt;
}

void SimModule::PassThrough(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  local_.regs.Count(reg16::TxData, 2);
  // Over the air to the transparent default address; the loop-back remote
  // sends the bytes straight back.
  if (options_.transparentEcho && local_.regs.LinkUp()) {
    local_.regs.Count(reg16::RxData, 2);
    Emit(bytes);
  }
  if (options_.network.live) network_.Typed(bytes);
}

void SimModule::ArmParserTimeout() {
  const bool partial = protocolMode_ ? !assembler_.Idle() : !held_.empty();
  if (!partial) return;
  const auto generation = inputGeneration_;
  scheduler_.After(options_.parserTimeout, [this, generation] {
    if (generation != inputGeneration_ || phase_ != Phase::Running) return;
    if (protocolMode_ && !assembler_.Idle()) {
      assembler_.Reset();
      EmitAnnounce(announce::ParserTimeout);
    } else if (!protocolMode_ && !held_.empty()) {
      std::vector<std::uint8_t> held;
      held.swap(held_);
      PassThrough(held);
    }
  });
}

void SimModule::OnFrame(const Frame& frame) {
  if (received_.size() >= 4096) received_.pop_front();
  received_.push_back(frame);
  if (Faulty(Fault::Unplug) && unplugAfter_ <= 0) {
    UnplugLocked();
    return;
  }
  HandleCommand(frame);
}

}  // namespace qmx::sim

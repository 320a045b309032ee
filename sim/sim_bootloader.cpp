#include "sim/sim_bootloader.h"

#include <algorithm>

#include "link/xmodem_bytes.h"

namespace qmx::sim {

namespace {

constexpr std::uint8_t kPromptKey = 0x03;
constexpr std::size_t kBlock = 128;
constexpr std::size_t kHeader = 128;  // the image file's first block, not stored
// Requests repeated before the first block, and silence while sending,
// before the boot code gives the transfer up.
constexpr int kRequests = 60;
constexpr auto kSendGiveUp = std::chrono::seconds(20);

// Ten bits a byte at 38400 baud.
Clock::duration WireTime(std::size_t bytes) {
  return std::chrono::nanoseconds(static_cast<long long>(bytes) * 10'000'000'000LL / 38400);
}

// The block CRC (CRC-16, polynomial 0x1021, start 0), written here a second
// time on purpose: the host's XMODEM sender (tools/xmodem.cpp) has its own,
// and a fault in either one shows as a refused block instead of two copies
// agreeing on a wrong value.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : bytes) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i)
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

std::uint8_t Sum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

// A stand-in for the factory firmware: 16 blocks of a fixed pattern.
std::vector<std::uint8_t> FactoryImage() {
  std::vector<std::uint8_t> image(16 * kBlock);
  std::uint32_t x = 0x2400;
  for (auto& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return image;
}

}  // namespace

SimBootloader::SimBootloader(Hooks hooks) : hooks_(std::move(hooks)), image_(FactoryImage()) {}

LineSettings SimBootloader::Line() { return LineSettings{38400, 8, parity::None, stopbits::One, false}; }

void SimBootloader::Open() {
  ++generation_;
  state_ = State::Window;
  line_.clear();
  cr_ = false;
  inputDone_ = outputDone_ = hooks_.now();
}

bool SimBootloader::CloseWindow() {
  // Without a working firmware there is nothing to start.
  if (state_ == State::Window && !firmware_) ToCommand();
  if (state_ == State::Window) Off();
  return Entered();
}

void SimBootloader::Off() {
  ++generation_;
  state_ = State::Off;
}

void SimBootloader::SetFault(BootFault fault, int block, int count) {
  if (count == 0) {
    faults_.erase(fault);
    return;
  }
  faults_[fault] = FaultState{block, count};
}

bool SimBootloader::Take(BootFault fault, int block) {
  auto it = faults_.find(fault);
  if (it == faults_.end() || (block >= 0 && it->second.block != block)) return false;
  if (it->second.count > 0 && --it->second.count == 0) faults_.erase(it);
  return true;
}

void SimBootloader::Timer(Clock::duration delay, std::function<void()> task) {
  hooks_.after(delay, [this, generation = generation_, task = std::move(task)] {
    if (generation == generation_) task();
  });
}

void SimBootloader::Out(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (!options_.paced) {
    hooks_.send(bytes);
    return;
  }
  const auto now = hooks_.now();
  const auto start = std::max({now, inputDone_, outputDone_});
  outputDone_ = start + WireTime(bytes.size());
  // The bytes reach the host when their last one has crossed the wire.
  hooks_.after(outputDone_ - now, [this, out = std::vector<std::uint8_t>(bytes.begin(), bytes.end())] {
    hooks_.send(out);
  });
}

void SimBootloader::Out(std::string_view text) {
  Out(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void SimBootloader::Input(std::span<const std::uint8_t> bytes) {
  if (options_.paced) inputDone_ = std::max(inputDone_, hooks_.now()) + WireTime(bytes.size());
  for (std::uint8_t b : bytes) {
    if (Has(BootFault::Silence)) return;
    switch (state_) {
      case State::Off:
        return;
      case State::Window:
        if (b == kPromptKey) {
          state_ = State::Command;
          Out(">");
        }
        break;
      case State::Command:
        CommandByte(b);
        break;
      case State::Receiving:
        ReceiveByte(b);
        break;
      case State::Programming:
        break;
      case State::Sending:
        SendByte(b);
        break;
    }
  }
}

void SimBootloader::ToCommand() {
  ++generation_;
  state_ = State::Command;
  line_.clear();
  cr_ = false;
}

void SimBootloader::CommandByte(std::uint8_t b) {
  if (b == kPromptKey) {
    line_.clear();
    cr_ = false;
    Out(">");
    return;
  }
  if (b == '\r') {
    if (line_ == "E" && !firmware_) {
      line_.clear();
      return;
    }
    if (line_ == "E") {
      Off();
      hooks_.leave();
      return;
    }
    cr_ = true;
    return;
  }
  if (b == '\n') {
    const std::string command = cr_ ? line_ : std::string();
    line_.clear();
    cr_ = false;
    if (command == "D") {
      Out("DL:");
      BeginReceive();
    } else if (command == "U") {
      Out("UL:");
      if (!Has(BootFault::NoUpload)) {
        ++generation_;
        state_ = State::Sending;
        started_ = false;
        Timer(kSendGiveUp, [this] { ToCommand(); });
      }
    }
    return;
  }
  if (cr_) {
    line_.clear();
    cr_ = false;
  }
  if (line_.size() < 16) line_ += static_cast<char>(b);
}

// ---------------------------------------------------------------------------
// Receiving an image

void SimBootloader::BeginReceive() {
  ++generation_;
  state_ = State::Receiving;
  block_.clear();
  received_.clear();
  blockIndex_ = 1;
  started_ = false;
  cancelSeen_ = false;
  Request(kRequests);
}

// The request, repeated every second until the first block begins.
void SimBootloader::Request(int left) {
  if (started_) return;
  if (left == 0) {
    ToCommand();
    return;
  }
  OutByte(options_.crc ? xmodem::kCrcRequest : xmodem::kNak);
  Timer(std::chrono::seconds(1), [this, left] { Request(left - 1); });
}

void SimBootloader::ReceiveByte(std::uint8_t b) {
  if (block_.empty()) {
    if (b == xmodem::kSoh) {
      started_ = true;
      cancelSeen_ = false;
      block_.push_back(b);
      // A block that stops half-way is answered with NAK after a second;
      // a host silent for long has gone, and the transfer is given up.
      const std::uint64_t start = ++blockStarts_;
      Timer(std::chrono::seconds(1), [this, start] {
        if (!block_.empty() && blockStarts_ == start) {
          block_.clear();
          OutByte(xmodem::kNak);
        }
      });
      Timer(kSendGiveUp, [this, start] {
        if (blockStarts_ == start) ToCommand();
      });
    } else if (b == kPromptKey) {
      // The host looks for the prompt: the transfer is over.
      ToCommand();
      Out(">");
    } else if (b == xmodem::kEot) {
      OutByte(xmodem::kAck);
      ++generation_;
      state_ = State::Programming;
      Timer(options_.programTime, [this] {
        if (received_.size() > kHeader) image_.assign(received_.begin() + kHeader, received_.end());
        else image_.clear();
        firmware_ = !image_.empty();
        ++programmed_;
        ToCommand();
        Out("OK\r\n");
      });
    } else if (b == xmodem::kCan) {
      if (cancelSeen_) ToCommand();
      cancelSeen_ = true;
    }
    return;
  }
  block_.push_back(b);
  const std::size_t whole = 3 + kBlock + (options_.crc ? 2 : 1);
  if (block_.size() == whole) BlockReceived();
}

void SimBootloader::BlockReceived() {
  const std::span<const std::uint8_t> data(block_.data() + 3, kBlock);
  bool good = block_[2] == static_cast<std::uint8_t>(~block_[1]);
  if (options_.crc) {
    const std::uint16_t crc = Crc16(data);
    good = good && block_[131] == (crc >> 8) && block_[132] == (crc & 0xFF);
  } else {
    good = good && block_[131] == Sum(data);
  }
  const std::uint8_t number = block_[1];
  const std::uint8_t expected = static_cast<std::uint8_t>(blockIndex_);
  std::vector<std::uint8_t> body(data.begin(), data.end());
  block_.clear();

  if (Take(BootFault::CancelAt, blockIndex_)) {
    const std::uint8_t cans[2] = {xmodem::kCan, xmodem::kCan};
    Out(cans);
    ToCommand();
    return;
  }
  if (!good || (number != expected && number != static_cast<std::uint8_t>(expected - 1))) {
    OutByte(xmodem::kNak);
    return;
  }
  if (number == static_cast<std::uint8_t>(expected - 1)) {
    OutByte(xmodem::kAck);  // a repeat: its ACK was lost
    return;
  }
  if (Take(BootFault::NakBlock, blockIndex_)) {
    OutByte(xmodem::kNak);
    return;
  }
  received_.insert(received_.end(), body.begin(), body.end());
  firmware_ = false;  // the flash is being rewritten
  const int stored = blockIndex_++;
  if (Take(BootFault::DropAck, stored)) return;
  OutByte(xmodem::kAck);
}

// ---------------------------------------------------------------------------
// Sending the stored image

void SimBootloader::BeginSend(bool crc) {
  started_ = true;
  crcSend_ = crc;
  blockIndex_ = 1;
  eotSent_ = false;
  cancelSeen_ = false;
  SendCurrent();
}

void SimBootloader::SendCurrent() {
  // Silence for too long gives the transfer up.
  ++generation_;
  Timer(kSendGiveUp, [this] { ToCommand(); });
  const std::size_t at = static_cast<std::size_t>(blockIndex_ - 1) * kBlock;
  if (at >= image_.size()) {
    eotSent_ = true;
    OutByte(xmodem::kEot);
    return;
  }
  if (Take(BootFault::CancelAt, blockIndex_)) {
    const std::uint8_t cans[2] = {xmodem::kCan, xmodem::kCan};
    Out(cans);
    ToCommand();
    return;
  }
  std::vector<std::uint8_t> block(3 + kBlock, 0);
  block[0] = xmodem::kSoh;
  block[1] = static_cast<std::uint8_t>(blockIndex_);
  block[2] = static_cast<std::uint8_t>(~block[1]);
  const std::size_t n = std::min(kBlock, image_.size() - at);
  std::copy_n(image_.begin() + static_cast<std::ptrdiff_t>(at), n, block.begin() + 3);
  if (n < kBlock) block[3 + n] = xmodem::kPad;
  const std::span<const std::uint8_t> data(block.data() + 3, kBlock);
  if (crcSend_) {
    const std::uint16_t crc = Crc16(data);
    block.push_back(static_cast<std::uint8_t>(crc >> 8));
    block.push_back(static_cast<std::uint8_t>(crc));
  } else {
    block.push_back(Sum(data));
  }
  if (Take(BootFault::CorruptChecksum, blockIndex_)) block.back() ^= 0xFF;
  Out(block);
}

void SimBootloader::SendByte(std::uint8_t b) {
  if (b == xmodem::kCan) {
    if (cancelSeen_) {
      ToCommand();
      return;
    }
    cancelSeen_ = true;
    return;
  }
  cancelSeen_ = false;
  if (!started_) {
    if (b == xmodem::kNak || b == xmodem::kCrcRequest) BeginSend(b == xmodem::kCrcRequest);
    return;
  }
  if (b == xmodem::kAck) {
    if (eotSent_) {
      ToCommand();
      return;
    }
    ++blockIndex_;
    SendCurrent();
  } else if (b == xmodem::kNak) {
    SendCurrent();
  }
}

}  // namespace qmx::sim

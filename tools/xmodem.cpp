#include "tools/xmodem.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <vector>

namespace qmx {

std::uint16_t Crc16Xmodem(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : bytes) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i)
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

namespace {

using xmodem::kAck;
using xmodem::kCan;
using xmodem::kCrcRequest;
using xmodem::kEot;
using xmodem::kNak;
using xmodem::kPad;
using xmodem::kSoh;
using xmodem::kStx;

std::uint8_t Sum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

}  // namespace

int Xmodem::ReadByteTimed(int timeoutMs) {
  return channel_.ReadByte(clock_.Now() + std::chrono::milliseconds(timeoutMs));
}

void Xmodem::DrainInput(std::vector<std::uint8_t>* kept, std::string_view until) {
  for (int b = ReadByteTimed(1500); b >= 0; b = ReadByteTimed(1500)) {
    if (!kept) continue;
    kept->push_back(static_cast<std::uint8_t>(b));
    if (!until.empty() && PromptMatched(*kept, until) == until.size()) return;
  }
}

std::size_t PromptMatched(std::span<const std::uint8_t> bytes, std::string_view expected) {
  std::size_t matched = 0;
  for (std::uint8_t b : bytes)
    if (matched < expected.size() && static_cast<char>(b) == expected[matched]) ++matched;
  return matched;
}

int Xmodem::AwaitPrompt(std::string_view expected, int firstMs, int nextMs) {
  std::size_t matched = 0;
  int timeout = firstMs;
  while (matched < expected.size()) {
    const int b = ReadByteTimed(timeout);
    if (b < 0) break;
    timeout = nextMs;
    if (static_cast<char>(b) == expected[matched]) ++matched;
  }
  return static_cast<int>(matched);
}

void Xmodem::Write(std::span<const std::uint8_t> bytes) {
  Done written = channel_.Write(bytes);
  if (!written && writeFailure_) writeFailure_ = std::move(written);
}

void Xmodem::WriteCans() {
  const std::uint8_t cans[3] = {kCan, kCan, kCan};
  Write(cans);
}

Result<std::size_t> Xmodem::Failure(Status status) const {
  if (status == Status::NoReply && !writeFailure_) return Result<std::size_t>::From(writeFailure_);
  return Result<std::size_t>::Fail(status);
}

namespace {

// SOH, number, complement, 128 data bytes, checksum or CRC (two bytes).
using SendBuffer = std::array<std::uint8_t, 3 + 128 + 2>;

// Block `number` of the sender, from the first 128 bytes of `rest` (the
// last block ends in the pad byte and zeros): its bytes in `block`.
std::span<const std::uint8_t> FillBlock(SendBuffer& block, std::span<const std::uint8_t> rest,
                                        std::uint8_t number, bool crc) {
  const std::size_t n = std::min<std::size_t>(128, rest.size());
  std::uint8_t* payload = block.data() + 3;
  std::memset(payload, 0, 128);
  std::copy_n(rest.begin(), n, payload);
  if (n < 128) payload[n] = kPad;
  block[0] = kSoh;
  block[1] = number;
  block[2] = static_cast<std::uint8_t>(~number);
  const std::span<const std::uint8_t> body(payload, 128);
  if (crc) {
    const std::uint16_t c = Crc16Xmodem(body);
    block[131] = static_cast<std::uint8_t>(c >> 8);
    block[132] = static_cast<std::uint8_t>(c);
  } else {
    block[131] = Sum(body);
  }
  return std::span(block.data(), crc ? 133 : 132);
}

}  // namespace

int Xmodem::AwaitSendStart() {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int b = ReadByteTimed(2000);
    if (b == kNak || b == kCrcRequest) return b;
    if (b == kCan && SecondCan()) return kCan;
  }
  return -1;
}

int Xmodem::SendBlock(std::span<const std::uint8_t> block) {
  for (int write = 0; write < 25; ++write) {
    if (write > 0) ++counts_.retries;
    Write(block);
    const int b = ReadByteTimed(1000);
    if (b == kAck) return kAck;
    if (b == kCan && SecondCan()) return kCan;
  }
  return -1;
}

Result<std::size_t> Xmodem::Send(std::span<const std::uint8_t> data) {
  afterEot_.clear();
  writeFailure_ = {};
  counts_ = {};
  const int start = AwaitSendStart();
  if (start == kCan) return AcceptCancel();
  if (start < 0) return GiveUp();

  SendBuffer block{};
  std::size_t acked = 0;
  std::uint8_t number = 1;
  // "While not yet acknowledged >= 0": a size that is a multiple of 128
  // still ends with a block of padding.
  while (acked <= data.size()) {
    const auto bytes = FillBlock(block, data.subspan(acked), number, start == kCrcRequest);
    Report(acked);
    const int answer = SendBlock(bytes);
    if (answer == kCan) return AcceptCancel();
    if (answer != kAck) return GiveUp();
    acked += 128;
    ++number;
    ++counts_.blocks;
    counts_.bytes = acked;
  }
  return FinishSend(acked);
}

Result<std::size_t> Xmodem::FinishSend(std::size_t acked) {
  int last = -1;
  for (int attempt = 0; attempt < 10 && last != kAck; ++attempt) {
    WriteByte(kEot);
    last = ReadByteTimed(2000);
  }
  DrainInput(&afterEot_, answerAfterEot_);
  if (last != kAck) return Failure(Status::NoReply);
  return acked;
}

Result<std::size_t> Xmodem::AcceptCancel() {
  WriteByte(kAck);
  DrainInput();
  return Failure(Status::Cancelled);
}

Result<std::size_t> Xmodem::GiveUp() {
  WriteCans();
  DrainInput();
  return Failure(Status::NoReply);
}

Result<std::size_t> Xmodem::AwaitBlockStart(std::uint8_t request) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (request != 0) WriteByte(request);
    const int b = ReadByteTimed(2000);
    if (b == kSoh) return std::size_t{128};
    if (b == kStx) return std::size_t{1024};
    const bool cancelled = b == kCan && SecondCan();
    if (b == kEot || cancelled) {
      DrainInput();
      WriteByte(kAck);
      if (cancelled) return Failure(Status::Cancelled);
      return std::size_t{0};
    }
  }
  DrainInput();
  WriteCans();
  return Failure(Status::NoReply);
}

Xmodem::BlockRead Xmodem::ReadBlock(std::span<std::uint8_t> data, std::uint8_t expected) {
  // Number, complement, data, checksum.
  const int num = ReadByteTimed(1000);
  const int comp = num < 0 ? -1 : ReadByteTimed(1000);
  bool complete = comp >= 0;
  for (std::size_t i = 0; complete && i < data.size(); ++i) {
    const int b = ReadByteTimed(1000);
    complete = b >= 0;
    data[i] = static_cast<std::uint8_t>(b);
  }
  const int sum = complete ? ReadByteTimed(1000) : -1;
  const bool isNew = num == expected;
  const bool isRepeat = num == static_cast<std::uint8_t>(expected - 1);
  if (sum < 0 || comp != static_cast<std::uint8_t>(~num) || !(isNew || isRepeat) || sum != Sum(data))
    return BlockRead::Bad;
  return isNew ? BlockRead::New : BlockRead::Repeat;
}

Result<std::size_t> Xmodem::Receive(std::span<std::uint8_t> buffer) {
  writeFailure_ = {};
  counts_ = {};
  std::uint8_t request = kNak;
  std::uint8_t expected = 1;
  std::size_t stored = 0;
  int repeatsLeft = 25;
  std::vector<std::uint8_t> data(1024);

  for (;;) {
    const Result<std::size_t> size = AwaitBlockStart(request);
    if (!size) return size;
    if (*size == 0) return stored;
    request = 0;
    const std::span<std::uint8_t> body(data.data(), *size);
    switch (ReadBlock(body, expected)) {
      case BlockRead::Bad:
        ++counts_.retries;
        DrainInput();
        WriteByte(kNak);
        continue;
      case BlockRead::New: {
        const std::size_t take = std::min(body.size(), buffer.size() - stored);
        std::copy_n(body.begin(), take, buffer.begin() + static_cast<std::ptrdiff_t>(stored));
        stored += take;
        Report(stored);
        ++expected;
        ++counts_.blocks;
        counts_.bytes = stored;
        repeatsLeft = 25;
        break;
      }
      case BlockRead::Repeat:
        ++counts_.retries;
        if (--repeatsLeft > 0) break;
        DrainInput();
        WriteCans();
        return Failure(Status::NoReply);
    }
    WriteByte(kAck);
  }
}

}  // namespace qmx

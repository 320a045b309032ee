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

std::uint8_t Sum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

}  // namespace

int Xmodem::ReadByteTimed(int timeoutMs) {
  return channel_.ReadByte(clock_.Now() + std::chrono::milliseconds(timeoutMs));
}

void Xmodem::DrainInput(std::vector<std::uint8_t>* kept) {
  for (int b = ReadByteTimed(1500); b >= 0; b = ReadByteTimed(1500))
    if (kept) kept->push_back(static_cast<std::uint8_t>(b));
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

void Xmodem::WriteCans() {
  const std::uint8_t cans[3] = {kCan, kCan, kCan};
  Write(cans);
}

int Xmodem::Send(std::span<const std::uint8_t> data) {
  afterEot_.clear();
  bool crc = false;
  bool started = false;
  for (int attempt = 0; attempt < 16 && !started; ++attempt) {
    const int b = ReadByteTimed(2000);
    if (b == kNak) {
      started = true;
    } else if (b == kCrcRequest) {
      started = crc = true;
    } else if (b == kCan && SecondCan()) {
      return AcceptCancel();
    }
  }
  if (!started) return GiveUp(kNoStart);

  // SOH, number, complement, 128 data bytes, checksum or CRC (two bytes).
  std::array<std::uint8_t, 3 + 128 + 2> block{};
  const std::size_t blockSize = crc ? 133 : 132;
  std::size_t acked = 0;
  std::uint8_t number = 1;
  // "While not yet acknowledged >= 0": a size that is a multiple of 128
  // still ends with a block of padding.
  while (acked <= data.size()) {
    const std::size_t n = std::min<std::size_t>(128, data.size() - acked);
    std::uint8_t* payload = block.data() + 3;
    std::memset(payload, 0, 128);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(acked), n, payload);
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
    Report(acked);

    bool done = false;
    for (int write = 0; write < 25 && !done; ++write) {
      Write(std::span(block.data(), blockSize));
      const int b = ReadByteTimed(1000);
      if (b == kAck) {
        done = true;
      } else if (b == kCan && SecondCan()) {
        return AcceptCancel();
      }
    }
    if (!done) return GiveUp(kBlockFailed);
    acked += 128;
    ++number;
  }

  int last = -1;
  for (int attempt = 0; attempt < 10 && last != kAck; ++attempt) {
    WriteByte(kEot);
    last = ReadByteTimed(2000);
  }
  DrainInput(&afterEot_);
  return last == kAck ? static_cast<int>(acked) : kNoEotAck;
}

int Xmodem::AcceptCancel() {
  WriteByte(kAck);
  DrainInput();
  return kCancelled;
}

int Xmodem::GiveUp(int code) {
  WriteCans();
  DrainInput();
  return code;
}

int Xmodem::Receive(std::span<std::uint8_t> buffer) {
  std::uint8_t request = kNak;
  std::uint8_t expected = 1;
  std::size_t stored = 0;
  int repeatsLeft = 25;
  std::vector<std::uint8_t> data(1024);

  for (;;) {
    // Wait for a block start.
    std::size_t size = 0;
    for (int attempt = 0; attempt < 16 && size == 0; ++attempt) {
      if (request != 0) WriteByte(request);
      const int b = ReadByteTimed(2000);
      if (b == kSoh) {
        size = 128;
      } else if (b == kStx) {
        size = 1024;
      } else if (b == kEot) {
        DrainInput();
        WriteByte(kAck);
        return static_cast<int>(stored);
      } else if (b == kCan && SecondCan()) {
        DrainInput();
        WriteByte(kAck);
        return kCancelled;
      }
    }
    if (size == 0) {
      DrainInput();
      WriteCans();
      return kNoStart;
    }
    request = 0;

    // Number, complement, data, checksum; any time-out rejects the block.
    const int num = ReadByteTimed(1000);
    int comp = num < 0 ? -1 : ReadByteTimed(1000);
    bool complete = comp >= 0;
    for (std::size_t i = 0; complete && i < size; ++i) {
      const int b = ReadByteTimed(1000);
      complete = b >= 0;
      data[i] = static_cast<std::uint8_t>(b);
    }
    const int sum = complete ? ReadByteTimed(1000) : -1;
    const std::span<const std::uint8_t> body(data.data(), size);
    const bool isNew = num == expected;
    const bool isRepeat = num == static_cast<std::uint8_t>(expected - 1);
    if (sum < 0 || comp != static_cast<std::uint8_t>(~num) || !(isNew || isRepeat) ||
        sum != Sum(body)) {
      DrainInput();
      WriteByte(kNak);
      continue;
    }

    if (isNew) {
      const std::size_t take = std::min(size, buffer.size() - stored);
      std::copy_n(body.begin(), take, buffer.begin() + static_cast<std::ptrdiff_t>(stored));
      stored += take;
      Report(stored);
      ++expected;
      repeatsLeft = 25;
    } else if (--repeatsLeft == 0) {
      DrainInput();
      WriteCans();
      return kTooManyRepeats;
    }
    WriteByte(kAck);
  }
}

}  // namespace qmx

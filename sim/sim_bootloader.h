// The simulated module's boot code: what runs for a moment after every
// start, and takes over the serial line when the host asks for it then
// (its commands, XMODEM both ways, a firmware lost to a program cut short:
// see sim/README.md). Plain C++; the module owns it and calls it with its
// lock held. Timers run on the module's scheduler; nothing sleeps.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"

namespace qmx::sim {

enum class BootFault {
  NakBlock,         // receiving: block `block` is answered with NAK instead of ACK
  DropAck,          // receiving: the ACK of block `block` is lost (the block is stored)
  CorruptChecksum,  // sending: block `block` goes out with a wrong checksum
  CancelAt,         // CAN CAN in place of the answer to (or the sending of) block `block`
  Silence,          // the boot code takes every byte and answers none
  NoUpload,         // "U" CR LF is answered with "UL:", and no block ever follows
};

struct BootloaderOptions {
  bool crc = false;    // ask for CRC blocks ("C") instead of checksum blocks (NAK)
  bool paced = false;  // bytes take their wire time at 38400 baud
  std::chrono::milliseconds programTime{3000};
};

class SimBootloader {
 public:
  struct Hooks {
    // Sends bytes at the boot code's line.
    std::function<void(std::span<const std::uint8_t>)> send;
    // Runs `task` after `delay` on the module's scheduler (lock held).
    std::function<void(Clock::duration delay, std::function<void()> task)> after;
    // The module's present time (a running task's due time).
    std::function<Clock::time_point()> now;
    // "E" CR: the application starts.
    std::function<void()> leave;
  };

  explicit SimBootloader(Hooks hooks);

  // 38400 baud, 8 data bits, no parity, one stop bit.
  static LineSettings Line();

  // The module started: the boot window opens.
  void Open();
  // The boot window ended: true when the host entered the boot code, which
  // then keeps the line; otherwise the boot code is done.
  bool CloseWindow();
  // The module was unplugged or reset elsewhere.
  void Off();
  // The module boots or is in the boot code, and the boot code listens.
  bool Listening() const { return state_ != State::Off; }
  bool Entered() const { return state_ != State::Off && state_ != State::Window; }

  // Bytes from the host at the boot code's line.
  void Input(std::span<const std::uint8_t> bytes);

  BootloaderOptions& Options() { return options_; }
  // `count` times (-1: until cleared) at block `block` (counted from 1 in
  // the transfer, not wrapped); Silence and NoUpload ignore `block`.
  void SetFault(BootFault fault, int block = 1, int count = 1);
  void ClearFaults() { faults_.clear(); }

  // The stored image is a working firmware (true until a program begins).
  bool HasFirmware() const { return firmware_; }
  // The firmware is gone: the boot code keeps the line from the next start.
  void LoseFirmware() { firmware_ = false; }

  const std::vector<std::uint8_t>& Image() const { return image_; }
  void SetImage(std::vector<std::uint8_t> image) { image_ = std::move(image); }
  // Images programmed since the module was made.
  int Programmed() const { return programmed_; }

 private:
  enum class State { Off, Window, Command, Receiving, Programming, Sending };

  struct FaultState {
    int block = 1;
    int count = 1;
  };

  void CommandByte(std::uint8_t b);
  void ReceiveByte(std::uint8_t b);
  void SendByte(std::uint8_t b);
  void BeginReceive();
  void Request(int left);
  void BlockReceived();
  void BeginSend(bool crc);
  void SendCurrent();
  void ToCommand();

  // Output, paced or at once.
  void Out(std::span<const std::uint8_t> bytes);
  void Out(std::string_view text);
  void OutByte(std::uint8_t b) { Out(std::span(&b, 1)); }
  // A timer valid while no other state change happens.
  void Timer(Clock::duration delay, std::function<void()> task);
  bool Take(BootFault fault, int block = -1);
  bool Has(BootFault fault) const { return faults_.count(fault) != 0; }

  Hooks hooks_;
  BootloaderOptions options_;
  std::map<BootFault, FaultState> faults_;
  State state_ = State::Off;
  std::uint64_t generation_ = 0;  // ends the timers of an earlier state

  // Command line.
  std::string line_;
  bool cr_ = false;

  // XMODEM, both ways.
  std::vector<std::uint8_t> block_;
  std::vector<std::uint8_t> received_;
  int blockIndex_ = 0;  // the transfer's next block, from 1
  bool started_ = false;
  std::uint64_t blockStarts_ = 0;
  bool cancelSeen_ = false;
  bool crcSend_ = false;
  bool eotSent_ = false;

  std::vector<std::uint8_t> image_;
  bool firmware_ = true;
  int programmed_ = 0;

  // Pacing: when the input that has arrived and the output that was sent
  // are done on the wire.
  Clock::time_point inputDone_{};
  Clock::time_point outputDone_{};
};

}  // namespace qmx::sim

// The in-process serial port wired to a SimModule: what the program opens
// when no radio is attached, and what most link tests talk through.
//
// - Open("sim") attaches the port to the module; only one port can have the
//   module open at a time, and nothing opens while the module is unplugged.
// - The host line is whatever ApplySettings last set. Writes go to the module
//   with it; the module ignores them unless its own line matches.
// - The module's output is buffered (64 KiB; beyond that it is dropped and
//   reported as an input overflow) and wakes WaitReadable. Output sent at a
//   line other than the host's is not delivered; it shows up as a framing
//   error in TakeLineErrors.
// - When the module is unplugged the port reports Hangup once the buffered
//   bytes are read; Read and Write then fail, until the port is
//   closed. Reopening works once the module is plugged in again.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "link/event.h"
#include "link/serial_port.h"
#include "sim/sim_module.h"

namespace qmx::sim {

inline constexpr char kSimPortName[] = "sim";

class SimSerialPort final : public SerialPort, private SimSink {
 public:
  explicit SimSerialPort(std::shared_ptr<SimModule> module);
  ~SimSerialPort() override;

  Done Open(const std::string& name) override;
  bool IsOpen() const override;
  Result<LineSettings> GetSettings() override;
  Done ApplySettings(const LineSettings& settings) override;
  Done SetDtr(bool on) override;
  Done SetRts(bool on) override;
  // The built-in module has no line to settle.
  Result<bool> RaiseDtrRts() override {
    if (Done up = SetDtr(true); !up) return Result<bool>::From(up);
    return false;
  }
  Done Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) override;
  WaitResult WaitReadable(const Event& stop) override;
  Result<std::size_t> Read(std::span<std::uint8_t> out) override;
  Result<unsigned> TakeLineErrors() override;
  void Close() override;

  SimModule& Module() { return *module_; }

 private:
  void OnOutput(std::span<const std::uint8_t> bytes, const SimLine& line) override;
  void OnUnplug() override;

  static constexpr std::size_t kBufferLimit = 64 * 1024;

  const std::shared_ptr<SimModule> module_;
  mutable std::mutex mutex_;
  bool open_ = false;
  bool hungUp_ = false;
  LineSettings host_;
  std::deque<std::uint8_t> buffer_;
  unsigned lineErrors_ = 0;
  Event ready_;  // set while bytes are buffered, the device is gone, or the port closed
  bool readySet_ = false;
  // With mutex_ held.
  void SetReady();
  void ClearReady();
  // Why the port cannot be used, during `operation`; Ok when it can.
  Done Unusable(Operation operation, Status status) const;
};

std::unique_ptr<SerialPort> MakeSimSerialPort(std::shared_ptr<SimModule> module);

// A port factory that makes the simulated port for the name "sim" and asks
// `otherwise` (when given) for every other name.
PortFactory MakeSimPortFactory(std::shared_ptr<SimModule> module, PortFactory otherwise = {});

}  // namespace qmx::sim

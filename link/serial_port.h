// The serial port as the link sees it, with a POSIX back-end for real
// devices and ptys and the simulator's in-process back-end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/result.h"

namespace qmx {

class Event;

// Parity and stop-bit codes as the port settings dialog and the settings
// file carry them.
namespace parity {
inline constexpr std::uint8_t None = 0;
inline constexpr std::uint8_t Odd = 1;
inline constexpr std::uint8_t Even = 2;
}  // namespace parity
namespace stopbits {
inline constexpr std::uint8_t One = 0;
inline constexpr std::uint8_t Two = 2;
}  // namespace stopbits

struct LineSettings {
  std::uint32_t baudRate = 38400;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = parity::None;
  std::uint8_t stopBits = stopbits::One;
  bool ctsFlow = false;
  bool operator==(const LineSettings&) const = default;
};

// Line error flags, in the order in which they are reported.
namespace lineerror {
inline constexpr unsigned IoError = 1u << 0;
inline constexpr unsigned ModeNotSupported = 1u << 1;
inline constexpr unsigned Break = 1u << 2;
inline constexpr unsigned Framing = 1u << 3;
inline constexpr unsigned InputOverflow = 1u << 4;
inline constexpr unsigned OutputFull = 1u << 5;
inline constexpr unsigned Overrun = 1u << 6;
inline constexpr unsigned Parity = 1u << 7;
}  // namespace lineerror

// Their texts: link/failure_text.h.

enum class WaitResult { Readable, Stopped, Hangup, Error };

// Every failure carries its operation and, where the system gave one, its
// reason, taken when the call failed.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Opens exclusively for reading and writing; CannotOpen (OpenPort) with
  // the reason in words a user can act on.
  virtual Done Open(const std::string& name) = 0;
  virtual bool IsOpen() const = 0;
  // LineNotRead (LineSettings) when the line cannot be read.
  virtual Result<LineSettings> GetSettings() = 0;
  // LineNotApplied (LineSettings) when any part of the line was not taken.
  virtual Done ApplySettings(const LineSettings& settings) = 0;
  virtual Done SetDtr(bool on) = 0;
  virtual Done SetRts(bool on) = 0;
  // Raises DTR and RTS; the value tells whether either was down before (the
  // line then needs time to settle). A failure when the port has no such
  // lines.
  virtual Result<bool> RaiseDtrRts() {
    const Done dtr = SetDtr(true);
    const Done rts = SetRts(true);
    if (!dtr) return Result<bool>::From(dtr);
    if (!rts) return Result<bool>::From(rts);
    return true;
  }
  // Writes the whole block or gives up after `timeout`, in which case
  // output still pending is discarded before returning. A failure during
  // Write: WriteFailed when part of the block went out, TimedOut, or
  // PortClosed when nothing could be written (the device is gone).
  virtual Done Write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) = 0;
  // Blocks until bytes can be read, the device is gone, or `stop` is set.
  virtual WaitResult WaitReadable(const Event& stop) = 0;
  // Reads what is there without blocking: the bytes read, 0 for none;
  // PortClosed (PortLost) when the device is gone or failed.
  virtual Result<std::size_t> Read(std::span<std::uint8_t> out) = 0;
  // Reads and clears the line error flags (lineerror bits); a failure when
  // they cannot be read.
  virtual Result<unsigned> TakeLineErrors() = 0;
  virtual void Close() = 0;
};

using PortFactory = std::function<std::unique_ptr<SerialPort>(const std::string& name)>;

// A serial device the system knows of.
struct PortInfo {
  std::string path;         // /dev/ttyUSB0
  std::string name;         // ttyUSB0
  int number = 0;           // trailing number of the name, 0 when none
  std::string description;  // USB product or driver, when known
  std::string vidPid;       // "0403:6001" for USB devices, else empty
};

// Serial devices present on this system, in no particular order.
std::vector<PortInfo> ListSerialPorts();
// The same from another sysfs tty class directory and device directory
// (normally /sys/class/tty and /dev).
std::vector<PortInfo> ListSerialPorts(const std::string& sysClassTty, const std::string& devDir);
// True when the device looks free, judged without opening it (an open raises
// DTR and RTS, which resets many boards): a terminal device that this user
// may read and write, that no process has open or locked.
bool ProbePort(const std::string& path);

std::unique_ptr<SerialPort> MakePosixSerialPort();

}  // namespace qmx

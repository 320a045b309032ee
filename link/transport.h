// The process's one serial port with its reading thread: open and configure,
// write blocks, copy every received byte into the receive ring, report line
// errors, notice a vanished device.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "link/event.h"
#include "link/serial_port.h"

namespace qmx {

class Prompter;
class ReceiveRing;
struct LinkOptions;

class SerialTransport {
 public:
  SerialTransport(PortFactory factory, LinkOptions& options, Prompter& prompter, ReceiveRing& ring);
  ~SerialTransport();

  // With `open` set, opens `portName` and starts the reading thread; without
  // it only re-configures the open port. Base settings: 8N1, DTR and RTS on,
  // CTS flow from "Obey CTS"; baud, byte size, parity and stop bits from
  // `settings`. Returns 1, or -1 (cannot open), -2 (settings not read),
  // -3 (settings not applied), after showing the matching message; the
  // message of -1 carries the reason (busy, missing, not permitted) as its
  // detail.
  int OpenCommPort(const LineSettings& settings, const std::string& portName, bool open);
  // True when the whole block was written within 2000 ms.
  bool WritePort(std::span<const std::uint8_t> bytes);
  bool WriteByte(std::uint8_t byte) { return WritePort({&byte, 1}); }
  // 1 and the current line settings, or -1 after the "Get DCB Error" message.
  int GetPortSettings(LineSettings& out);
  // The open port's line settings read or changed as they are, without a
  // message and without stopping the port on failure (false: no port, or
  // the call failed). Configuration writes switch the line with these.
  bool ReadLine(LineSettings& out);
  bool ApplyLine(const LineSettings& line);
  // Ends the reading thread and closes the port; returns when both are done.
  // Called from the port-lost listener (on the reading thread) it only
  // signals the stop; the thread then ends by itself.
  void StopComm();
  // Port open and the device still there.
  bool IsOpen() const { return open_.load(); }
  std::string PortName() const;

  // Whether a port that cannot be opened is also reported in a message box
  // (default) or only to the open-failure listener, as an automatic reopen
  // wants.
  void SetOpenFailureBoxes(bool show) { openFailureBoxes_.store(show); }

  // Called once, from the reading thread, when the device vanished. It may
  // call StopComm() but must not open a port.
  void SetPortLostListener(std::function<void()> listener);
  // Called when the port opens or closes (any thread).
  void SetStateListener(std::function<void(bool open)> listener);
  // Called with the reason whenever a port could not be opened.
  void SetOpenFailureListener(std::function<void(const std::string& why)> listener) {
    openFailure_ = std::move(listener);
  }

  ReceiveRing& Ring() { return ring_; }
  void ResetReceiveRing();

  // The line settling time that OpenCommPort waits after opening and after
  // raising DTR and RTS (100 ms). Simulated ports need none.
  void SetSettleTime(std::chrono::milliseconds t) { settleTime_.store(t); }
  // How the settling time is waited for (default: the thread sleeps). The
  // program waits with its windows alive, so that Cancel works meanwhile.
  void SetSleeper(std::function<void(std::chrono::milliseconds)> sleeper) { sleeper_ = std::move(sleeper); }
  // True while the reading thread of the last open runs.
  bool CommThreadRunning() const { return threadRunning_.load(); }

 private:
  void CommThread(std::shared_ptr<SerialPort> port, std::shared_ptr<Event> stop);
  void ReportCommErrors(SerialPort& port);
  void SetOpen(bool open);
  void SignalCommStop();
  std::shared_ptr<SerialPort> Port() const;

  PortFactory factory_;
  LinkOptions& options_;
  Prompter& prompter_;
  ReceiveRing& ring_;
  mutable std::mutex mutex_;
  // Serialises the user-interface thread's use of the port (writes, line
  // settings) with its closing on the reading thread.
  std::mutex ioMutex_;
  std::shared_ptr<SerialPort> port_;
  std::shared_ptr<Event> commStop_;
  std::thread thread_;
  std::string portName_;
  std::atomic<bool> open_{false};
  std::function<void()> portLost_;
  std::function<void(bool)> stateListener_;
  std::function<void(const std::string&)> openFailure_;
  std::atomic<bool> openFailureBoxes_{true};
  std::atomic<std::chrono::milliseconds> settleTime_{std::chrono::milliseconds(100)};
  std::function<void(std::chrono::milliseconds)> sleeper_;
  std::atomic<bool> threadRunning_{false};
};

}  // namespace qmx

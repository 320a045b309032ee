// The process's one serial port with its reading thread: open and configure,
// write blocks, copy every received byte into the receive ring, report line
// errors, notice a vanished device. It never talks to the user: results carry
// a status and the system's reason, and faults found on the way (line
// errors, a block written in part) go to listeners; link/failure_text.h
// turns either into the user's texts.
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
#include "link/result.h"
#include "link/serial_port.h"

namespace qmx {

class ReceiveRing;
class RingConsumer;
struct LinkOptions;

class SerialTransport {
 public:
  SerialTransport(PortFactory factory, LinkOptions& options, ReceiveRing& ring);
  ~SerialTransport();

  // With `open` set, opens `portName` and starts the reading thread; without
  // it only re-configures the open port. Base settings: 8N1, DTR and RTS on,
  // CTS flow from "Obey CTS"; baud, byte size, parity and stop bits from
  // `settings`. Fails with CannotOpen (the reason: busy, missing, not
  // permitted), ThreadFailed, LineNotRead or LineNotApplied; a port whose
  // line could not be set up is stopped.
  Done OpenCommPort(const LineSettings& settings, const std::string& portName, bool open);
  // The whole block within 2000 ms. Fails with PortClosed, TimedOut (nothing
  // written) or WriteFailed (written in part); every failure also goes to
  // the write-failure listener.
  Done WritePort(std::span<const std::uint8_t> bytes);
  Done WriteByte(std::uint8_t byte) { return WritePort({&byte, 1}); }
  // The open port's line settings; LineNotRead (the port is then stopped).
  Result<LineSettings> GetPortSettings();
  // The open port's line settings read or changed as they are, without a
  // message and without stopping the port on failure (false: no port, or
  // the call failed). Configuration writes switch the line with these.
  bool ReadLine(LineSettings& out);
  bool ApplyLine(const LineSettings& line);
  // The line last set up or changed, open or not (the port may be gone).
  LineSettings LastLine() const;
  // Ends the reading thread and closes the port; returns when both are done.
  // Called from the port-lost listener (on the reading thread) it only
  // signals the stop; the thread then ends by itself.
  void StopComm();
  // Port open and the device still there.
  bool IsOpen() const { return open_.load(); }
  std::string PortName() const;

  // Called once, from the reading thread, when the device vanished. It may
  // call StopComm() but must not open a port.
  void SetPortLostListener(std::function<void()> listener);
  // Called when the port opens or closes (any thread).
  void SetStateListener(std::function<void(bool open)> listener);
  // Called with the reason whenever a port could not be opened.
  void SetOpenFailureListener(std::function<void(const std::string& why)> listener) {
    openFailure_ = std::move(listener);
  }
  // Called on the reading thread with the line error flags (lineerror bits)
  // whenever some were set. Set before the port opens.
  void SetLineErrorListener(std::function<void(unsigned flags)> listener) { lineErrors_ = std::move(listener); }
  // Called on the writer's thread with every failed write. Set before the
  // port opens.
  void SetWriteFailureListener(std::function<void(const Done& failure)> listener) {
    writeFailure_ = std::move(listener);
  }

  // The ring's consumer that the reading thread drives (link/ring.h): it
  // hears, on that thread, of the thread's start and end and of every block
  // put into the ring. Taken up by the next open.
  void SetRingConsumer(RingConsumer* consumer);

  ReceiveRing& Ring() { return ring_; }
  void ResetReceiveRing();

  // The line settling time that OpenCommPort waits after opening and after
  // raising DTR and RTS (100 ms). Simulated ports need none.
  void SetSettleTime(std::chrono::milliseconds t) { settleTime_.store(t); }
  // How the settling time is waited for (default: the thread sleeps). The
  // program waits with its windows alive, so that Cancel works meanwhile.
  void SetSleeper(std::function<void(std::chrono::milliseconds)> sleeper) { sleeper_ = std::move(sleeper); }
  // A stream of frames that nobody asked for (bytes that come less than
  // `gather` after the reading thread began to wait, nothing written for
  // `quietAfterWrite`) is taken in gulps: after each read the thread lets
  // the bytes gather in the driver for `gather` before it looks again, so
  // that a flood of small frames costs one wake-up per `gather` instead of
  // one per frame. Sparse bytes are taken at once, and so is every reply and
  // echo: a write ends a pause and keeps the next ones off for
  // `quietAfterWrite`. Defaults 10 ms and 1000 ms; a zero `gather` turns
  // gathering off.
  void SetGatherTimes(std::chrono::milliseconds gather, std::chrono::milliseconds quietAfterWrite) {
    gather_.store(gather);
    quietAfterWrite_.store(quietAfterWrite);
  }
  // True while the reading thread of the last open runs.
  bool CommThreadRunning() const { return threadRunning_.load(); }

 private:
  // Opens `portName` (after stopping the port open now) and starts its
  // reading thread; OpenCommPort's first half.
  Result<std::shared_ptr<SerialPort>> StartPort(const std::string& portName);
  // Sets the line of `port` (null: none open) up from `settings` and the
  // options, raises DTR and RTS and waits for the line to settle.
  Done SetUpLine(SerialPort* port, const LineSettings& settings);
  // Fails with `status` and the system's reason, and stops the port.
  Done StopWith(Done failure);
  void SettleWait();
  void CommThread(std::shared_ptr<SerialPort> port, std::shared_ptr<Event> stop, RingConsumer* consumer);
  // Lets received bytes gather in the driver until `until`; ends early on
  // `stop` or a write.
  void Gather(std::chrono::steady_clock::time_point until, const Event& stop);
  void ReportCommErrors(SerialPort& port);
  void SetOpen(bool open);
  void SignalCommStop();
  Done WriteFailure(Done failure);
  std::shared_ptr<SerialPort> Port() const;

  PortFactory factory_;
  LinkOptions& options_;
  ReceiveRing& ring_;
  mutable std::mutex mutex_;
  // Serialises the user-interface thread's use of the port (writes, line
  // settings) with its closing on the reading thread.
  std::mutex ioMutex_;
  std::shared_ptr<SerialPort> port_;
  std::shared_ptr<Event> commStop_;
  RingConsumer* consumer_ = nullptr;
  std::thread thread_;
  std::string portName_;
  LineSettings lastLine_;
  std::atomic<bool> open_{false};
  std::function<void()> portLost_;
  std::function<void(bool)> stateListener_;
  std::function<void(const std::string&)> openFailure_;
  std::function<void(unsigned)> lineErrors_;
  std::function<void(const Done&)> writeFailure_;
  std::atomic<std::chrono::milliseconds> settleTime_{std::chrono::milliseconds(100)};
  std::function<void(std::chrono::milliseconds)> sleeper_;
  std::atomic<bool> threadRunning_{false};
  // The last write's time (steady clock, since its epoch), and the event
  // that ends a gathering pause when a write comes during one.
  std::atomic<std::chrono::milliseconds> gather_{std::chrono::milliseconds(10)};
  std::atomic<std::chrono::milliseconds> quietAfterWrite_{std::chrono::milliseconds(1000)};
  std::atomic<std::chrono::steady_clock::rep> lastWrite_{0};
  std::atomic<bool> gathering_{false};
  Event wrote_;
};

}  // namespace qmx

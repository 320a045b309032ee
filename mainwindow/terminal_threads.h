// The terminal's two worker threads and the hand-over of the receive ring
// between the frame parser and the terminal.
//
// The ring has one consumer at a time. RingHandOver stops (and joins) one
// consumer before it starts the other, each with a new stop event, so every
// received byte is either parsed or shown, once: the parser's frames taken
// so far are decoded, and the start of a frame it had not completed is shown
// by the terminal first; the terminal shows everything it took before it
// ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/clock.h"
#include "link/event.h"

namespace qmx {

class ParserThread;
class ReceiveRing;

// Shows every byte the ring receives while it runs. Sleeps until the ring
// has data or its stop event is set.
class TerminalReaderThread {
 public:
  // `show` runs on the reader thread with the text of the bytes just taken.
  using Show = std::function<void(std::string text)>;
  TerminalReaderThread(ReceiveRing& ring, Show show);
  ~TerminalReaderThread();
  TerminalReaderThread(const TerminalReaderThread&) = delete;
  TerminalReaderThread& operator=(const TerminalReaderThread&) = delete;

  // Hex or text display, from the next bytes taken on.
  void SetHex(bool on) { hex_.store(on); }
  bool Hex() const { return hex_.load(); }
  // Starts a new thread with a new stop event; `first` (bytes the previous
  // consumer took but did not use) is shown before what the ring holds.
  void Start(std::vector<std::uint8_t> first = {});
  // Signals the stop event and joins; what was taken has been shown.
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Run(std::shared_ptr<Event> stop, std::vector<std::uint8_t> first);
  ReceiveRing& ring_;
  Show show_;
  std::atomic<bool> hex_{true};
  std::shared_ptr<Event> stop_;
  std::thread thread_;
};

// Which thread consumes the receive ring.
class RingHandOver {
 public:
  RingHandOver(ParserThread& parser, TerminalReaderThread& terminal) : parser_(parser), terminal_(terminal) {}
  void ToTerminal();
  void ToParser();
  bool TerminalHasRing() const { return terminal_.Running(); }

 private:
  ParserThread& parser_;
  TerminalReaderThread& terminal_;
};

// The terminal's repeated transmission: writes the test text at once and
// then every 1000 ms until stopped. Between writes it blocks on its stop
// signal with the clock's time-out, so a stop ends it without waiting and at
// most a write already under way goes out after it.
class TerminalTransmitThread {
 public:
  using Write = std::function<bool(std::span<const std::uint8_t> bytes)>;
  // Asked after a failed write: true keeps sending, false ends the
  // repetition (the repeat flag goes off by itself).
  using Failed = std::function<bool()>;
  TerminalTransmitThread(Write write, Failed failed, TimeSource& time = SteadyTime());
  // Stops and waits for every run to end.
  ~TerminalTransmitThread();
  TerminalTransmitThread(const TerminalTransmitThread&) = delete;
  TerminalTransmitThread& operator=(const TerminalTransmitThread&) = delete;

  // Turns the repeat flag on and starts a run.
  void Start();
  // Turns the flag off and wakes the run; does not wait for it (it may be
  // asking the user-interface thread about a failed write).
  void Stop();
  // The repeat flag.
  bool On() const { return on_.load(); }
  // Waits until every run has ended (the flag must be off).
  void Join();

 private:
  struct Run;
  void Loop(Run& run);
  void EndedByItself(const Run& run);
  void JoinEnded();

  Write write_;
  Failed failed_;
  TimeSource& time_;
  std::atomic<bool> on_{false};
  std::mutex mutex_;  // guards current_ and runs_
  std::shared_ptr<Run> current_;
  std::vector<std::shared_ptr<Run>> runs_;
};

}  // namespace qmx

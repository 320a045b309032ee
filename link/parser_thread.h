// The frame parser: takes bytes out of the receive ring, assembles frames,
// logs them ("Recv Data : ") and hands them to the decoder.
//
// Who parses. While the port's reading thread runs it drives the parser:
// right after it put a block into the ring it parses that block itself
// (BytesWritten), so a received frame costs no second thread wake-up. The
// parser's own thread then only sleeps; it parses when the parser starts
// (what the ring holds already) and whenever no reading thread drives it
// (bytes put into the ring by any other producer), sleeping until the ring
// has data. One lock lets one of the two parse at a time, so frames are
// logged and decoded in the order they arrived.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/event.h"
#include "link/frame.h"
#include "link/ring.h"

namespace qmx {

class DataLog;
class PacketDecoder;
class ViewSink;

class ParserThread : public RingConsumer {
 public:
  ParserThread(ReceiveRing& ring, DataLog& log, PacketDecoder& decoder, ViewSink& sink);
  ~ParserThread();
  // Starts parsing with a fresh assembler state (and a new thread with a
  // fresh stop event).
  void Start();
  // Ends parsing; returns once no parse is under way on either thread.
  // Bytes it took from the ring stay taken: the frames among them are
  // decoded, and the start of a frame not yet complete is kept for
  // TakeUnfinished(). What is still in the ring stays there.
  void Stop();
  bool Running() const { return thread_.joinable(); }
  // The start of the frame the last run was assembling when it stopped, for
  // the ring's next consumer (empty after it); call after Stop().
  std::vector<std::uint8_t> TakeUnfinished() { return std::move(unfinished_); }

  // RingConsumer: called by the port's reading thread.
  void ReaderStarted() override;
  void BytesWritten() override;
  void ReaderEnded() override;

 private:
  void Run(std::shared_ptr<Event> stop);
  // Parses what the ring holds while parsing is on.
  void ParseWhatIsThere();
  ReceiveRing& ring_;
  DataLog& log_;
  PacketDecoder& decoder_;
  ViewSink& sink_;
  std::shared_ptr<Event> ParserStopEvent;
  std::thread thread_;
  // Held while parsing; guards parsing_, assembler_ and unfinished_ (which
  // the caller of Stop() takes once parsing is off).
  std::mutex mutex_;
  bool parsing_ = false;
  FrameAssembler assembler_;
  std::vector<std::uint8_t> unfinished_;
  // Set by Stop() before it waits for the lock: a parse under way ends
  // after the chunk it took.
  std::atomic<bool> stopping_{false};
  // How many reading threads drive the parser (one, or none); the thread
  // learns of a change through readersChanged_.
  std::atomic<int> readers_{0};
  Event readersChanged_;
};

}  // namespace qmx

// The thread that takes bytes out of the receive ring, assembles frames,
// logs them ("Recv Data : ") and hands them to the decoder. It sleeps until
// the ring has data or it is told to stop.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "link/event.h"
#include "link/frame.h"

namespace qmx {

class ReceiveRing;
class DataLog;
class PacketDecoder;
class ViewSink;

class ParserThread {
 public:
  ParserThread(ReceiveRing& ring, DataLog& log, PacketDecoder& decoder, ViewSink& sink);
  ~ParserThread();
  // Starts a new thread with a fresh stop event and a fresh assembler state.
  void Start();
  // Signals the stop event and joins. Bytes it took from the ring stay
  // taken: the frames among them are decoded, and the start of a frame not
  // yet complete is kept for TakeUnfinished().
  void Stop();
  bool Running() const { return thread_.joinable(); }
  // The start of the frame the last run was assembling when it stopped, for
  // the ring's next consumer (empty after it); call after Stop().
  std::vector<std::uint8_t> TakeUnfinished() { return std::move(unfinished_); }

 private:
  void Run(std::shared_ptr<Event> stop);
  ReceiveRing& ring_;
  DataLog& log_;
  PacketDecoder& decoder_;
  ViewSink& sink_;
  std::shared_ptr<Event> ParserStopEvent;
  std::thread thread_;
  std::vector<std::uint8_t> unfinished_;  // written by the run before it ends
};

}  // namespace qmx

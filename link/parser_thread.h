// The thread that takes bytes out of the receive ring, assembles frames,
// logs them ("Recv Data : ") and hands them to the decoder. It sleeps until
// the ring has data or it is told to stop.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

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
  // Signals the stop event and joins.
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Run(std::shared_ptr<Event> stop);
  ReceiveRing& ring_;
  DataLog& log_;
  PacketDecoder& decoder_;
  ViewSink& sink_;
  std::shared_ptr<Event> ParserStopEvent;
  std::thread thread_;
};

}  // namespace qmx

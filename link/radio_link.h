// The process-wide radio link: one serial port with its reading thread, one
// receive ring, one reply queue, one sequence counter, the frame parser
// thread, the data log and the command layer, wired together.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "link/command_layer.h"
#include "link/data_log.h"
#include "link/decoder.h"
#include "link/frame.h"
#include "link/options.h"
#include "link/packet_queue.h"
#include "link/parser_thread.h"
#include "link/ring.h"
#include "link/serial_port.h"
#include "link/transport.h"
#include "link/waiter.h"

namespace qmx {

class Prompter;
class WorkDir;

class RadioLink {
 public:
  // The sink receives view events on the parser thread; the waiter is woken
  // by every stored reply and whenever the port closes, lost or stopped.
  RadioLink(PortFactory factory, WorkDir& dir, Prompter& prompter, Waiter& waiter, ViewSink& sink);
  ~RadioLink();
  RadioLink(const RadioLink&) = delete;
  RadioLink& operator=(const RadioLink&) = delete;

  // Called once (on the port's reading thread) when the open device vanished.
  void SetPortLostListener(std::function<void()> listener);

  LinkOptions options;
  ReceiveRing ring;
  PacketQueue queue;
  SequenceCounter sequence;
  DataLog log;
  SerialTransport transport;
  PacketDecoder decoder;
  ParserThread parser;
  CommandLayer commands;

 private:
  Waiter& waiter_;
  std::mutex listenerMutex_;
  std::function<void()> portLost_;
};

}  // namespace qmx

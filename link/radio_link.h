// The process-wide radio link: one serial port with its reading thread, one
// receive ring, one reply queue, one sequence counter, the frame parser,
// the data log and the command layer, wired together.
//
// Results. The port's open, line and write and every command return
// qmx::Result<T> (link/result.h), as the tools' operations that succeed or
// fail do: a Status, the value when there is one (a Get Register's Span, the
// line settings read), and the system's reason where it gave one. Nothing in the link shows a message:
// the caller that decides a failure is worth a box turns the result into the
// user's texts with link/failure_text.h. Faults found on the link's own
// threads (line errors, a block written in part, a log file that cannot be
// opened) go to listeners, which this object connects to the same texts
// (ConnectFaultBoxes, ConnectLogFailureBox).
//
// Threads, what each owns, and who may call what:
//
//   thread                  owns                          may call
//   ----------------------  ----------------------------  -------------------------------
//   user interface (or      the port's opening, closing   everything of `transport` but
//   qmxctl's main thread)   and line; `commands` (one     the listeners; `commands` (one
//                           command at a time); the       caller at a time, it waits in
//                           parser's start and stop       the Waiter); `parser` Start/Stop
//   the port's reading      the port's reads; writes      ring.Write; the port-lost, line-
//   thread (transport)      into `ring`; while `parser`   error and state listeners, which
//                           runs, parses what it wrote:   may StopComm() but never open;
//                           reads from `ring`, the frame  while parsing: queue.Store, log
//                           assembler, the decoder        entries, the ViewSink (the
//                                                         windows' events)
//   the parser thread       the same parsing, one at a    the same as parsing on the
//                           time with the reading thread  reading thread
//                           (parser's lock): what the
//                           ring holds when `parser`
//                           starts, and all of it while
//                           no reading thread runs
//   the data-log thread     the log file                  nothing of the link; it writes
//                                                         what log entries collected
//
// So a received frame is normally parsed, logged and decoded on the port's
// reading thread, and a reply wakes its command from there. View events and
// waiter notifications never block, and nothing on the parsing path may stop
// the parser or wait for the user-interface thread.
//
// Any thread may write (transport.WritePort is serialised with the port's
// closing), read the options, wait on or notify the Waiter, and show a
// message through a Prompter (which hands it to the user-interface thread).
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "link/command_layer.h"
#include "link/data_log.h"
#include "link/decoder.h"
#include "link/frame.h"
#include "link/link_session.h"
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

// Shows the faults the transport finds on its own (line errors when "Show
// Comm Errors" is on, a block written in part) through `prompter`, with the
// texts of link/failure_text.h. Set before the port opens.
void ConnectFaultBoxes(SerialTransport& transport, const LinkOptions& options, Prompter& prompter);
// Shows a data log file that cannot be opened through `prompter`. Set before
// anything is logged.
void ConnectLogFailureBox(DataLog& log, Prompter& prompter);

class RadioLink {
 public:
  // The sink receives view events on the thread that parses (the port's
  // reading thread, or the parser thread); the waiter is woken
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
  // The one owner of the connection: what the port is for now, and who may
  // write to it. Every protocol frame of `commands` passes its gate.
  LinkSession session;

 private:
  Waiter& waiter_;
  std::mutex listenerMutex_;
  std::function<void()> portLost_;
};

}  // namespace qmx

#include "link/radio_link.h"

#include "link/failure_text.h"
#include "link/prompter.h"

namespace qmx {

void ConnectLogFailureBox(DataLog& log, Prompter& prompter) {
  log.SetOpenFailureListener([&prompter] { ShowFailure(prompter, LogFileFailureText(DataLog::kFileName)); });
}

void ConnectFaultBoxes(SerialTransport& transport, const LinkOptions& options, Prompter& prompter) {
  transport.SetLineErrorListener([&options, &prompter](unsigned flags) {
    if (!options.showCommErrors.load()) return;
    if (auto text = LineErrorFailureText(flags)) ShowFailure(prompter, *text);
  });
  transport.SetWriteFailureListener([&prompter](const Done& failure) { ShowPortFailure(prompter, failure); });
}

RadioLink::RadioLink(PortFactory factory, WorkDir& dir, Prompter& prompter, Waiter& waiter, ViewSink& sink)
    : log(dir, options),
      transport(std::move(factory), options, ring),
      decoder(queue, sink),
      parser(ring, log, decoder, sink),
      commands(transport, queue, sequence, log, waiter),
      session(transport, commands, parser, ring),
      waiter_(waiter) {
  commands.SetFrameGate([this] { return session.MayWriteFrame(); },
                        [this](std::span<const std::uint8_t> bytes) { return session.WriteFrame(bytes); });
  session.SetClock(waiter.Time());
  // The port's reading thread parses what it receives.
  transport.SetRingConsumer(&parser);
  queue.SetStoreListener([this] { waiter_.Notify(); });
  ConnectFaultBoxes(transport, options, prompter);
  ConnectLogFailureBox(log, prompter);
  transport.SetOpenFailureListener([this](const std::string& why) { log.LogOpenFailure(why); });
  // Settling times pass through the waiter too, so a waiting window stays
  // alive.
  transport.SetSleeper([this](std::chrono::milliseconds duration) { waiter_.Sleep(duration); });
  // A port stopped by its owner (the window closing, a disconnect) fails a
  // waiting command at once, as a lost one does, instead of at its deadline.
  transport.SetStateListener([this](bool open) {
    if (!open) {
      // What the log holds of this connection goes to the file now, and
      // the file is let go until the next entry.
      log.Close();
      waiter_.Notify();
    }
  });
  transport.SetPortLostListener([this] {
    std::function<void()> listener;
    {
      std::lock_guard lock(listenerMutex_);
      listener = portLost_;
    }
    // The session, then the owner, hear of the loss before a waiting
    // command is woken, so whoever sees that command fail also finds the
    // loss reported.
    session.PortLost();
    if (listener) listener();
    waiter_.Notify();
  });
}

RadioLink::~RadioLink() {
  parser.Stop();
  transport.StopComm();
}

void RadioLink::SetPortLostListener(std::function<void()> listener) {
  std::lock_guard lock(listenerMutex_);
  portLost_ = std::move(listener);
}

}  // namespace qmx

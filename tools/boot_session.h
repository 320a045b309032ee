// The way from protocol mode into the module's boot code and back, over the
// open port of a radio link, free of any window: the port's line saved, a
// Software Reset, the frame parser stopped, the port at the boot code's
// line (38400 8N1) with its bytes read straight from the ring; afterwards
// the wait for the application to start, the saved line, the frame parser
// and protocol mode again. The main window's upgrade and `qmxctl firmware`
// both walk this path; what is said to the user stays theirs.
#pragma once

#include <chrono>
#include <optional>

#include "link/clock.h"
#include "link/result.h"
#include "link/serial_port.h"
#include "tools/byte_channel.h"

namespace qmx {

class RadioLink;

class BootSession {
 public:
  // After "E" CR the boot code starts the application; it listens again
  // this long afterwards.
  static constexpr Clock::duration kApplicationStart = std::chrono::seconds(1);

  BootSession(RadioLink& link, TimeSource& clock);
  BootSession(const BootSession&) = delete;
  BootSession& operator=(const BootSession&) = delete;

  // The port's line saved; when `reset`, a Software Reset to the local
  // radio; the frame parser stopped and the port opened again at the boot
  // code's line. A reset that goes unanswered does not end the way in: the
  // radio may have restarted before it could answer, or sit in its boot
  // code already, and the prompt search that follows decides.
  // Fails with the port's result when its line could not be read (nothing
  // was sent) or the port did not take the boot line (the frame parser then
  // takes the ring back); the caller shows it.
  Done Enter(bool reset);
  // A reset was sent and no answer came.
  bool ResetUnanswered() const { return resetUnanswered_; }

  // To and from the boot code, between Enter() and Return().
  ByteChannel& Channel() { return *channel_; }
  TimeSource& Time() { return clock_; }

  // The boot code said nothing: the port closed and the frame parser
  // waiting for the next connection.
  void Abandon();

  // The application started after "E" CR: kApplicationStart on the clock.
  void AwaitApplication();
  // The saved line, the received bytes dropped, the frame parser running
  // and protocol mode entered. Fails with the port's result when the port
  // did not take the line (the parser runs again all the same), or with
  // NoReply when the radio did not enter protocol mode.
  Done Return();

 private:
  RadioLink& link_;
  TimeSource& clock_;
  LineSettings saved_;
  bool resetUnanswered_ = false;
  std::optional<RingChannel> channel_;
};

}  // namespace qmx

#include "tools/boot_session.h"

#include "link/radio_link.h"
#include "tools/firmware_upgrade.h"

namespace qmx {

BootSession::BootSession(RadioLink& link, TimeSource& clock) : link_(link), clock_(clock) {}

Done BootSession::Enter(bool reset) {
  const Result<LineSettings> line = link_.transport.GetPortSettings();
  if (!line) return Done::From(line);
  saved_ = *line;
  resetUnanswered_ = reset && !link_.commands.SoftwareReset();
  link_.parser.Stop();
  // Nothing the boot code says is part of a frame.
  (void)link_.parser.TakeUnfinished();
  if (Done opened = link_.transport.OpenCommPort(kBootLine, link_.transport.PortName(), false); !opened) {
    // The line is as it was: the frame parser takes the ring back.
    link_.parser.Start();
    return opened;
  }
  // The boot code's dialogue reads the ring itself while the parser rests.
  channel_.emplace(
      link_.ring, [this](std::span<const std::uint8_t> bytes) { return link_.transport.WritePort(bytes); }, clock_);
  return {};
}

void BootSession::Abandon() {
  link_.transport.StopComm();
  link_.parser.Start();
}

void BootSession::AwaitApplication() { clock_.Sleep(kApplicationStart); }

Done BootSession::Return() {
  if (Done opened = link_.transport.OpenCommPort(saved_, link_.transport.PortName(), false); !opened) {
    link_.parser.Start();
    return opened;
  }
  link_.transport.ResetReceiveRing();
  link_.parser.Start();
  if (!link_.commands.EnterProtocolMode())
    return Done::Fail(Status::NoReply);
  return {};
}

}  // namespace qmx

#include "tools/boot_session.h"

#include "link/radio_link.h"
#include "link/reply_wait.h"
#include "tools/firmware_upgrade.h"

namespace qmx {

BootSession::BootSession(RadioLink& link, TimeSource& clock) : link_(link), clock_(clock) {}

Done BootSession::Enter(bool reset) {
  if (link_.transport.GetPortSettings(saved_) != 1) return Done::Fail(Status::LineNotRead);
  resetUnanswered_ = reset && link_.commands.SoftwareReset(0) < 0;
  link_.parser.Stop();
  // Nothing the boot code says is part of a frame.
  (void)link_.parser.TakeUnfinished();
  if (link_.transport.OpenCommPort(kBootLine, link_.transport.PortName(), false) != 1) {
    // The line is as it was: the frame parser takes the ring back.
    link_.parser.Start();
    return Done::Fail(Status::CannotOpen);
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
  if (link_.transport.OpenCommPort(saved_, link_.transport.PortName(), false) != 1) {
    link_.parser.Start();
    return Done::Fail(Status::CannotOpen);
  }
  link_.transport.ResetReceiveRing();
  link_.parser.Start();
  if (link_.commands.EnterProtocolMode(kUsualReplyWait.timeoutMs, kUsualReplyWait.retries) < 0)
    return Done::Fail(Status::NoReply);
  return {};
}

}  // namespace qmx

#include "mainwindow/poll_cycle.h"

#include <algorithm>

#include "link/command_layer.h"
#include "link/packet.h"

namespace qmx {

// A request under way for as long as it lives.
class RemoteRequests::Mark {
 public:
  explicit Mark(const Hooks& hooks) : hooks_(hooks) {
    if (hooks_.begins) hooks_.begins();
  }
  ~Mark() {
    if (hooks_.ends) hooks_.ends();
  }
  Mark(const Mark&) = delete;
  Mark& operator=(const Mark&) = delete;

 private:
  const Hooks& hooks_;
};

BankMask RemoteRequests::Read(int n, std::uint16_t address, BankMask mask) {
  const Mark mark(hooks_);
  ReadBanksHooks read;
  if (hooks_.replyStrength) read.replyStrength = hooks_.replyStrength;
  if (hooks_.successRate) read.successRate = hooks_.successRate;
  read.tally = &stats_.at(static_cast<std::size_t>(n - 1));
  return ReadBanks(commands_, image_, mask, address, n, read);
}

bool RemoteRequests::Write(int n, std::uint16_t address, const RemoteWrite& write) {
  PacketRecord rec;
  rec.Register = write.reg;
  rec.Bank = 5;
  rec.Span = static_cast<std::uint8_t>(write.data.size());
  rec.NetworkAddress = address;
  std::copy(write.data.begin(), write.data.end(), rec.Data.begin());
  const Mark mark(hooks_);
  if (!commands_.SetRemoteRegister(rec)) return false;
  if (hooks_.replyStrength) hooks_.replyStrength(n, rec.Lqi);
  return true;
}

std::optional<PollCycleEnd> RunPollCycle(PollSchedule& schedule, RemoteRequests& requests,
                                         const PollCycleHooks& hooks) {
  if (!schedule.BeginCycle()) return std::nullopt;
  for (int n = 1; n <= kRemoteRadios && !schedule.Abandoned(); ++n) {
    if (!hooks.polled(n)) continue;
    if (hooks.polling) hooks.polling(n);
    for (int line = 0; line < 6 && !schedule.Abandoned(); ++line)
      if (const std::optional<std::int32_t> value = hooks.outputValue(n, line))
        requests.Write(n, hooks.address(n), OutputLineWrite(line, *value));
    if (schedule.Abandoned()) break;
    if (requests.Read(n, hooks.address(n), kPollMask) == kPollMask && !schedule.Abandoned() && hooks.read)
      hooks.read(n);
  }
  PollCycleEnd end;
  end.complete = !schedule.Abandoned();
  end.rearmMs = schedule.EndCycle();
  return end;
}

}  // namespace qmx

#include "link/parser_thread.h"

#include <poll.h>

#include <array>
#include <cerrno>

#include "link/data_log.h"
#include "link/decoder.h"
#include "link/ring.h"

namespace qmx {

ParserThread::ParserThread(ReceiveRing& ring, DataLog& log, PacketDecoder& decoder, ViewSink& sink)
    : ring_(ring), log_(log), decoder_(decoder), sink_(sink) {}

ParserThread::~ParserThread() { Stop(); }

void ParserThread::Start() {
  Stop();
  unfinished_.clear();
  // A new, unsignalled stop event for every run; the thread keeps its own
  // reference, so a later Start never hands it a signalled one.
  ParserStopEvent = std::make_shared<Event>();
  thread_ = std::thread(&ParserThread::Run, this, ParserStopEvent);
}

void ParserThread::Stop() {
  if (!thread_.joinable()) return;
  ParserStopEvent->set();
  thread_.join();
}

void ParserThread::Run(std::shared_ptr<Event> stop) {
  FrameAssembler assembler;  // each run starts hunting for 0xFB
  std::array<std::uint8_t, 512> chunk;
  struct KeepUnfinished {
    FrameAssembler& assembler;
    std::vector<std::uint8_t>& out;
    ~KeepUnfinished() { out.assign(assembler.Unfinished().begin(), assembler.Unfinished().end()); }
  } keep{assembler, unfinished_};
  for (;;) {
    const std::size_t n = ring_.Read(chunk);
    if (n > 0) {
      assembler.Feed(std::span<const std::uint8_t>(chunk.data(), n), [&](const Frame& frame) {
        log_.LogFrame("Recv Data : ", {frame.data(), frame.size}, ReceivedTypeName(frame.type()));
        sink_.FrameReceived();
        decoder_.DecodePacket(frame);
      });
      // Leave what is still in the ring to the next reader when told to stop.
      if (stop->isSet()) return;
      continue;
    }
    // Empty: sleep until bytes arrive or the stop event is set.
    pollfd fds[2] = {{stop->fd(), POLLIN, 0}, {ring_.dataEvent().fd(), POLLIN, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) return;
  }
}

}  // namespace qmx

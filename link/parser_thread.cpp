#include "link/parser_thread.h"

#include <poll.h>
#include <pthread.h>

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
  {
    std::lock_guard lock(mutex_);
    assembler_ = FrameAssembler();  // each run starts hunting for 0xFB
    unfinished_.clear();
    stopping_.store(false);
    parsing_ = true;
  }
  // A new, unsignalled stop event for every run; the thread keeps its own
  // reference, so a later Start never hands it a signalled one.
  ParserStopEvent = std::make_shared<Event>();
  try {
    thread_ = std::thread(&ParserThread::Run, this, ParserStopEvent);
  } catch (...) {
    // Without its thread the parser does not run at all.
    std::lock_guard lock(mutex_);
    parsing_ = false;
    throw;
  }
}

void ParserThread::Stop() {
  if (!thread_.joinable()) return;
  stopping_.store(true);
  {
    // Waits for a parse under way on the reading thread or our own.
    std::lock_guard lock(mutex_);
    parsing_ = false;
    unfinished_.assign(assembler_.Unfinished().begin(), assembler_.Unfinished().end());
  }
  ParserStopEvent->set();
  thread_.join();
}

void ParserThread::ParseWhatIsThere() {
  std::array<std::uint8_t, 512> chunk;
  std::lock_guard lock(mutex_);
  // Once told to stop, what is still in the ring is left to its next reader.
  while (parsing_ && !stopping_.load()) {
    const std::size_t n = ring_.Read(chunk);
    if (n == 0) return;
    assembler_.Feed(std::span<const std::uint8_t>(chunk.data(), n), [&](const Frame& frame) {
      log_.LogFrame("Recv Data : ", {frame.data(), frame.size}, ReceivedTypeName(frame.type()));
      sink_.FrameReceived();
      decoder_.DecodePacket(frame);
    });
  }
}

void ParserThread::ReaderStarted() {
  readers_.fetch_add(1);
  readersChanged_.set();
}

void ParserThread::BytesWritten() { ParseWhatIsThere(); }

void ParserThread::ReaderEnded() {
  readers_.fetch_sub(1);
  readersChanged_.set();
}

void ParserThread::Run(std::shared_ptr<Event> stop) {
  ::pthread_setname_np(::pthread_self(), "qmx-parser");
  for (;;) {
    // The event is cleared before the count is read, so a change after the
    // read wakes the poll below.
    readersChanged_.reset();
    const bool driven = readers_.load() > 0;
    // What the ring holds now: bytes that came while the parser rested, or
    // from a producer that does not drive the parser.
    ParseWhatIsThere();
    // Sleep until stopped, until a reading thread starts or ends, or (with
    // none driving) until the ring has data.
    pollfd fds[3] = {{stop->fd(), POLLIN, 0}, {readersChanged_.fd(), POLLIN, 0}, {ring_.dataEvent().fd(), POLLIN, 0}};
    const int r = ::poll(fds, driven ? 2 : 3, -1);
    if (r < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) return;
  }
}

}  // namespace qmx

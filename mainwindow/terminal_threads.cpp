#include "mainwindow/terminal_threads.h"

#include <poll.h>

#include <array>
#include <cerrno>

#include "link/parser_thread.h"
#include "link/ring.h"
#include "mainwindow/terminal_logic.h"

namespace qmx {

TerminalReaderThread::TerminalReaderThread(ReceiveRing& ring, Show show) : ring_(ring), show_(std::move(show)) {}

TerminalReaderThread::~TerminalReaderThread() { Stop(); }

void TerminalReaderThread::Start(std::vector<std::uint8_t> first) {
  Stop();
  stop_ = std::make_shared<Event>();
  thread_ = std::thread(&TerminalReaderThread::Run, this, stop_, std::move(first));
}

void TerminalReaderThread::Stop() {
  if (!thread_.joinable()) return;
  stop_->set();
  thread_.join();
}

void TerminalReaderThread::Run(std::shared_ptr<Event> stop, std::vector<std::uint8_t> first) {
  if (!first.empty()) show_(TerminalText(first, hex_.load()));
  std::array<std::uint8_t, 512> chunk;
  for (;;) {
    const std::size_t n = ring_.Read(chunk);
    if (n > 0) {
      show_(TerminalText({chunk.data(), n}, hex_.load()));
      if (stop->isSet()) return;
      continue;
    }
    pollfd fds[2] = {{stop->fd(), POLLIN, 0}, {ring_.dataEvent().fd(), POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) return;
  }
}

// A consumer that has the ring keeps it (a restart would drop what it holds).
void RingHandOver::ToTerminal() {
  if (terminal_.Running()) return;
  parser_.Stop();
  terminal_.Start(parser_.TakeUnfinished());
}

void RingHandOver::ToParser() {
  if (parser_.Running()) return;
  terminal_.Stop();
  parser_.Start();
}

struct TerminalTransmitThread::Run {
  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;
  std::atomic<bool> ended{false};
  std::thread thread;
};

TerminalTransmitThread::TerminalTransmitThread(Write write, Failed failed, TimeSource& time)
    : write_(std::move(write)), failed_(std::move(failed)), time_(time) {}

TerminalTransmitThread::~TerminalTransmitThread() {
  Stop();
  Join();
}

void TerminalTransmitThread::Start() {
  std::lock_guard lock(mutex_);
  JoinEnded();
  auto run = std::make_shared<Run>();
  current_ = run;
  runs_.push_back(run);
  on_.store(true);
  run->thread = std::thread(&TerminalTransmitThread::Loop, this, std::ref(*run));
}

void TerminalTransmitThread::Stop() {
  std::shared_ptr<Run> run;
  {
    std::lock_guard lock(mutex_);
    run.swap(current_);
    on_.store(false);
  }
  if (!run) return;
  std::lock_guard lock(run->mutex);
  run->stop = true;
  run->cv.notify_all();
}

void TerminalTransmitThread::Join() {
  std::vector<std::shared_ptr<Run>> runs;
  {
    std::lock_guard lock(mutex_);
    runs.swap(runs_);
  }
  for (auto& run : runs)
    if (run->thread.joinable()) run->thread.join();
}

void TerminalTransmitThread::JoinEnded() {
  std::erase_if(runs_, [](const std::shared_ptr<Run>& run) {
    if (!run->ended.load()) return false;
    run->thread.join();
    return true;
  });
}

void TerminalTransmitThread::EndedByItself(const Run& run) {
  std::lock_guard lock(mutex_);
  if (current_.get() != &run) return;
  current_.reset();
  on_.store(false);
}

void TerminalTransmitThread::Loop(Run& run) {
  const auto* text = reinterpret_cast<const std::uint8_t*>(kTerminalTestText.data());
  std::unique_lock lock(run.mutex);
  while (!run.stop) {
    // The period runs from the start of each write.
    const auto deadline = time_.Now() + std::chrono::milliseconds(kTerminalRepeatMs);
    lock.unlock();
    if (!write_({text, kTerminalTestText.size()}) && !failed_()) {
      EndedByItself(run);
      break;
    }
    lock.lock();
    while (!run.stop && time_.Now() < deadline) time_.WaitUntil(lock, run.cv, deadline);
  }
  run.ended.store(true);
}

}  // namespace qmx

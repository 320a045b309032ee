#include "link/ui/qt_waiter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace qmx {

QtWaiter::QtWaiter(QObject* parent) : QtWaiter(SteadyTime(), parent) {}

QtWaiter::QtWaiter(TimeSource& time, QObject* parent) : QObject(parent), Waiter(time) {
  if (!time.Steady()) time.OnMove(this, [this] { PostQuitLoops(); });
}

QtWaiter::~QtWaiter() {
  if (!Time().Steady()) Time().OnMove(this, nullptr);
  // A wait still running here would be a bug of the owner; let it end.
  for (QEventLoop* loop : loops_) loop->quit();
}

std::uint64_t QtWaiter::Generation() const { return generation_.load(std::memory_order_acquire); }

void QtWaiter::WaitUntil(std::uint64_t seen, Clock::time_point deadline) {
  auto blockingWait = [&] {
    std::unique_lock lock(mutex_);
    while (Generation() == seen && Time().Now() < deadline) Time().WaitUntil(lock, cv_, deadline);
  };
  if (QThread::currentThread() != thread()) {
    blockingWait();
    return;
  }

  while (Generation() == seen) {
    const auto left = deadline - Time().Now();
    if (left <= Clock::duration::zero()) return;

    QEventLoop loop;
    QTimer timer;
    if (Time().Steady()) {
      // Whole milliseconds, rounded up, so the timer never ends a wait early
      // by more than it has to; the loop re-checks the clock anyway.
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      timer.setSingleShot(true);
      timer.setTimerType(Qt::PreciseTimer);
      connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
      timer.start(static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000)));
    } else {
      // A move of the clock, even one made right here, posts the quit.
      Time().WillBlockUntil(deadline);
    }

    loops_.push_back(&loop);
    // A Notify() after the check above has already posted its quit call,
    // which runs inside exec() below now that the loop is registered.
    const int result = Generation() == seen ? loop.exec(QEventLoop::AllEvents) : 0;
    loops_.erase(std::find(loops_.begin(), loops_.end(), &loop));
    // -1 at once: the application is quitting and runs no event loop any
    // more. Wait without one rather than spin until the deadline.
    if (result == -1 && Generation() == seen && Time().Now() < deadline) {
      blockingWait();
      return;
    }
  }
}

void QtWaiter::Notify() {
  generation_.fetch_add(1, std::memory_order_acq_rel);
  {
    // Taking the lock orders this with a foreign waiter's check-then-sleep.
    std::lock_guard lock(mutex_);
  }
  cv_.notify_all();
  PostQuitLoops();
}

void QtWaiter::PostQuitLoops() {
  if (!quitPosted_.exchange(true, std::memory_order_acq_rel))
    QMetaObject::invokeMethod(this, "QuitLoops", Qt::QueuedConnection);
}

void QtWaiter::QuitLoops() {
  // An exchange, not a store: it reads the flag set by the latest Notify()
  // and so sees that call's new generation.
  quitPosted_.exchange(false, std::memory_order_acq_rel);
  for (QEventLoop* loop : loops_) loop->quit();
}

void QtWaiter::ProcessEvents() { QCoreApplication::processEvents(); }

}  // namespace qmx

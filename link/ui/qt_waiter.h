// The program's Waiter: the user-interface thread waits for a reply inside
// a nested event loop, so windows keep painting, timers keep running and
// clicks are handled while a command waits.
//
// Each WaitUntil() runs its own QEventLoop until Generation() moves past
// `seen` or the deadline passes. Notify() (any thread) bumps the generation
// and posts one call to this object's thread that quits every loop that is
// running; each then re-checks its own condition. Waits nest: a command
// started from an event inside another command's wait has its own loop, and
// the outer loop, even when quit meanwhile, returns only after the inner
// one has ended and then re-checks.
//
// WaitUntil() from a thread other than this object's (which has no event
// loop of ours to run) blocks on a condition variable instead.
//
// On the steady clock a QTimer ends the loop at the deadline. On a clock
// moved by hand every move quits the loops the same way Notify() does, and
// each re-checks its deadline.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "link/waiter.h"

class QEventLoop;

namespace qmx {

class QtWaiter : public QObject, public Waiter {
  Q_OBJECT

 public:
  explicit QtWaiter(QObject* parent = nullptr);
  explicit QtWaiter(TimeSource& time, QObject* parent = nullptr);
  ~QtWaiter() override;

  std::uint64_t Generation() const override;
  void WaitUntil(std::uint64_t seen, Clock::time_point deadline) override;
  void Notify() override;
  void ProcessEvents() override;

  // Nested loops running now (for tests and diagnostics).
  int Depth() const { return static_cast<int>(loops_.size()); }

 private:
  Q_INVOKABLE void QuitLoops();
  void PostQuitLoops();

  std::atomic<std::uint64_t> generation_{0};
  // One queued QuitLoops() at a time is enough, however many notifications.
  std::atomic<bool> quitPosted_{false};
  // Loops of the waits in progress, innermost last; this object's thread only.
  std::vector<QEventLoop*> loops_;
  // For waits from other threads.
  std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace qmx

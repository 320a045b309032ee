#include "link/ui/qt_waiter.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;

class QtWaiterTest : public ::testing::Test {
 protected:
  void SetUp() override { test::QtApp(); }
  QtWaiter waiter;
};

// Notifies `w` once, `delay` from now, from a thread of its own.
std::jthread NotifyLater(Waiter& w, std::chrono::milliseconds delay, std::atomic<bool>* flag = nullptr) {
  return std::jthread([&w, delay, flag] {
    std::this_thread::sleep_for(delay);
    if (flag) flag->store(true);
    w.Notify();
  });
}

// What a command does: look for the result, wait, look again.
bool WaitFor(Waiter& w, const std::atomic<bool>& done, Clock::time_point deadline) {
  for (;;) {
    const auto seen = w.Generation();
    if (done.load()) return true;
    if (Clock::now() >= deadline) return false;
    w.WaitUntil(seen, deadline);
  }
}

TEST_F(QtWaiterTest, NotifyFromAnotherThreadWakesPromptly) {
  const auto seen = waiter.Generation();
  const auto start = Clock::now();
  auto t = NotifyLater(waiter, 30ms);
  waiter.WaitUntil(seen, start + 10s);
  const auto took = Clock::now() - start;
  EXPECT_NE(waiter.Generation(), seen);
  EXPECT_GE(took, 25ms);
  EXPECT_LT(took, 2s);
  EXPECT_EQ(waiter.Depth(), 0);
}

TEST_F(QtWaiterTest, NotificationBeforeTheWaitIsNotLost) {
  const auto seen = waiter.Generation();
  waiter.Notify();
  const auto start = Clock::now();
  waiter.WaitUntil(seen, start + 10s);
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST_F(QtWaiterTest, DeadlineEndsTheWait) {
  const auto start = Clock::now();
  waiter.WaitUntil(waiter.Generation(), start + 120ms);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 120ms);
  EXPECT_LT(took, 2s);
  // A deadline already past returns at once.
  const auto again = Clock::now();
  waiter.WaitUntil(waiter.Generation(), again - 1s);
  EXPECT_LT(Clock::now() - again, 100ms);
}

TEST_F(QtWaiterTest, EventsAreHandledDuringTheWait) {
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(10);
  waiter.WaitUntil(waiter.Generation(), Clock::now() + 150ms);
  EXPECT_GE(ticks, 3);
}

TEST_F(QtWaiterTest, NestedWaitInsideATimerOfAnOuterWait) {
  std::atomic<bool> innerDone{false}, outerDone{false};
  std::vector<std::string> order;
  std::jthread innerNotifier, outerNotifier;
  int depthInside = 0;

  QTimer::singleShot(20, [&] {
    // A second command started from an event while the first one waits.
    innerNotifier = NotifyLater(waiter, 30ms, &innerDone);
    outerNotifier = NotifyLater(waiter, 120ms, &outerDone);
    depthInside = waiter.Depth();
    EXPECT_TRUE(WaitFor(waiter, innerDone, Clock::now() + 5s));
    order.push_back("inner");
  });
  const auto start = Clock::now();
  EXPECT_TRUE(WaitFor(waiter, outerDone, start + 5s));
  order.push_back("outer");
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_EQ(depthInside, 1);
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
}

TEST_F(QtWaiterTest, OuterResultArrivingDuringInnerWaitIsSeenAfterwards) {
  std::atomic<bool> innerDone{false}, outerDone{false};
  std::jthread innerNotifier, outerNotifier;
  Clock::duration innerTook{};
  QTimer::singleShot(10, [&] {
    // The outer command's result comes first, while the inner one waits.
    outerNotifier = NotifyLater(waiter, 20ms, &outerDone);
    innerNotifier = NotifyLater(waiter, 100ms, &innerDone);
    const auto s = Clock::now();
    EXPECT_TRUE(WaitFor(waiter, innerDone, s + 5s));
    innerTook = Clock::now() - s;
  });
  const auto start = Clock::now();
  EXPECT_TRUE(WaitFor(waiter, outerDone, start + 5s));
  EXPECT_GE(innerTook, 90ms);  // the outer's notification did not end it
  EXPECT_LT(Clock::now() - start, 3s);
}

TEST_F(QtWaiterTest, OuterDeadlinePassingDuringInnerWait) {
  std::atomic<bool> innerDone{false}, never{false};
  std::jthread innerNotifier;
  bool innerOk = false;
  QTimer::singleShot(10, [&] {
    innerNotifier = NotifyLater(waiter, 150ms, &innerDone);
    innerOk = WaitFor(waiter, innerDone, Clock::now() + 5s);
  });
  const auto start = Clock::now();
  // The outer deadline (50 ms) passes while the inner wait runs; the outer
  // one returns, failed, once the inner one is over.
  EXPECT_FALSE(WaitFor(waiter, never, start + 50ms));
  EXPECT_TRUE(innerOk);
  EXPECT_GE(Clock::now() - start, 140ms);
}

TEST_F(QtWaiterTest, WaitFromAnotherThreadUsesNoEventLoop) {
  std::atomic<bool> woke{false};
  const auto seen = waiter.Generation();
  std::jthread other([&] {
    waiter.WaitUntil(seen, Clock::now() + 10s);
    woke = true;
  });
  std::this_thread::sleep_for(20ms);
  waiter.Notify();
  other.join();
  EXPECT_TRUE(woke);
  // And its deadline works too.
  std::jthread timed([&] {
    const auto s = Clock::now();
    waiter.WaitUntil(waiter.Generation(), s + 50ms);
    EXPECT_GE(Clock::now() - s, 50ms);
  });
}

TEST_F(QtWaiterTest, ManyNotificationsFromManyThreads) {
  std::atomic<int> count{0};
  constexpr int kThreads = 4, kEach = 500;
  std::atomic<bool> all{false};
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < kEach; ++i) {
          if (++count == kThreads * kEach) all = true;
          waiter.Notify();
        }
      });
    EXPECT_TRUE(WaitFor(waiter, all, Clock::now() + 10s));
  }
  EXPECT_GE(waiter.Generation(), std::uint64_t{kThreads * kEach});
  // Queued quit calls left over do no harm to a later wait.
  const auto start = Clock::now();
  waiter.WaitUntil(waiter.Generation(), start + 30ms);
  EXPECT_GE(Clock::now() - start, 30ms);
}

}  // namespace
}  // namespace qmx

namespace qmx {
namespace {

// Once the application has been told to quit, event loops return at once;
// a wait must then block without one instead of spinning to its deadline.
// (In a child process: quitting spoils event loops for the rest of it.)
TEST(QtWaiterQuitting, WaitAfterTheApplicationQuitDoesNotSpin) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        test::QtApp();
        QtWaiter waiter;
        QCoreApplication::exit(0);
        const std::clock_t cpuBefore = std::clock();
        const auto start = Clock::now();
        waiter.WaitUntil(waiter.Generation(), start + 300ms);
        const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        const bool waited = Clock::now() - start >= 290ms;
        std::_Exit(waited && cpuMs < 150 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qmx

#include "link/ui/qt_prompter.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <deque>
#include <thread>

#include "link/ui/qt_waiter.h"
#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;

// Records each box instead of showing it, answering from a script.
class RecordingPrompter : public QtPrompter {
 public:
  struct Box {
    Kind kind;
    QString text, caption;
    QThread* thread;
  };
  std::vector<Box> boxes;
  std::deque<bool> answers;

 protected:
  bool Show(Kind kind, const QString& text, const QString& caption) override {
    boxes.push_back({kind, text, caption, QThread::currentThread()});
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
};

class QtPrompterTest : public ::testing::Test {
 protected:
  void SetUp() override { test::QtApp(); }
};

TEST_F(QtPrompterTest, OnTheUserInterfaceThreadBoxesShowAtOnce) {
  RecordingPrompter p;
  p.answers = {true, false, true};
  p.Message("Could not enter protocol mode.  Please try again.", "EnterProtocolMode Error");
  EXPECT_FALSE(p.Question("Retry?", "Q"));  // the message took no answer
  EXPECT_TRUE(p.Confirm("Go on?", "C"));
  ASSERT_EQ(p.boxes.size(), 3u);
  EXPECT_EQ(p.boxes[0].kind, QtPrompter::Kind::Message);
  EXPECT_EQ(p.boxes[0].text, "Could not enter protocol mode.  Please try again.");
  EXPECT_EQ(p.boxes[0].caption, "EnterProtocolMode Error");
  EXPECT_EQ(p.boxes[1].kind, QtPrompter::Kind::Question);
  EXPECT_EQ(p.boxes[2].kind, QtPrompter::Kind::Confirm);
  for (const auto& b : p.boxes) EXPECT_EQ(b.thread, QThread::currentThread());
}

TEST_F(QtPrompterTest, FromAWorkerTheBoxShowsOnTheUserInterfaceThread) {
  RecordingPrompter p;
  p.answers = {true, true};
  QtWaiter waiter;
  std::atomic<bool> done{false};
  bool first = false, second = false;
  std::jthread worker([&] {
    first = p.Question("Write failed.  Continue?", "Write Error");
    p.Message("Port closed.", "Comm Error");
    second = p.Confirm("Again?", "Repeat");  // no answer left: Cancel
    done = true;
    waiter.Notify();
  });
  const auto deadline = Clock::now() + 10s;
  while (!done && Clock::now() < deadline) {
    const auto seen = waiter.Generation();
    if (done) break;
    waiter.WaitUntil(seen, deadline);
  }
  worker.join();
  ASSERT_TRUE(done);
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  ASSERT_EQ(p.boxes.size(), 3u);
  EXPECT_EQ(p.boxes[0].caption, "Write Error");
  EXPECT_EQ(p.boxes[1].kind, QtPrompter::Kind::Message);
  for (const auto& b : p.boxes) EXPECT_EQ(b.thread, QThread::currentThread());
}

TEST_F(QtPrompterTest, AMessageFromAWorkerNeverWaitsForTheUserInterfaceThread) {
  RecordingPrompter p;
  // The user-interface thread joins the worker without processing events,
  // as it does when it stops the port's reading thread.
  std::thread worker([&] { p.Message("The hardware detected a framing error.", "Framing Error"); });
  worker.join();
  EXPECT_TRUE(p.boxes.empty());
  QCoreApplication::processEvents();
  ASSERT_EQ(p.boxes.size(), 1u);
  EXPECT_EQ(p.boxes[0].caption, "Framing Error");
}

TEST_F(QtPrompterTest, ShutdownReleasesWaitingWorkers) {
  RecordingPrompter p;
  p.answers = {true};
  std::atomic<int> answered{0};
  bool answer = true;
  std::jthread worker([&] {
    answer = p.Question("Still there?", "Q");
    ++answered;
  });
  // The user-interface thread is busy elsewhere (say, stopping that very
  // worker) and processes no events; Shutdown must still free the worker.
  std::this_thread::sleep_for(30ms);
  p.Shutdown();
  worker.join();
  EXPECT_EQ(answered, 1);
  EXPECT_FALSE(answer);
  // The handed-over request is dropped, not shown late.
  QCoreApplication::processEvents();
  EXPECT_TRUE(p.boxes.empty());
  // Later questions from workers are answered at once.
  std::jthread late([&] { EXPECT_FALSE(p.Confirm("x", "y")); });
}

// The real boxes: title, buttons and the answer of the button pressed.
TEST_F(QtPrompterTest, RealBoxesHaveTheirButtons) {
  QtPrompter p;
  struct Seen {
    QString title, text;
    QMessageBox::StandardButtons buttons;
  } seen;
  auto pressOnceShown = [&seen](QMessageBox::StandardButton press) {
    QTimer::singleShot(0, [&seen, press] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_TRUE(box);
      seen = {box->windowTitle(), box->text(), box->standardButtons()};
      box->button(press)->click();
    });
  };

  pressOnceShown(QMessageBox::Ok);
  p.Message("Refresh Successful.", "Refresh Successful");
  EXPECT_EQ(seen.title, "Refresh Successful");
  EXPECT_EQ(seen.text, "Refresh Successful.");
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

  pressOnceShown(QMessageBox::Yes);
  EXPECT_TRUE(p.Question("Save?", "Question"));
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
  pressOnceShown(QMessageBox::No);
  EXPECT_FALSE(p.Question("Save?", "Question"));

  pressOnceShown(QMessageBox::Cancel);
  EXPECT_FALSE(p.Confirm("Proceed?", "Confirm"));
  EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  pressOnceShown(QMessageBox::Ok);
  EXPECT_TRUE(p.Confirm("Proceed?", "Confirm"));
}

}  // namespace
}  // namespace qmx

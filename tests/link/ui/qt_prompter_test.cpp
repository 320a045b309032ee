#include "link/ui/qt_prompter.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QScreen>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "link/radio_link.h"
#include "link/ui/qt_waiter.h"
#include "link/ui/window_fit.h"
#include "link/workdir.h"
#include "sim/sim_module.h"
#include "sim/sim_serial_port.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;

// Records each box instead of showing it, answering from a script. With
// `whileOpen` set, an open box runs it, as a real box runs its own event
// loop, so that a box opened inside another shows as a nesting depth of 2.
class RecordingPrompter : public QtPrompter {
 public:
  struct Box {
    Kind kind;
    QString text, caption, detail;
    QThread* thread;
  };
  std::vector<Box> boxes;
  std::deque<bool> answers;
  std::function<void()> whileOpen;
  int depth = 0, maxDepth = 0;

 protected:
  bool Show(Kind kind, const QString& text, const QString& caption, const QString& detail) override {
    boxes.push_back({kind, text, caption, detail, QThread::currentThread()});
    maxDepth = std::max(maxDepth, ++depth);
    if (whileOpen && depth < 3) whileOpen();  // deep enough to see nesting, not to overflow
    --depth;
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
};

// Lets every box handed over so far (and those posted as each one closes)
// come up and close.
void ShowWaitingBoxes() {
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
}

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

TEST_F(QtPrompterTest, AFloodFromAWorkerShowsEachBoxOnceAndNeverNested) {
  RecordingPrompter p;
  const auto flood = [&p] {
    for (int i = 0; i < 20000; ++i) {
      switch (i % 4) {
        case 0: p.Message("The hardware detected a parity error.", "Parity Error"); break;
        case 1: p.Message("The hardware detected a framing error.", "Framing Error"); break;
        case 2: p.MessageWithDetail("Could not open the port.", "Comm Error", "busy"); break;
        case 3: p.MessageWithDetail("Could not open the port.", "Comm Error", "missing"); break;
      }
    }
  };
  bool flooded = false;
  p.whileOpen = [&] {
    if (!flooded) {
      flooded = true;
      std::thread(flood).join();
    }
    QCoreApplication::processEvents();
  };
  std::thread([&] { p.Message("The hardware detected a parity error.", "Parity Error"); }).join();
  ShowWaitingBoxes();

  EXPECT_EQ(p.maxDepth, 1);
  ASSERT_EQ(p.boxes.size(), 4u);
  EXPECT_EQ(p.boxes[0].caption, "Parity Error");  // the repeats of the open box are dropped
  EXPECT_EQ(p.boxes[1].caption, "Framing Error");
  EXPECT_EQ(p.boxes[2].detail, "busy");
  EXPECT_EQ(p.boxes[3].detail, "missing");
  EXPECT_EQ(p.boxes[3].text, "Could not open the port.");
  for (const auto& b : p.boxes) EXPECT_EQ(b.thread, QThread::currentThread());
}

// Counts the announcements the parser thread has passed on.
class CountingSink : public test::RecordingSink {
 public:
  void EventText(const EventBlock& block) override {
    RecordingSink::EventText(block);
    {
      std::lock_guard lock(countMutex_);
      ++events_;
    }
    countCv_.notify_all();
  }
  bool WaitFor(int events) {
    std::unique_lock lock(countMutex_);
    return countCv_.wait_for(lock, 30s, [&] { return events_ >= events; });
  }

 private:
  std::mutex countMutex_;
  std::condition_variable countCv_;
  int events_ = 0;
};

// Every received frame writes three log entries and each failed open is
// reported; while its box is open the same report is not queued again.
TEST_F(QtPrompterTest, AnUnwritableDataLogUnderTrafficBringsUpOneBox) {
  test::TempDir temp;
  WorkDir dir(temp.path());
  std::filesystem::create_directory(dir.File("logfile.dat"));
  RecordingPrompter prompter;
  CondVarWaiter waiter;
  CountingSink sink;
  auto module = std::make_shared<sim::SimModule>();
  RadioLink link(sim::MakeSimPortFactory(module), dir, prompter, waiter, sink);
  link.options.logData = true;
  ASSERT_TRUE(link.transport.OpenCommPort(test::FactoryLine(), "sim", true));
  link.parser.Start();

  constexpr int kFrames = 300;
  prompter.whileOpen = [&] {
    for (int i = 1; i < kFrames; ++i) module->SendAnnounce(0xE9);
    ASSERT_TRUE(sink.WaitFor(kFrames));
    QCoreApplication::processEvents();
  };
  module->SendAnnounce(0xE9);
  ASSERT_TRUE(sink.WaitFor(1));
  ShowWaitingBoxes();
  ASSERT_EQ(prompter.boxes.size(), 1u);
  EXPECT_EQ(prompter.boxes[0].text, "Erroring opening logfile.dat");
  EXPECT_EQ(prompter.boxes[0].caption, "LogFile Error");
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

  QString detail;
  QTimer::singleShot(0, [&detail] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box);
    detail = box->informativeText();
    box->button(QMessageBox::Ok)->click();
  });
  p.MessageWithDetail("Could not open the port.", "Comm Error", "Device or resource busy");
  EXPECT_EQ(detail, "Device or resource busy");

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

// A short text under a long caption: the box is wide enough for the caption
// (a title bar cuts what does not fit), and a question's Enter means No.
TEST_F(QtPrompterTest, BoxesKeepTheirCaptionWholeAndQuestionsDefaultToNo) {
  QtPrompter p;
  int width = 0, captionWidth = 0;
  QAbstractButton* defaultButton = nullptr;
  QAbstractButton* noButton = nullptr;
  auto inspect = [&] {
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_TRUE(box);
      width = box->width();
      captionWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
      defaultButton = box->defaultButton();
      noButton = box->button(QMessageBox::No);
      QTest::keyClick(box, Qt::Key_Return);
    });
  };
  inspect();
  p.Message("Sent", "CheckParameters Failed Because Of A Long Caption");
  EXPECT_GT(width, captionWidth + 100);

  inspect();
  EXPECT_FALSE(p.Question("Reset radio?", "Reset Radio"));
  EXPECT_EQ(defaultButton, noButton);
}

// A dialog opens centred over the window it belongs to, not in the middle
// of the screen, and never past the screen's edges.
TEST_F(QtPrompterTest, DialogsOpenOverTheirParentWithinTheScreen) {
  const QRect screen = QApplication::primaryScreen()->availableGeometry();
  QWidget owner;
  owner.setGeometry(screen.left() + 20, screen.top() + 30, 400, 300);
  owner.show();
  QDialog dialog(&owner);
  dialog.resize(200, 100);
  CentreOverParent(dialog);
  EXPECT_EQ(dialog.frameGeometry().center(), owner.frameGeometry().center());
  owner.move(screen.right() - 150, screen.bottom() - 100);  // mostly off the screen
  CentreOverParent(dialog);
  EXPECT_TRUE(screen.contains(dialog.frameGeometry()));
  EXPECT_EQ(dialog.frameGeometry().bottomRight(), screen.bottomRight());
}

// File dialogs open in the work directory at first (not at the computer's
// top), afterwards in the folder of the last file chosen, whatever dialog
// chose it; a cancelled dialog changes nothing.
TEST_F(QtPrompterTest, FileDialogsOpenWhereTheLastFileWasChosen) {
  test::TempDir temp;
  const std::filesystem::path work = temp.path() / "work", other = temp.path() / "other";
  std::filesystem::create_directories(work);
  std::filesystem::create_directories(other);
  std::ofstream(other / "radio.qmxprofile") << "tx-power = 0x07\n";
  WorkDir dir(work);
  QtPrompter p(nullptr, &dir);
  QStringList openedIn;
  // Answers the next file dialog with `file`, or cancels it.
  const auto answer = [&](const std::filesystem::path& file) {
    QTimer::singleShot(0, [&openedIn, file] {
      auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(d, nullptr);
      openedIn << QFileInfo(d->directory().absolutePath()).canonicalFilePath();
      if (file.empty()) return d->reject();
      d->selectFile(QString::fromStdString(file.string()));
      static_cast<QDialog*>(d)->accept();  // the file dialog's own check of the name
    });
  };
  const auto canonical = [](const std::filesystem::path& path) {
    return QString::fromStdString(std::filesystem::canonical(path).string());
  };
  FileRequest request;
  request.caption = "Load Profile";
  answer(other / "radio.qmxprofile");
  EXPECT_EQ(canonical(p.OpenFileName(request)), canonical(other / "radio.qmxprofile"));
  answer({});
  EXPECT_EQ(p.SaveFileName(request), "");
  request.directory = work.string();  // only where nothing was chosen yet
  answer({});
  EXPECT_EQ(p.OpenFileName(request), "");
  EXPECT_EQ(openedIn, (QStringList{canonical(work), canonical(other), canonical(other)}));
}

}  // namespace
}  // namespace qmx

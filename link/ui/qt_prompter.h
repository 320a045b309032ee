// The program's Prompter: real modal message boxes. Calls from the thread
// this object lives on (the user-interface thread) show the box at once;
// calls from any other thread are handed to that thread. A plain message
// returns at once; a question blocks until the user has answered, as a
// blocking queued call would, with one difference:
// Shutdown() (and the destructor) release every thread still waiting, so a
// worker that reports an error while the user-interface thread is stopping
// it cannot deadlock the two. After Shutdown() calls from other threads show
// nothing and answer No / Cancel.
//
// Boxes handed over by other threads are shown one at a time and never
// nest: while any box of this prompter is open (each box runs an event loop
// of its own) the next one waits, and it is shown once that box has closed.
// A plain message equal (kind, text, caption and detail) to one that is open
// or still waiting is not queued again, so a worker that reports the same
// fault for every frame brings up one box, not thousands.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "link/prompter.h"

namespace qmx {

class WorkDir;

class QtPrompter : public QObject, public Prompter {
  Q_OBJECT

 public:
  enum class Kind { Message, Question, Confirm };

  // `parentWindow`: the window boxes are centred on; without one, the
  // active window at the time. `workDir`: where file dialogs open until the
  // user has chosen a file in one.
  explicit QtPrompter(QWidget* parentWindow = nullptr, const WorkDir* workDir = nullptr);
  ~QtPrompter() override;

  void Message(const std::string& text, const std::string& caption) override;
  // The detail stands below the message as the box's informative text.
  void MessageWithDetail(const std::string& text, const std::string& caption, const std::string& detail) override;
  bool Question(const std::string& text, const std::string& caption) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  // Each file dialog opens in the folder of the last file chosen in one;
  // before any, in the request's directory, else in the work directory.
  std::string OpenFileName(const FileRequest& request) override;
  std::string SaveFileName(const FileRequest& request) override;

  void Shutdown();

 protected:
  // Shows one box on the user-interface thread and returns the answer (Yes
  // or OK is true; a plain message returns true). `detail` is empty but for
  // MessageWithDetail. Tests override this.
  virtual bool Show(Kind kind, const QString& text, const QString& caption, const QString& detail);

 private:
  struct Request;
  bool Ask(Kind kind, const std::string& text, const std::string& caption, const std::string& detail = {});
  // Shows `request` and keeps it in open_ meanwhile (user-interface thread).
  bool ShowCounted(const std::shared_ptr<Request>& request);
  // Shows the oldest request handed over by another thread, unless a box
  // is open; then the closing of the outermost box asks again.
  Q_INVOKABLE void ShowNext();
  // Posts one ShowNext when requests wait and none is posted (under mutex_).
  bool NeedsPostLocked();
  void PostShowNext();
  void Finish(const std::shared_ptr<Request>& request, bool answer);
  std::string StartFolder(const FileRequest& request) const;
  std::string AskFileName(const FileRequest& request, bool save);

  QPointer<QWidget> parentWindow_;
  const WorkDir* workDir_ = nullptr;
  // The folder of the last file chosen in a file dialog (user-interface
  // thread only); empty until then.
  std::string lastFolder_;
  std::mutex mutex_;
  bool shutDown_ = false;
  bool posted_ = false;                               // a ShowNext is on its way
  std::deque<std::shared_ptr<Request>> toShow_;       // handed over, not shown yet
  std::vector<std::shared_ptr<Request>> open_;        // boxes open now, outermost first
  std::vector<std::shared_ptr<Request>> unanswered_;  // threads waiting for these
};

}  // namespace qmx

#include "link/ui/qt_prompter.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <condition_variable>

#include "link/ui/window_fit.h"
#include "link/workdir.h"

namespace qmx {

struct QtPrompter::Request {
  Kind kind;
  QString text;
  QString caption;
  QString detail;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  bool answer = false;

  bool SameBox(const Request& o) const {
    return kind == o.kind && text == o.text && caption == o.caption && detail == o.detail;
  }
};

QtPrompter::QtPrompter(QWidget* parentWindow, const WorkDir* workDir)
    : parentWindow_(parentWindow), workDir_(workDir) {}

QtPrompter::~QtPrompter() { Shutdown(); }

void QtPrompter::Message(const std::string& text, const std::string& caption) {
  Ask(Kind::Message, text, caption);
}

void QtPrompter::MessageWithDetail(const std::string& text, const std::string& caption, const std::string& detail) {
  Ask(Kind::Message, text, caption, detail);
}

bool QtPrompter::Question(const std::string& text, const std::string& caption) {
  return Ask(Kind::Question, text, caption);
}

bool QtPrompter::Confirm(const std::string& text, const std::string& caption) {
  return Ask(Kind::Confirm, text, caption);
}

std::string QtPrompter::OpenFileName(const FileRequest& request) { return AskFileName(request, false); }

std::string QtPrompter::SaveFileName(const FileRequest& request) { return AskFileName(request, true); }

std::string QtPrompter::StartFolder(const FileRequest& request) const {
  if (!lastFolder_.empty()) return lastFolder_;
  if (!request.directory.empty()) return request.directory;
  return workDir_ ? workDir_->Dir().string() : QDir::currentPath().toStdString();
}

std::string QtPrompter::AskFileName(const FileRequest& request, bool save) {
  QFileDialog d(QApplication::activeWindow());
  d.setWindowTitle(QString::fromStdString(request.caption));
  d.setDirectory(QString::fromStdString(StartFolder(request)));
  d.setNameFilter(QString::fromStdString(request.filter));
  d.setDefaultSuffix(QString::fromStdString(request.defaultSuffix));
  if (!request.initialName.empty()) d.selectFile(QString::fromStdString(request.initialName));
  d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  d.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return {};
  const QString chosen = d.selectedFiles().first();
  lastFolder_ = QFileInfo(chosen).absolutePath().toStdString();
  return chosen.toStdString();
}

bool QtPrompter::Ask(Kind kind, const std::string& text, const std::string& caption, const std::string& detail) {
  auto request = std::make_shared<Request>();
  request->kind = kind;
  request->text = QString::fromStdString(text);
  request->caption = QString::fromStdString(caption);
  request->detail = QString::fromStdString(detail);
  if (QThread::currentThread() == thread()) return ShowCounted(request);

  // A plain message needs no answer: the worker goes on at once, so it can
  // never wait for a user-interface thread that is waiting for it.
  const bool needsAnswer = kind != Kind::Message;
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    if (shutDown_) return false;
    const auto same = [&](const std::shared_ptr<Request>& r) { return r->SameBox(*request); };
    // The user sees (or will see) this very box already.
    if (!needsAnswer && (std::ranges::any_of(open_, same) || std::ranges::any_of(toShow_, same))) return true;
    toShow_.push_back(request);
    if (needsAnswer) unanswered_.push_back(request);
    // While a box is open, its closing posts instead.
    post = open_.empty() && NeedsPostLocked();
  }
  if (post) PostShowNext();
  if (!needsAnswer) return true;
  std::unique_lock lock(request->mutex);
  request->cv.wait(lock, [&] { return request->done; });
  return request->answer;
}

bool QtPrompter::NeedsPostLocked() {
  if (posted_ || toShow_.empty()) return false;
  posted_ = true;
  return true;
}

void QtPrompter::PostShowNext() {
  // By name: the request itself travels through toShow_ under our lock.
  QMetaObject::invokeMethod(this, "ShowNext", Qt::QueuedConnection);
}

bool QtPrompter::ShowCounted(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard lock(mutex_);
    open_.push_back(request);
  }
  const bool answer = Show(request->kind, request->text, request->caption, request->detail);
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    std::erase(open_, request);
    post = open_.empty() && NeedsPostLocked();
  }
  if (post) PostShowNext();
  return answer;
}

void QtPrompter::ShowNext() {
  std::shared_ptr<Request> request;
  {
    std::lock_guard lock(mutex_);
    posted_ = false;
    // Empty when Shutdown() released the request meanwhile. With a box open
    // (this call came from its event loop) the next waits for it to close.
    if (toShow_.empty() || !open_.empty()) return;
    request = toShow_.front();
    toShow_.pop_front();
  }
  Finish(request, ShowCounted(request));
}

void QtPrompter::Finish(const std::shared_ptr<Request>& request, bool answer) {
  {
    std::lock_guard lock(mutex_);
    std::erase(unanswered_, request);
  }
  std::lock_guard lock(request->mutex);
  if (request->done) return;
  request->done = true;
  request->answer = answer;
  // Under the lock: the waiting thread cannot see `done`, return and drop
  // the request before this call is over.
  request->cv.notify_all();
}

void QtPrompter::Shutdown() {
  std::vector<std::shared_ptr<Request>> waiting;
  {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    toShow_.clear();
    waiting = unanswered_;
  }
  // A box still open for one of them answers into the void when it closes.
  for (const auto& r : waiting) Finish(r, false);
}

bool QtPrompter::Show(Kind kind, const QString& text, const QString& caption, const QString& detail) {
  QWidget* parent = parentWindow_ ? parentWindow_.data() : QApplication::activeWindow();
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(text);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  switch (kind) {
    case Kind::Message:
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Ok);
      box.setDefaultButton(QMessageBox::Ok);
      break;
    case Kind::Question:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      // Enter must never say Yes to a question that resets or overwrites.
      box.setDefaultButton(QMessageBox::No);
      break;
    case Kind::Confirm:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Ok);
      break;
  }
  // A box sizes itself to its text: a short text under a long caption
  // would cut the caption in the title bar.
  KeepCaptionWhole(box);
  const int result = box.exec();
  switch (kind) {
    case Kind::Message:
      return true;
    case Kind::Question:
      return result == QMessageBox::Yes;
    case Kind::Confirm:
      return result == QMessageBox::Ok;
  }
  return false;
}

}  // namespace qmx

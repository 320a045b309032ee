// Every message box and question of the program goes through this interface,
// so that tests can see what a user would see and answer the questions.
// Implementations must be callable from any thread.
#pragma once

#include <string>
#include <vector>

namespace qmx {

// What a file dialog asks for.
struct FileRequest {
  std::string caption;
  std::string filter;         // "Profiles (*.qmxprofile);;All files (*)"
  // Where it opens while the user has chosen no file in any file dialog
  // yet (afterwards: that file's folder); empty: the work directory.
  std::string directory;
  std::string defaultSuffix;  // added to a name typed without one; may be empty
  std::string initialName;    // the name field's text at first; may be empty
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A modal message with one OK button.
  virtual void Message(const std::string& text, const std::string& caption) = 0;
  // A message with a detail line below it, such as the reason behind a
  // failure. Implementations that cannot show details show the message alone.
  virtual void MessageWithDetail(const std::string& text, const std::string& caption, const std::string& detail) {
    (void)detail;
    Message(text, caption);
  }
  // A Yes/No question; true for Yes.
  virtual bool Question(const std::string& text, const std::string& caption) = 0;
  // An OK/Cancel question; true for OK.
  virtual bool Confirm(const std::string& text, const std::string& caption) { return Question(text, caption); }
  // A file chosen by the user to open or to save; empty when cancelled.
  // Asked on the user-interface thread only. Without a file dialog: always
  // cancelled.
  virtual std::string OpenFileName(const FileRequest& request) {
    (void)request;
    return {};
  }
  virtual std::string SaveFileName(const FileRequest& request) {
    (void)request;
    return {};
  }
};

// Writes messages to standard error as "caption: text"; answers questions No.
class StderrPrompter : public Prompter {
 public:
  // `prefix` opens every line (a program's "name: ").
  explicit StderrPrompter(std::string prefix = {}) : prefix_(std::move(prefix)) {}
  void Message(const std::string& text, const std::string& caption) override;
  // "caption: text (detail)"
  void MessageWithDetail(const std::string& text, const std::string& caption, const std::string& detail) override;
  bool Question(const std::string& text, const std::string& caption) override;

 private:
  std::string prefix_;
};

}  // namespace qmx

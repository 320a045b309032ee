// Every message box and question of the program goes through this interface,
// so that tests can see what a user would see and answer the questions.
// Implementations must be callable from any thread.
#pragma once

#include <string>
#include <vector>

namespace qmx {

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A modal message with one OK button.
  virtual void Message(const std::string& text, const std::string& caption) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Question(const std::string& text, const std::string& caption) = 0;
  // An OK/Cancel question; true for OK.
  virtual bool Confirm(const std::string& text, const std::string& caption) { return Question(text, caption); }
};

// Writes messages to standard error as "caption: text"; answers questions No.
class StderrPrompter : public Prompter {
 public:
  void Message(const std::string& text, const std::string& caption) override;
  bool Question(const std::string& text, const std::string& caption) override;
};

}  // namespace qmx

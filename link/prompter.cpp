#include "link/prompter.h"

#include <cstdio>
#include <mutex>

namespace qmx {

namespace {
std::mutex& StderrLock() {
  static std::mutex m;
  return m;
}
}  // namespace

void StderrPrompter::Message(const std::string& text, const std::string& caption) {
  std::lock_guard lock(StderrLock());
  std::fprintf(stderr, "%s%s: %s\n", prefix_.c_str(), caption.c_str(), text.c_str());
}

void StderrPrompter::MessageWithDetail(const std::string& text, const std::string& caption,
                                       const std::string& detail) {
  if (detail.empty()) return Message(text, caption);
  std::lock_guard lock(StderrLock());
  std::fprintf(stderr, "%s%s: %s (%s)\n", prefix_.c_str(), caption.c_str(), text.c_str(), detail.c_str());
}

bool StderrPrompter::Question(const std::string& text, const std::string& caption) {
  std::lock_guard lock(StderrLock());
  std::fprintf(stderr, "%s%s: %s [answered No]\n", prefix_.c_str(), caption.c_str(), text.c_str());
  return false;
}

}  // namespace qmx

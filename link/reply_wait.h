// The time-out and retries of an ordinary protocol-mode command: 1000 ms for
// each reply, and three retries after the first attempt.
#pragma once

namespace qmx {

struct ReplyWait {
  double timeoutMs;
  int retries;
};

inline constexpr ReplyWait kUsualReplyWait{1000.0, 3};

}  // namespace qmx

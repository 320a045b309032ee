// The user's switches that the link reads while it runs (View and Options
// menu items). Shared between threads.
#pragma once

#include <atomic>

namespace qmx {

struct LinkOptions {
  std::atomic<bool> showCommErrors{false};
  std::atomic<bool> obeyCts{false};
  std::atomic<bool> logData{false};
};

}  // namespace qmx

// A manual-reset event that threads can block on together with file
// descriptors: set() wakes every poll() on fd() until reset(). Backed by an
// eventfd on Linux and a pipe elsewhere.
#pragma once

#include <chrono>

namespace qmx {

class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  bool isSet() const;
  // Blocks until set or the time-out passes (negative: no limit). True when set.
  bool wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) const;
  // Readable while set.
  int fd() const { return readFd_; }

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
};

}  // namespace qmx

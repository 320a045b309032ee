// The one result type of the link and the tools: a status code, the value
// when there is one, and the operating system's reason where it gave one.
// Nothing below the windows shows a message; a caller that fails turns the
// result into the user's texts through link/failure_text.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace qmx {

enum class Status : std::uint8_t {
  Ok,
  // No matching reply after every retry.
  NoReply,
  // The port is not open, or it went away during the operation.
  PortClosed,
  // The port could not be opened (the reason says why).
  CannotOpen,
  // The open port's line settings could not be read.
  LineNotRead,
  // The line settings could not be applied.
  LineNotApplied,
  // A block was written only in part.
  WriteFailed,
  // Nothing could be done in the time allowed (a write held back by flow
  // control).
  TimedOut,
  // A thread could not be started.
  ThreadFailed,
  // The radio answered, but refused (an error status in its reply).
  Refused,
  // The input was not acceptable; nothing was sent.
  BadInput,
  // A file could not be read or written (the reason says why).
  FileError,
  // The user or the program stopped the operation.
  Cancelled,
  // What came back differs from what it was checked against (an image
  // read back from the module against its file).
  Mismatch,
  // The link's state does not allow it now (a protocol frame while the
  // terminal holds the port); nothing was sent.
  NotAllowed,
};

template <class T = std::monostate>
class [[nodiscard]] Result {
 public:
  // Success with a value (or none, for Result<>).
  Result(T value = T{}) : value_(std::move(value)) {}  // NOLINT: implicit on purpose
  static Result Fail(Status status, std::string reason = {}) {
    Result r;
    r.status_ = status;
    r.reason_ = std::move(reason);
    return r;
  }
  // A failure carried over from a result of another type.
  template <class U>
  static Result From(const Result<U>& other) {
    return Fail(other.status(), other.reason());
  }

  bool ok() const { return status_ == Status::Ok; }
  explicit operator bool() const { return ok(); }
  Status status() const { return status_; }
  const T& value() const { return value_; }
  T& value() { return value_; }
  const T& operator*() const { return value_; }
  const T* operator->() const { return &value_; }
  // The operating system's or the file's reason; empty when there is none.
  const std::string& reason() const { return reason_; }

 private:
  T value_{};
  Status status_ = Status::Ok;
  std::string reason_;
};

using Done = Result<>;

}  // namespace qmx

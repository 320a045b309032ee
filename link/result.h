// The one result type of the link and the tools: a status code, the value
// when there is one, the operation that failed and the operating system's
// reason where it gave one.
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

// What was being done when a result failed: with the status it picks the
// texts the user reads (link/failure_text.h). None where the caller words the
// failure itself.
enum class Operation : std::uint8_t {
  None,
  // The serial port.
  OpenPort,
  LineSettings,  // reading or applying the line (the status says which)
  StartThread,
  Write,
  PortLost,
  FindRadio,  // no radio answered on the port
  // The radio's commands and sequences.
  EnterProtocolMode,
  ExitProtocolMode,
  ReadBanks,   // one read of every bank after protocol mode
  ReadRadio,   // the dialog's read of the whole radio
  CheckParameters,
  SoftwareReset,
  MemorySave,
  FactoryDefaults,
  FactoryOverride,
  GetRegister,
  SetRegister,
  GetRemoteRegister,
  SetRemoteRegister,
  TxData,
  CheckInput,  // typed input refused before anything was sent
  // The boot code and the firmware.
  BootCode,
  Upgrade,
  Upload,  // the module's image asked for (Verify, Save)
  Verify,
  SaveImage,
  // Files.
  ReadFile,
  CreateFile,
  WriteFile,
  OpenLog,
  SaveProfile,
  LoadProfile,
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
  static Result Fail(Operation operation, Status status, std::string reason = {}) {
    return Fail(status, std::move(reason)).During(operation);
  }
  // A failure carried over from a result of another type.
  template <class U>
  static Result From(const Result<U>& other) {
    return Fail(other.operation(), other.status(), other.reason());
  }
  // The same result, a failure saying it happened during `operation`; a
  // success stays as it is.
  Result During(Operation operation) const& {
    Result r = *this;
    return std::move(r).During(operation);
  }
  Result During(Operation operation) && {
    if (!ok()) operation_ = operation;
    return std::move(*this);
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
  // What failed; None for success or where nobody said.
  Operation operation() const { return operation_; }

 private:
  T value_{};
  Status status_ = Status::Ok;
  Operation operation_ = Operation::None;
  std::string reason_;
};

using Done = Result<>;

}  // namespace qmx

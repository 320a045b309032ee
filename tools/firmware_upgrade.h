// The firmware upgrade through the module's boot code, free of any window:
// the prompt search, programming an image file, verifying the module's image
// against a file and saving it to a file. Each operation talks over a
// ByteChannel on a clock, reports its progress through hooks and returns an
// Outcome that carries what a user is to be told. The operations block the
// calling thread; a window runs them on a worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/failure_text.h"
#include "link/serial_port.h"
#include "link/boot_code.h"
#include "link/byte_channel.h"
#include "tools/xmodem.h"

namespace qmx {

// A file to program holds fewer bytes than this; an image read back is
// received into a buffer of this size.
inline constexpr std::size_t kFirmwareLimit = 132000;
// The image file's header block, which takes no part in the verification.
inline constexpr std::size_t kFirmwareHeader = 128;

// What an operation ended with: its result, and what the user is told of
// it. `message` and `caption` are empty when no message box is to be shown;
// `status` is the status bar's text. A failed result is BadInput for a file
// that cannot be programmed or holds nothing to verify, FileError for a file that could not be
// read or written, Mismatch for an image that is not the file's, or the
// dialogue's failure (NoReply for a boot code that did not answer, the
// transfer's Cancelled, the channel's WriteFailed or PortClosed).
// The result's operation names the step that failed (Upgrade, Upload,
// Verify, SaveImage, CreateFile, WriteFile, ReadFile); `message` and
// `caption` are its texts from link/failure_text.h.
struct UpgradeOutcome {
  Done result;
  std::string message;
  std::string caption;
  std::string status;
  bool ok() const { return result.ok(); }
  // A failure with the texts `variant` gives `result`'s operation.
  static UpgradeOutcome Failure(const Done& result, std::string status, Variant variant = Variant::Plain,
                                std::string_view subject = {}) {
    const auto text = FailureOf(result, variant, subject);
    return {result, text ? text->message : std::string(), text ? text->caption : std::string(), std::move(status)};
  }
};

// A file of `size` bytes that cannot be programmed, refused (BadInput)
// before anything is sent: nothing past its header (an empty file
// included), or kFirmwareLimit bytes or more. Nothing when it can be
// programmed.
std::optional<UpgradeOutcome> RefuseToProgram(std::size_t size);

// Whether the module's image can be saved to `target`, found before
// anything is sent: FileToWrite's failure (link/file_to_write.h), such as a
// folder, a pipe or a device, a missing folder or one that takes no file.
Done CheckSaveTarget(const std::filesystem::path& target);

// The whole file, or FileError with the reason (a folder, or anything but
// a regular file, is refused before it is read).
Result<std::vector<std::uint8_t>> ReadFirmwareFile(const std::filesystem::path& path);

// "Please Wait" with a dot added every fourth 100 ms step, starting over
// after four dots.
class VerifyingDots {
 public:
  static constexpr const char* kStart = "Please Wait";
  // The text after one more step.
  std::string Step(const std::string& text);

 private:
  int countdown_ = 3;
};

class FirmwareUpgrade {
 public:
  struct Hooks {
    std::function<void(std::size_t maximum)> gaugeMaximum;
    std::function<void(std::size_t value)> gauge;
    // The 7-second wait after programming: begins, one 100 ms step, ends.
    std::function<void()> verifyingBegins;
    std::function<void()> verifyingStep;
    std::function<void()> verifyingEnds;
  };

  FirmwareUpgrade(ByteChannel& channel, TimeSource& clock, Hooks hooks = {});

  // The blocks and retries of the last operation's transfer.
  Xmodem::Counts Transferred() const { return xmodem_.Transferred(); }

  // Writes 0x03 up to `attempts` times (100), 50 ms apart, until a ">"
  // arrives (left unread); NoReply when none did.
  Done FindBootPrompt(int attempts = kBootPromptAttempts);
  // The wait after each 0x03 of the prompt search (50 ms).
  void SetPromptInterval(Clock::duration interval) { promptInterval_ = interval; }
  // After the transfer, wait for the boot code's "OK" CR LF and go on as
  // soon as it comes (at most 8 s after the transfer), instead of the
  // window's fixed 7-second wait with its dots and one second more.
  void SetEndOnAnswer(bool on) { endOnAnswer_ = on; }
  // After a successful programming "E" CR LF starts the new firmware (on by
  // default). Off, the boot code stays at its prompt, so that a Verify or
  // Save can follow, and the caller leaves it later (Leave()).
  void SetLeaveAfterProgram(bool on) { leaveAfterProgram_ = on; }

  // RefuseToProgram's refusal without sending anything; then the prompt
  // search, "D" CR LF, "DL:", the transfer, the 7-second wait, "OK" CR LF
  // and (unless SetLeaveAfterProgram(false)) "E" CR LF. An "OK" CR LF read by the drain after the transfer's
  // final EOT counts, and the wait is left out.
  UpgradeOutcome Program(std::span<const std::uint8_t> file);

  // "U" CR LF, "UL:", the module's image, compared with the file from its
  // 129th byte. The module's image stands for the file when it holds every
  // byte of the file after the header and they agree; image bytes past the
  // file's end (block padding, the rest of the flash) take no part. A file
  // of no more than the header has nothing to verify and fails. A `raw`
  // file has no header (an image as Save writes it) and is compared from
  // its first byte.
  UpgradeOutcome Verify(std::span<const std::uint8_t> file, bool raw = false);

  // The module's image into `target` (through a link, into the file it
  // leads to): written to a temporary file beside it and renamed over it
  // only when the whole image arrived and was written, so a failure never
  // touches an existing file. CheckSaveTarget's
  // failure is reported before anything is sent.
  UpgradeOutcome Save(const std::filesystem::path& target);

  // "E" CR: the boot code starts the application.
  void Leave();

  // "U" CR LF and the boot code's "UL:" (NoReply when it did not come).
  Done RequestUpload();
  // After RequestUpload(): the module's image as received by XMODEM, or
  // the transfer's failure.
  Result<std::vector<std::uint8_t>> ReceiveImage();

 private:
  Done WriteText(std::string_view text);
  void GaugeMaximum(std::size_t m) {
    if (hooks_.gaugeMaximum) hooks_.gaugeMaximum(m);
  }
  void Gauge(std::size_t v) {
    if (hooks_.gauge) hooks_.gauge(v);
  }
  static void Call(const std::function<void()>& f) {
    if (f) f();
  }

  ByteChannel& channel_;
  TimeSource& clock_;
  Hooks hooks_;
  Xmodem xmodem_;
  Clock::duration promptInterval_ = kBootPromptInterval;
  bool endOnAnswer_ = false;
  bool leaveAfterProgram_ = true;
};

}  // namespace qmx

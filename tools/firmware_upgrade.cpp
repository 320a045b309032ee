#include "tools/firmware_upgrade.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "link/file_to_write.h"
#include "link/radio_link.h"

namespace qmx {

namespace {

constexpr const char* kProgrammingFailed = "Programming Failed";

// A failure of the step `operation`, with its texts as `variant` words them
// and `status` for the status line.
UpgradeOutcome Failed(Operation operation, const Done& why, Variant variant, std::string status,
                      std::string_view subject = {}) {
  return UpgradeOutcome::Failure(why.During(operation), std::move(status), variant, subject);
}

UpgradeOutcome Failed(Operation operation, Status why, Variant variant, std::string status,
                      std::string_view subject = {}) {
  return Failed(operation, Done::Fail(why), variant, std::move(status), subject);
}

// NoReply for a request that went unanswered, or the failure of its write.
Done Unanswered(const Done& write) { return write ? Done::Fail(Status::NoReply) : write; }

}  // namespace

std::optional<UpgradeOutcome> RefuseToProgram(std::size_t size) {
  static_assert(kFirmwareHeader == 128, "the refusal's text names the header's size");
  const std::string n = std::to_string(size);
  if (size >= kFirmwareLimit) return Failed(Operation::Upgrade, Status::BadInput, Variant::TooLarge, kProgrammingFailed, n);
  if (size <= kFirmwareHeader)
    return Failed(Operation::Upgrade, Status::BadInput, Variant::NoFirmware, kProgrammingFailed, n);
  return std::nullopt;
}

Done CheckSaveTarget(const std::filesystem::path& target) { return Done::From(FileToWrite(target)); }

Result<std::vector<std::uint8_t>> ReadFirmwareFile(const std::filesystem::path& path) {
  using Bytes = Result<std::vector<std::uint8_t>>;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::is_directory(status)) return Bytes::Fail(Status::FileError, path.string() + " is a folder");
  // A device or a pipe could go on for ever.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    return Bytes::Fail(Status::FileError, path.string() + " is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Bytes::Fail(Status::FileError, "cannot open " + path.string());
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Bytes::Fail(Status::FileError, "cannot read " + path.string());
  return bytes;
}

std::string VerifyingDots::Step(const std::string& text) {
  if (text.size() >= 15) return kStart;
  if (countdown_ > 0) {
    --countdown_;
    return text;
  }
  countdown_ = 3;
  return text + ".";
}

FirmwareUpgrade::FirmwareUpgrade(ByteChannel& channel, TimeSource& clock, Hooks hooks)
    : channel_(channel),
      clock_(clock),
      hooks_(std::move(hooks)),
      xmodem_(channel, clock, [this](std::size_t bytes) { Gauge(bytes); }) {}

Done FirmwareUpgrade::WriteText(std::string_view text) {
  return channel_.Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Done FirmwareUpgrade::FindBootPrompt(int attempts) {
  return qmx::FindBootPrompt(channel_, clock_, promptInterval_, attempts);
}

UpgradeOutcome FirmwareUpgrade::Program(std::span<const std::uint8_t> file) {
  if (auto refused = RefuseToProgram(file.size())) return *refused;
  if (Done found = FindBootPrompt(); !found)
    return Failed(Operation::Upgrade, found, Variant::BootPrompt, kProgrammingFailed);
  GaugeMaximum(file.size());
  const Done asked = WriteText("D\r\n");
  if (xmodem_.AwaitPrompt("DL:", 1000, 1000) != 3)
    return Failed(Operation::Upgrade, Unanswered(asked), Variant::Prompt, kProgrammingFailed);
  constexpr std::string_view kProgrammed = "OK\r\n";
  xmodem_.SetAnswerAfterEot(kProgrammed);
  const Result<std::size_t> sent = xmodem_.Send(file);
  if (!sent || *sent < file.size())
    return Failed(Operation::Upgrade, sent ? Done::Fail(Status::NoReply) : Done::From(sent), Variant::Transfer,
                  kProgrammingFailed);
  Gauge(file.size());

  // A boot code that programs quickly has answered already, during the
  // drain after the final EOT (which ends with it); otherwise it programs
  // the image meanwhile.
  bool programmed = PromptMatched(xmodem_.AfterEot(), kProgrammed) == kProgrammed.size();
  if (!programmed && endOnAnswer_) {
    // The drain took 1.5 s of the 8 after the transfer.
    constexpr int kAnswerMs = 6500;
    Call(hooks_.verifyingBegins);
    programmed = xmodem_.AwaitPrompt(kProgrammed, kAnswerMs, 1000) == static_cast<int>(kProgrammed.size());
    Call(hooks_.verifyingEnds);
  } else if (!programmed) {
    Call(hooks_.verifyingBegins);
    for (int step = 0; step < 70; ++step) {
      clock_.Sleep(std::chrono::milliseconds(100));
      Call(hooks_.verifyingStep);
    }
    programmed = xmodem_.AwaitPrompt(kProgrammed, 1000, 1000) == static_cast<int>(kProgrammed.size());
    Call(hooks_.verifyingEnds);
  }
  if (!programmed)
    return Failed(Operation::Upgrade, Status::NoReply, Variant::Answer, kProgrammingFailed);
  // Programmed all the same when "E" is lost: the boot code starts the
  // application at its next start.
  if (leaveAfterProgram_) (void)WriteText("E\r\n");
  return UpgradeOutcome{{}, "Programming Successfully", "Success", "Programming Successful"};
}

Done FirmwareUpgrade::RequestUpload() {
  GaugeMaximum(kFirmwareLimit);
  const Done asked = WriteText("U\r\n");
  if (xmodem_.AwaitPrompt("UL:", 2000, 1000) != 3) return Unanswered(asked).During(Operation::Upload);
  return {};
}

Result<std::vector<std::uint8_t>> FirmwareUpgrade::ReceiveImage() {
  std::vector<std::uint8_t> image(kFirmwareLimit, 0);
  const Result<std::size_t> n = xmodem_.Receive(image);
  Gauge(kFirmwareLimit);
  if (!n) return Result<std::vector<std::uint8_t>>::From(n);
  image.resize(*n);
  return image;
}

UpgradeOutcome FirmwareUpgrade::Verify(std::span<const std::uint8_t> file, bool raw) {
  if (Done asked = RequestUpload(); !asked)
    return Failed(Operation::Upload, asked, Variant::Plain, "Downloading Image Failed");
  const Result<std::vector<std::uint8_t>> image = ReceiveImage();
  if (!image) return Failed(Operation::Verify, Done::From(image), Variant::Quiet, "Verification Failed");
  const std::size_t header = raw ? 0 : kFirmwareHeader;
  const std::size_t program = file.size() > header ? file.size() - header : 0;
  const bool same = program > 0 && image->size() >= program &&
                    std::equal(file.begin() + static_cast<std::ptrdiff_t>(header), file.end(), image->begin());
  if (!same)
    return Failed(Operation::Verify, program > 0 ? Status::Mismatch : Status::BadInput, Variant::Quiet,
                  "Verification Failed");
  return UpgradeOutcome{{}, "", "", "Verification Successful"};
}

UpgradeOutcome FirmwareUpgrade::Save(const std::filesystem::path& target) {
  constexpr const char* kFailed = "Save Image Failed";
  const Result<std::filesystem::path> file = FileToWrite(target);
  if (!file) return Failed(Operation::CreateFile, Done::From(file), Variant::Plain, kFailed);
  const Done asked = RequestUpload();
  if (!asked) return Failed(Operation::Upload, asked, Variant::Plain, kFailed);
  const auto image = ReceiveImage();
  if (!image) return Failed(Operation::SaveImage, Done::From(image), Variant::Quiet, kFailed);
  const std::string_view bytes(reinterpret_cast<const char*>(image->data()), image->size());
  if (!WriteFileReplacing(*file, bytes))
    return Failed(Operation::WriteFile, Status::FileError, Variant::Plain, kFailed);
  return UpgradeOutcome{{}, "", "", "Save Image Successful"};
}

void FirmwareUpgrade::Leave() {
  // The boot code that misses it stays where it is; nothing to report.
  (void)WriteText("E\r");
}

}  // namespace qmx

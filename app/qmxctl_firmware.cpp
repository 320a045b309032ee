#include "qmxctl_firmware.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "config/local_status.h"
#include "config/register_map.h"
#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "qmxctl_output.h"
#include "tools/firmware_upgrade.h"

namespace qmx {

namespace {

// A bar of 40 marks on standard error, redrawn in place.
class ProgressBar {
 public:
  ProgressBar() : shown_(::isatty(2) == 1) {}
  ~ProgressBar() { End(); }
  void Maximum(std::size_t m) { maximum_ = m == 0 ? 1 : m; }
  void Value(std::size_t v) {
    if (!shown_) return;
    const std::size_t filled = std::min<std::size_t>(40, v * 40 / maximum_);
    const std::size_t percent = std::min<std::size_t>(100, v * 100 / maximum_);
    // Redrawn only when it changes: a slow terminal must not hold up the
    // transfer, which reports every block.
    if (open_ && filled == filled_ && percent == percent_) return;
    filled_ = filled;
    percent_ = percent;
    std::fprintf(stderr, "\r[%s%s] %3zu%%", std::string(filled, '#').c_str(), std::string(40 - filled, ' ').c_str(),
                 percent);
    std::fflush(stderr);
    open_ = true;
  }
  // `text` on a line of its own, or (`sameLine`) after what is there.
  void Text(const char* text, bool sameLine = false) {
    if (!shown_) return;
    if (!sameLine) End();
    std::fputs(text, stderr);
    std::fflush(stderr);
    open_ = true;
  }
  void End() {
    if (open_) std::fputc('\n', stderr);
    open_ = false;
  }

 private:
  bool shown_;
  bool open_ = false;
  std::size_t maximum_ = 1;
  std::size_t filled_ = 0, percent_ = 0;
};

int Fail(const std::string& text) {
  std::fprintf(stderr, "qmxctl: %s\n", text.c_str());
  return 1;
}

}  // namespace

std::string PrepareFirmware(FirmwareRequest& r) {
  if (r.action != "program" && r.action != "verify" && r.action != "save")
    return "unknown firmware action '" + r.action + "' (program, verify, save)";
  if (r.action == "save") return CheckSaveTarget(r.file).reason();
  auto contents = ReadFirmwareFile(r.file);
  if (!contents) return contents.reason();
  if (r.action == "program" && RefuseToProgram(contents->size()))
    return r.file.string() + ": " + std::to_string(contents->size()) + " bytes; an image to program holds " +
           (contents->size() >= kFirmwareLimit ? "fewer than " + std::to_string(kFirmwareLimit)
                                               : "more than its " + std::to_string(kFirmwareHeader) + "-byte header");
  // Nothing past the header (or, --raw, nothing at all): nothing to compare.
  const std::size_t header = r.raw ? 0 : kFirmwareHeader;
  if (r.action == "verify" && contents->size() <= header)
    return r.file.string() + ": " + std::to_string(contents->size()) + " bytes; an image to verify holds " +
           (r.raw ? std::string("at least one byte")
                  : "more than its " + std::to_string(kFirmwareHeader) + "-byte header");
  r.contents = std::move(contents.value());
  return {};
}

int RunFirmware(RadioLink& link, const FirmwareRequest& r, bool json) {
  const auto started = std::chrono::steady_clock::now();
  LinkSession& session = link.session;
  // The way in ends with the search for the boot prompt; a prompt that did
  // not come is told below, after the way back.
  const Done entered = session.EnterBootCode(!r.recover);
  if (entered.status() != Status::NoReply && !ctl::PortReady(entered)) return 1;

  ProgressBar bar;
  FirmwareUpgrade::Hooks hooks;
  hooks.gaugeMaximum = [&bar](std::size_t m) { bar.Maximum(m); };
  hooks.gauge = [&bar](std::size_t v) { bar.Value(v); };
  int step = 0;
  hooks.verifyingBegins = [&bar] { bar.Text("Verifying Firmware"); };
  hooks.verifyingStep = [&bar, &step] {
    if (++step % 4 == 0) bar.Text(".", true);
  };
  hooks.verifyingEnds = [&bar] { bar.End(); };
  FirmwareUpgrade upgrade(session.BootChannel(), session.Time(), hooks);
  upgrade.SetEndOnAnswer(true);  // a script waits for the radio, not for a clock

  int status = 1;
  std::string result;
  if (!entered) {
    // A radio that answered neither the reset nor the boot prompt is silent.
    Fail(session.ResetUnanswered() ? "Software Reset: the radio did not answer"
                                   : FailureOf(Operation::FindRadio)->message);
  } else {
    UpgradeOutcome outcome;
    if (r.action == "program") outcome = upgrade.Program(r.contents);
    else if (r.action == "verify") outcome = upgrade.Verify(r.contents, r.raw);
    else outcome = upgrade.Save(r.file);
    bar.End();
    upgrade.Leave();
    result = outcome.status;
    if (outcome.ok()) {
      std::fprintf(json ? stderr : stdout, "%s\n", outcome.status.c_str());
      status = 0;
    } else {
      Fail(outcome.message.empty() ? outcome.status : outcome.message + " (" + outcome.status + ")");
    }
  }

  // The boot code starts the application; then the radio's own line and
  // protocol mode again.
  const Done back = session.LeaveBootCode();
  if (back.status() == Status::NoReply) return Fail(FailureOf(Operation::EnterProtocolMode)->message);
  if (!ctl::PortReady(back)) return 1;
  if (status != 0) return status;
  if (r.recover) {
    RadioImage image;
    if (ReadBanks(link.commands, image, kAllBanks, 0, 0) != kAllBanks)
      return Fail(FailureOf(Operation::BootCode)->message);
    std::fprintf(stderr, "qmxctl: the radio is back in protocol mode, firmware %s\n",
                 FormatLocalStatus(image, 0).firmware.c_str());
  }
  if (json) {
    const auto counts = upgrade.Transferred();
    ctl::PrintJson({{"action", r.action},
                    {"file", ctl::JsonText(r.file.string())},
                    {"result", result},
                    {"bytes", counts.bytes},
                    {"blocks", counts.blocks},
                    {"retries", counts.retries},
                    {"seconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()}});
  }
  return 0;
}

}  // namespace qmx

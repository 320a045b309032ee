// qmxctl config set, defaults, mac and fcc: the configuration dialog's
// operations on the command line. What the dialog shows in a box is printed:
// reports of success on standard output (under --json the result object
// stands for them, and they go to standard error), failures on standard
// error; a question goes to standard error with the answer given (--reset
// answers Yes).
#include "qmxctl_config.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "config/config_report.h"
#include "config/config_writer.h"
#include "config/local_status.h"
#include "config/profile.h"
#include "config/register_map.h"
#include "config/settings_model.h"
#include "link/banks.h"
#include "link/command_layer.h"
#include "link/failure_text.h"
#include "link/file_to_write.h"
#include "link/number_text.h"
#include "link/prompter.h"
#include "link/workdir.h"
#include "qmxctl_output.h"

namespace qmx::ctl {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitRadio = 1;
constexpr int kExitDiffTrouble = 2;  // config diff: as diff(1), 2 is trouble

// The boxes that report success rather than failure.
constexpr std::string_view kReports[] = {"Settings Saved.", "No changes were detected.",
                                         "MAC Address changed successfully."};

class ConsolePrompter : public Prompter {
 public:
  explicit ConsolePrompter(const ConfigRequest& request) : yes_(request.reset), json_(request.json) {}
  void Message(const std::string& text, const std::string& caption) override {
    for (std::string_view report : kReports)
      if (text == report) {
        std::fprintf(json_ ? stderr : stdout, "%s\n", text.c_str());
        return;
      }
    std::fprintf(stderr, "qmxctl: %s: %s\n", caption.c_str(), text.c_str());
  }
  bool Question(const std::string& text, const std::string&) override {
    std::fprintf(stderr, "qmxctl: %s %s\n", text.c_str(), yes_ ? "Yes" : "No (--reset answers Yes)");
    asked_ = true;
    return yes_;
  }
  // A reset was asked for and not made: the radio still needs one.
  bool ResetNeeded() const { return asked_ && !yes_; }

 private:
  bool yes_;
  bool json_;
  bool asked_ = false;
};

ConfigTarget TargetOf(Remote remote) { return remote ? ConfigTarget{1, *remote} : ConfigTarget{}; }

std::string Keys() {
  std::string out;
  for (const Setting& s : Settings())
    if (!s.shownOnly) out += std::string(out.empty() ? "" : ", ") + s.key;
  return out;
}

// Reads every bank of the target into `image`; false after the message.
bool ReadRadio(CommandLayer& link, RadioImage& image, ConfigTarget target) {
  if (ReadBanks(link, image, kAllBanks, target.address, target.index) == kAllBanks) return true;
  std::fprintf(stderr, "qmxctl: %s\n", FailureOf(Operation::ReadRadio)->message.c_str());
  return false;
}

std::vector<SettingText> Texts(const std::vector<Assignment>& assignments) {
  std::vector<SettingText> out;
  for (const Assignment& a : assignments) out.push_back({a.setting, a.value});
  return out;
}

// A profile is a few kilobytes of text; a folder, a device or a pipe is
// none, and neither is anything past this size.
constexpr std::uintmax_t kProfileLimit = 1024 * 1024;

// The whole of `in`, up to the limit, or why not.
std::optional<std::string> ReadProfileStream(std::FILE* in, std::string& text) {
  // Read to one byte past the limit: a file that grew since is caught too.
  text.resize(kProfileLimit + 1);
  text.resize(std::fread(text.data(), 1, text.size(), in));
  if (std::ferror(in) != 0) return std::string("cannot read it: ") + std::strerror(errno);
  if (text.size() > kProfileLimit) return "is larger than 1 MiB, too large for a profile";
  return std::nullopt;
}

// The whole of the regular file at `path`, or why not.
std::optional<std::string> ReadProfileFile(const std::filesystem::path& path, std::string& text) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec) return "cannot read it: " + ec.message();
  if (std::filesystem::is_directory(status)) return "is a folder, not a profile";
  if (!std::filesystem::is_regular_file(status)) return "is not a regular file";
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return std::string("cannot read it: ") + std::strerror(errno);
  auto why = ReadProfileStream(in, text);
  std::fclose(in);
  return why;
}

constexpr const char* kStandardStream = "-";

}  // namespace

std::optional<std::string> CheckAssignments(const std::vector<std::string>& words, std::vector<Assignment>& out) {
  if (words.empty()) return "config set needs KEY=VALUE (keys: " + Keys() + ")";
  const std::vector<std::uint8_t> blank(kImageSize, 0);
  for (const std::string& word : words) {
    const auto eq = word.find('=');
    if (eq == std::string::npos) return "expected KEY=VALUE, not '" + word + "'";
    const std::string key = word.substr(0, eq);
    const Setting* s = FindSetting(key);
    if (!s || s->shownOnly) return "unknown key '" + key + "' (keys: " + Keys() + ")";
    if (std::any_of(out.begin(), out.end(), [s](const Assignment& a) { return a.setting == s; }))
      return key + " given twice";
    const SettingText one{s, word.substr(eq + 1)};
    std::string error;
    if (!WritesFor(blank, {&one, 1}, error)) return error;
    out.push_back({s, one.text});
  }
  return std::nullopt;
}

std::optional<std::string> CheckMac(const std::string& text) {
  if (ParseMacText(text)) return std::nullopt;
  return "bad MAC address '" + text + "' (eight hex pairs, like 00:11:22:33:44:55:66:77)";
}

std::optional<std::string> CheckFccMode(const std::string& text, int& mode) {
  if (text == "1" || text == "2" || text == "4") {
    mode = text[0] - '0';
    return std::nullopt;
  }
  return "bad FCC mode '" + text + "' (1, 2 or 4)";
}

std::optional<std::string> CheckProfileTarget(const WorkDir& dir, const std::string& file) {
  if (file == kStandardStream) return std::nullopt;
  if (const auto target = FileToWrite(file, dir.Dir()); !target) return target.reason();
  return std::nullopt;
}

std::optional<std::string> CheckProfile(const WorkDir& dir, const std::string& file, std::vector<Assignment>& out) {
  std::string text;
  const auto why = file == kStandardStream ? ReadProfileStream(stdin, text) : ReadProfileFile(dir.File(file), text);
  if (why) return (file == kStandardStream ? std::string("standard input") : file) + ": " + *why;
  ProfileError error;
  const auto values = ParseProfile(text, error);
  if (!values) return file + ":" + std::to_string(error.line) + ": " + error.text;
  if (values->empty()) return file + ": no settings in it";
  for (const SettingText& v : *values) out.push_back({v.setting, v.text});
  return std::nullopt;
}

int RunConfigSave(CommandLayer& link, const WorkDir& dir, const std::string& file, const ConfigRequest& request) {
  const ConfigTarget target = TargetOf(request.remote);
  RadioImage image;
  if (!ReadRadio(link, image, target)) return kExitRadio;
  const std::string profile = FormatProfile(image.Slot(target.index), ProfileTimestamp());
  if (file == kStandardStream) {
    std::fputs(profile.c_str(), stdout);  // a failed write is the caller's exit status
    return kExitOk;
  }
  const Done written = WriteFileReplacing(file, profile, dir.Dir());
  if (!written) {
    std::fprintf(stderr, "qmxctl: %s\n", written.reason().c_str());
    return kExitRadio;
  }
  if (request.json) PrintJson({{"file", file}, {"bytes", profile.size()}});
  return kExitOk;
}

int RunConfigDiff(CommandLayer& link, const std::vector<Assignment>& profile, const ConfigRequest& request) {
  const ConfigTarget target = TargetOf(request.remote);
  RadioImage image;
  if (!ReadRadio(link, image, target)) return kExitDiffTrouble;
  const auto texts = Texts(profile);
  const auto differences = DiffProfile(image.Slot(target.index), texts);
  if (request.json) {
    Json list = Json::array();
    for (const ProfileDifference& d : differences)
      list.push_back({{"key", d.setting->key}, {"radio", JsonText(d.radio)}, {"file", JsonText(d.file)}});
    PrintJson({{"differences", list}});
  } else {
    for (const ProfileDifference& d : differences)
      std::printf("%s: %s -> %s\n", d.setting->key, d.radio.c_str(), d.file.c_str());
  }
  return differences.empty() ? kExitOk : kExitRadio;
}

int RunConfigSet(CommandLayer& link, SerialTransport& transport, const std::vector<Assignment>& assignments,
                 const ConfigRequest& request) {
  const ConfigTarget target = TargetOf(request.remote);
  RadioImage image;
  if (!ReadRadio(link, image, target)) return kExitRadio;
  const std::vector<SettingText> wanted = ProfileValues(Texts(assignments));
  std::string error;
  const auto writes = WritesFor(image.Slot(target.index), wanted, error);
  if (!writes) {  // checked before the port was opened; kept for safety
    std::fprintf(stderr, "qmxctl: %s\n", error.c_str());
    return kExitRadio;
  }
  ConsolePrompter prompter(request);
  TransportLinePort line(transport);
  Json written = Json::array();
  const ApplyResult r = ApplyConfiguration(link, prompter, line, target, *writes, [&](const ConfigWrite& w) {
    for (const Setting* s : w.Changes()) {
      if (request.json) written.push_back(s->key);
      else std::printf("%s written\n", s->key);
    }
  });
  const bool ok = (r.outcome == ApplyOutcome::Saved || r.outcome == ApplyOutcome::NoChanges) && r.failed == 0;
  if (ok && request.json)
    PrintJson({{"written", written},
               {"saved", r.outcome == ApplyOutcome::Saved},
               {"reset", r.reset},
               {"reset_needed", prompter.ResetNeeded()}});
  return ok ? kExitOk : kExitRadio;
}

int RunDefaults(CommandLayer& link, SerialTransport& transport, const ConfigRequest& request) {
  ConsolePrompter prompter(request);
  TransportLinePort line(transport);
  const DefaultsOutcome outcome = DefaultRadio(link, prompter, line, TargetOf(request.remote));
  if (outcome != DefaultsOutcome::Done && outcome != DefaultsOutcome::NotReset) return kExitRadio;
  const bool reset = outcome == DefaultsOutcome::Done;
  if (request.json)
    PrintJson({{"defaults_loaded", true}, {"reset", reset}, {"reset_needed", !reset}});
  else if (reset)
    std::printf("Factory defaults loaded; the radio was reset%s.\n",
                request.remote ? "" : " and talks at 9600 baud, no parity, one stop bit");
  else
    std::printf("Factory defaults loaded; they take effect at the radio's next reset.\n");
  return kExitOk;
}

int RunMac(CommandLayer& link, const std::string& text, const ConfigRequest& request) {
  ConsolePrompter prompter(request);
  if (!WriteMacAddressShown(link, prompter, text)) return kExitRadio;
  if (request.json) PrintJson({{"mac_address", MacText(*ParseMacText(text))}});
  return kExitOk;
}

int RunFcc(CommandLayer& link, int mode, const ConfigRequest& request) {
  ConsolePrompter prompter(request);
  if (!SetFccModeShown(link, prompter, TargetOf(request.remote), mode)) return kExitRadio;
  if (request.json) PrintJson({{"fcc_mode", mode}});
  else std::printf("FCC mode %d set.\n", mode);
  return kExitOk;
}

}  // namespace qmx::ctl

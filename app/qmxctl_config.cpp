// qmxctl config set, defaults, mac and fcc: the configuration dialog's
// operations on the command line. What the dialog shows in a box is printed:
// reports of success on standard output, failures on standard error; a
// question is printed with the answer given (--reset answers Yes).
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

#include "config/config_writer.h"
#include "config/profile.h"
#include "config/register_map.h"
#include "config/settings_model.h"
#include "link/banks.h"
#include "link/command_layer.h"
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
  explicit ConsolePrompter(bool yes) : yes_(yes) {}
  void Message(const std::string& text, const std::string& caption) override {
    for (std::string_view report : kReports)
      if (text == report) {
        std::printf("%s\n", text.c_str());
        return;
      }
    std::fprintf(stderr, "qmxctl: %s: %s\n", caption.c_str(), text.c_str());
  }
  bool Question(const std::string& text, const std::string&) override {
    std::printf("%s %s\n", text.c_str(), yes_ ? "Yes" : "No (--reset answers Yes)");
    return yes_;
  }

 private:
  bool yes_;
};

ConfigTarget TargetOf(Remote remote) { return remote ? ConfigTarget{1, *remote} : ConfigTarget{}; }

std::string Keys() {
  std::string out;
  for (const Setting& s : Settings())
    if (s.failure) out += std::string(out.empty() ? "" : ", ") + s.key;
  return out;
}

// Reads every bank of the target into `image`; false after the message.
bool ReadRadio(CommandLayer& link, RadioImage& image, ConfigTarget target) {
  if (ReadBanks(link, image, kAllBanks, target.address, target.index) == kAllBanks) return true;
  std::fprintf(stderr, "qmxctl: Could not read data.  Please try again.\n");
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

// The whole of the regular file at `path`, or why not.
std::optional<std::string> ReadProfileFile(const std::filesystem::path& path, std::string& text) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec) return "cannot read it: " + ec.message();
  if (std::filesystem::is_directory(status)) return "is a folder, not a profile";
  if (!std::filesystem::is_regular_file(status)) return "is not a regular file";
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return std::string("cannot read it: ") + std::strerror(errno);
  // Read to one byte past the limit: a file that grew since is caught too.
  text.resize(kProfileLimit + 1);
  text.resize(std::fread(text.data(), 1, text.size(), in));
  const bool failed = std::ferror(in) != 0;
  const int reason = errno;
  std::fclose(in);
  if (failed) return std::string("cannot read it: ") + std::strerror(reason);
  if (text.size() > kProfileLimit) return "is larger than 1 MiB, too large for a profile";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckAssignments(const std::vector<std::string>& words, std::vector<Assignment>& out) {
  if (words.empty()) return "config set needs KEY=VALUE (keys: " + Keys() + ")";
  const std::vector<std::uint8_t> blank(kImageSize, 0);
  for (const std::string& word : words) {
    const auto eq = word.find('=');
    if (eq == std::string::npos) return "expected KEY=VALUE, not '" + word + "'";
    const std::string key = word.substr(0, eq);
    const Setting* s = FindSetting(key);
    if (!s || !s->failure) return "unknown key '" + key + "' (keys: " + Keys() + ")";
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
  if (const auto target = FileToWrite(file, dir.Dir()); !target) return target.reason();
  return std::nullopt;
}

std::optional<std::string> CheckProfile(const WorkDir& dir, const std::string& file, std::vector<Assignment>& out) {
  std::string text;
  if (auto why = ReadProfileFile(dir.File(file), text)) return file + ": " + *why;
  ProfileError error;
  const auto values = ParseProfile(text, error);
  if (!values) return file + ":" + std::to_string(error.line) + ": " + error.text;
  if (values->empty()) return file + ": no settings in it";
  for (const SettingText& v : *values) out.push_back({v.setting, v.text});
  return std::nullopt;
}

int RunConfigSave(CommandLayer& link, const WorkDir& dir, const std::string& file, Remote remote) {
  const ConfigTarget target = TargetOf(remote);
  RadioImage image;
  if (!ReadRadio(link, image, target)) return kExitRadio;
  const Done written = WriteFileReplacing(file, FormatProfile(image.Slot(target.index), ProfileTimestamp()), dir.Dir());
  if (!written) {
    std::fprintf(stderr, "qmxctl: %s\n", written.reason().c_str());
    return kExitRadio;
  }
  return kExitOk;
}

int RunConfigDiff(CommandLayer& link, const std::vector<Assignment>& profile, Remote remote, bool json) {
  const ConfigTarget target = TargetOf(remote);
  RadioImage image;
  if (!ReadRadio(link, image, target)) return kExitDiffTrouble;
  const auto texts = Texts(profile);
  const auto differences = DiffProfile(image.Slot(target.index), texts);
  if (json) {
    Json list = Json::array();
    for (const ProfileDifference& d : differences)
      list.push_back({{"key", d.setting->key}, {"radio", d.radio}, {"file", d.file}});
    PrintJson({{"differences", list}});
  } else {
    for (const ProfileDifference& d : differences)
      std::printf("%s: %s -> %s\n", d.setting->key, d.radio.c_str(), d.file.c_str());
  }
  return differences.empty() ? kExitOk : kExitRadio;
}

int RunConfigSet(CommandLayer& link, SerialTransport& transport, const std::vector<Assignment>& assignments,
                 Remote remote, bool reset) {
  const ConfigTarget target = TargetOf(remote);
  RadioImage image;
  if (!ReadRadio(link, image, target)) return kExitRadio;
  const std::vector<SettingText> wanted = ProfileValues(Texts(assignments));
  std::string error;
  const auto writes = WritesFor(image.Slot(target.index), wanted, error);
  if (!writes) {  // checked before the port was opened; kept for safety
    std::fprintf(stderr, "qmxctl: %s\n", error.c_str());
    return kExitRadio;
  }
  ConsolePrompter prompter(reset);
  TransportLinePort line(transport);
  const ApplyResult r = SendConfiguration(link, prompter, line, target, *writes, [](const ConfigWrite& w) {
    for (const Setting* s : w.Changes()) std::printf("%s written\n", s->key);
  });
  const bool ok = (r.outcome == ApplyOutcome::Saved || r.outcome == ApplyOutcome::NoChanges) && r.failed == 0;
  return ok ? kExitOk : kExitRadio;
}

int RunDefaults(CommandLayer& link, SerialTransport& transport, Remote remote, bool reset) {
  ConsolePrompter prompter(reset);
  TransportLinePort line(transport);
  switch (LoadDefaults(link, prompter, line, TargetOf(remote))) {
    case DefaultsOutcome::Done:
      std::printf("Factory defaults loaded; the radio was reset%s.\n",
                  remote ? "" : " and talks at 9600 baud, no parity, one stop bit");
      return kExitOk;
    case DefaultsOutcome::NotReset:
      std::printf("Factory defaults loaded; they take effect at the radio's next reset.\n");
      return kExitOk;
    default:
      return kExitRadio;
  }
}

int RunMac(CommandLayer& link, const std::string& text) {
  ConsolePrompter prompter(false);
  return WriteMacAddress(link, prompter, text) == MacWriteOutcome::Written ? kExitOk : kExitRadio;
}

int RunFcc(CommandLayer& link, Remote remote, int mode) {
  ConsolePrompter prompter(false);
  if (!SetFccMode(link, prompter, TargetOf(remote), mode)) return kExitRadio;
  std::printf("FCC mode %d set.\n", mode);
  return kExitOk;
}

}  // namespace qmx::ctl

// qmxctl's command line: any words must end in options for a command or in
// a UsageError with its text, never in another exception or a crash; and
// what passes the checks is within what the command can send.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/qmxctl_args.h"
#include "config/register_map.h"

namespace {

// An empty folder of its own to work in (profiles and images named by the
// words are looked for there), and no standard input to wait on ('-').
bool SetUp() {
  char dir[] = "/tmp/qmxctl-args-fuzz-XXXXXX";
  if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) std::abort();
  const int null = ::open("/dev/null", O_RDONLY);
  if (null < 0 || ::dup2(null, 0) < 0) std::abort();
  ::close(null);
  return true;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = SetUp();
  (void)ready;
  // One word a line, after the program's name and a port (a later --port
  // may replace it), so that no word sends the parser to the machine's ports.
  std::vector<std::string> words{"qmxctl", "--port", "sim"};
  std::string word;
  for (std::size_t i = 0; i < size && words.size() < 70; ++i) {
    if (data[i] == '\n') {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (!word.empty()) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  using namespace qmx;
  try {
    ctl::Options o = ctl::ParseArgs(static_cast<int>(words.size()), argv.data());
    if (o.version || o.help) {
      Check(ctl::HelpText(o.command) != nullptr);
      return 0;
    }
    if (o.command.empty()) return 0;
    ctl::ValidateArgs(o);
    Check(!o.port.empty());
    Check(o.seconds >= 0 && o.seconds <= 24 * 3600);
    Check(o.timeoutMs >= 1 && o.timeoutMs <= 600000);
    if (o.command == "get" || o.command == "set") {
      if (const auto bank = FindBank(o.rec.Bank)) Check(o.rec.Register + o.rec.Span <= bank->length);
      else Check(o.command == "set" && o.rec.Bank == 0xFF);
      Check(o.rec.Span >= 1 && o.rec.Span <= 93);
    }
    if (o.command == "send") Check(o.rec.Length >= 1 && o.rec.Length <= 96);
  } catch (const ctl::UsageError& e) {
    Check(!e.text.empty());
  }
  return 0;
}

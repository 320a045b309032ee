// qmxctl: the radio link on the command line. Opens a serial port (or the
// built-in simulated module), puts the radio into protocol mode and runs one
// subcommand. Exit status: 0 success, 1 the radio did not answer or refused,
// 2 bad arguments. Messages go to standard error.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qmxctl_complete.h"
#include "qmxctl_config.h"
#include "config/local_status.h"
#include "config/profile.h"
#include "config/register_map.h"
#include "config/settings_model.h"
#include "link/device_watch.h"
#include "link/number_text.h"
#include "link/failure_text.h"
#include "link/prompter.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "qmxctl_firmware.h"
#include "qmxctl_diag.h"
#include "qmxctl_output.h"
#include "tools/firmware_upgrade.h"
#include "sim/sim_serial_port.h"

namespace qmx {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitRadio = 1;
constexpr int kExitUsage = 2;
constexpr std::uint32_t kDefaultTimeoutMs = 1000;
constexpr std::uint32_t kMaxTimeoutMs = 600000;
constexpr int kRetries = 3;

const char* const kMainHelp =
    "usage: qmxctl [--port PATH|sim] [--baud N] [--parity none|even|odd] [--stop 1|2]\n"
    "              [--timeout MS] [--log] [--json] [--quiet] [--version] COMMAND [ARGS]\n"
    "\n"
    "Talks to a QMX2400 radio in protocol mode. Every command except 'enter'\n"
    "and 'exit' first puts the radio into protocol mode.\n"
    "\n"
    "options:\n"
    "  --port PATH|sim   serial device (default: sim, the built-in simulated module)\n"
    "  --baud N          baud rate (default 9600)\n"
    "  --parity P        none, even or odd (default none)\n"
    "  --stop N          stop bits, 1 or 2 (default 1)\n"
    "  --timeout MS      wait up to MS milliseconds (1-600000) for each reply before a\n"
    "                    retry, in every command (default: 1000, and 2500 for the\n"
    "                    remote forms of reset, defaults and memory save)\n"
    "  --log             write every frame to logfile.dat in the current directory\n"
    "  --json            the result as JSON: status, get, read-all, config show,\n"
    "                    config diff, diag and monitor (one object per line)\n"
    "  --quiet           drop the data and events that arrive during a command\n"
    "                    (they go to standard error otherwise; monitor prints them)\n"
    "\n"
    "commands:\n"
    "  enter                              enter protocol mode\n"
    "  exit                               leave protocol mode\n"
    "  reset                              software reset of the local radio\n"
    "  get BANK REG SPAN [--remote ADDR]  read registers, print them as hex\n"
    "  set BANK REG HEXBYTES [--remote ADDR]\n"
    "                                     write registers (HEXBYTES like 0A0B or 0a:0b)\n"
    "  read-all [--remote ADDR]           every bank as a hex dump\n"
    "  status                             the local radio's status panel\n"
    "  config show [--remote ADDR]        every setting as 'key = value'\n"
    "  config set KEY=VALUE... [--remote ADDR] [--reset]\n"
    "                                     write the settings that differ, then save\n"
    "  config save|diff|load FILE [--remote ADDR] [--reset]\n"
    "                                     settings to a profile, differences, load\n"
    "  defaults [--remote ADDR] [--reset] load the factory defaults\n"
    "  mac XX:XX:XX:XX:XX:XX:XX:XX        write the local radio's MAC address\n"
    "  fcc 1|2|4 [--remote ADDR]          put the radio into an FCC test mode\n"
    "  send ADDR HEX...|--text TEXT       send radio data, print TX Status and LQI\n"
    "  monitor SECONDS [--reconnect] [--timestamps]\n"
    "                                     print received data and network events\n"
    "                                     (the built-in module's network is live)\n"
    "  firmware program|verify|save FILE [--recover]\n"
    "                                     the firmware through the boot code: an\n"
    "                                     image to program begins with a 128-byte\n"
    "                                     header; one written by save has none\n"
    "                                     (verify it with 'firmware verify --raw')\n"
    "  diag scan ADDRS [--sweeps N] [--length L] [--delay MS]\n"
    "                                     link quality of addresses 1-60 (like 1-60\n"
    "                                     or 1,3,7): RX and TX percent and LQI\n"
    "  diag poll [--count N] [--length L] [--delay MS]\n"
    "                                     packet success rate and LQI of the base\n"
    "\n"
    "Numbers may be decimal or hex (0x12, x12, $12). 'qmxctl COMMAND --help'\n"
    "describes one command. Standard output carries the command's result only;\n"
    "messages, progress and the traffic that arrives meanwhile go to standard error.\n"
    "\n"
    "exit status: 0 success; 1 the radio did not answer or refused (config diff: the\n"
    "radio differs from the profile); 2 bad arguments or a bad file (config diff:\n"
    "also any trouble, as diff(1))\n";

const std::map<std::string, const char*> kCommandHelp{
    {"enter",
     "usage: qmxctl [options] enter\nPuts the radio into protocol mode (3 retries, --timeout each).\n"
     "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
    {"exit",
     "usage: qmxctl [options] exit\nLeaves protocol mode (transparent mode follows).\n"
     "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
    {"reset",
     "usage: qmxctl [options] reset\nSoftware reset of the local radio (one try, 1000 ms or --timeout).\n"
     "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
    {"get",
     "usage: qmxctl [options] get BANK REG SPAN [--remote ADDR]\n"
     "Reads SPAN registers from REG of BANK, of the local radio or of the remote\n"
     "radio at network address ADDR, and prints them as hex (a remote's LQI\n"
     "below). --json: {\"bank\": N, \"register\": N, \"data\": \"HEX\"[, \"lqi\": N]}.\n"
     "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
    {"set",
     "usage: qmxctl [options] set BANK REG HEXBYTES [--remote ADDR]\n"
     "Writes the bytes (hex digits, optionally separated by ':' or ' ') from REG\n"
     "of BANK, locally or on the remote radio at ADDR.\n"
     "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
    {"read-all",
     "usage: qmxctl [options] read-all [--remote ADDR]\n"
     "Reads banks 0-6 and 16 and prints each as a hex dump. --json:\n"
     "{\"banks\": [{\"bank\": N, \"length\": N, \"data\": \"HEX\" or null}...]}.\n"
     "Exit 0 done, 1 a bank could not be read, 2 bad arguments.\n"},
    {"status",
     "usage: qmxctl [options] status\n"
     "Reads every bank of the local radio and prints device mode, PAN ID,\n"
     "channel, network address, MAC address, firmware version, link status and\n"
     "encryption. --json: one object, the labels as keys (\"Device Mode\": \"Base\").\n"
     "A radio in its boot code (no working firmware) prints 'boot code' (--json:\n"
     "{\"state\": \"boot code\"}) and exits 0.\n"
     "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
    {"config",
     "usage: qmxctl [options] config show [--remote ADDR|--address ADDR]\n"
     "       qmxctl [options] config set KEY=VALUE... [--remote ADDR|--address ADDR] [--reset]\n"
     "show: reads every bank of the local radio, or of the remote radio at network\n"
     "address ADDR, and prints each setting on its own line as 'key = value',\n"
     "in the order the configuration dialog writes them.\n"
     "set: reads the radio, writes (in that order) only the settings whose value\n"
     "differs from what it holds, values as 'config show' prints them, then saves\n"
     "them. A baud rate, parity or stop bits of the local radio switch the port\n"
     "too. When a setting that the radio takes up only at start was written\n"
     "(device-mode, initial-pan-id, sleep-mode, security-mode, security-key,\n"
     "channel-list, protocol-mode), --reset resets it; without it, it is not reset.\n"
     "\n"
     "       qmxctl [options] config save FILE [--remote ADDR]\n"
     "       qmxctl [options] config diff FILE [--remote ADDR]\n"
     "       qmxctl [options] config load FILE [--remote ADDR] [--reset]\n"
     "save: the radio's settings as 'key = value' lines below a comment header\n"
     "(model, firmware, MAC address, date). diff: the settings whose value in FILE\n"
     "differs, as 'key: radio -> file'. load: writes those as set does. A profile\n"
     "with an unknown key, a bad value or another model is refused with its line\n"
     "number before anything is sent. The security key is saved as asterisks,\n"
     "which leave the radio's key as it is; \"N/A\" leaves a setting as it is too.\n"
     "A text with blanks at its ends or other special bytes is saved in double\n"
     "quotes (\\\" \\\\ and \\xNN inside), a list code with no name as its number.\n"
     "diff lists exactly what load would write; loading a profile saved from the\n"
     "same radio writes nothing.\n"
     "--json: show gives {\"KEY\": \"VALUE\"...}; diff gives {\"differences\":\n"
     "[{\"key\": K, \"radio\": V, \"file\": V}...]}.\n"
     "Exit: show, set, save, load: 0 done, 1 the radio did not answer or refused,\n"
     "2 bad arguments or a bad profile. diff, as diff(1): 0 the radio holds the\n"
     "profile, 1 it differs, 2 any trouble.\n"},
    {"defaults",
     "usage: qmxctl [options] defaults [--remote ADDR|--address ADDR] [--reset]\n"
     "Loads the factory defaults into the radio's working settings. With --reset\n"
     "the radio is reset so that they take effect, and (local radio) the port\n"
     "goes to 9600 baud, no parity, one stop bit.\n"
     "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
    {"mac",
     "usage: qmxctl [options] mac XX:XX:XX:XX:XX:XX:XX:XX\n"
     "Writes the local radio's MAC address (most significant pair first, any\n"
     "separator) behind a factory override, and saves it.\n"
     "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
    {"fcc",
     "usage: qmxctl [options] fcc 1|2|4 [--remote ADDR|--address ADDR]\n"
     "Puts the radio into FCC test mode 1, 2 or 4 (behind a factory override).\n"
     "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
    {"send",
     "usage: qmxctl [options] send ADDR HEX... | send ADDR --text TEXT\n"
     "Sends radio data to network address ADDR and prints the TX Status and the\n"
     "acknowledgement LQI. Exit 0 acknowledged, 1 when the radio did not answer or\n"
     "reported no acknowledgement, 2 bad arguments.\n"},
    {"monitor",
     "usage: qmxctl [options] monitor SECONDS [--reconnect] [--timestamps]\n"
     "Prints received data and network events for SECONDS seconds. Ends at once\n"
     "with exit status 1 when the device vanishes; with --reconnect it waits for\n"
     "the device (by its /dev/serial/by-id name when it has one) to return and\n"
     "goes on at the same line settings. --timestamps starts each data line with\n"
     "its time (ISO 8601, local, milliseconds). With --json each line is one\n"
     "object: {\"type\": \"data\", \"address\": N, \"data\": \"HEX\", \"lqi\": N} or\n"
     "{\"type\": \"event\", \"lines\": [TEXT...]}, with \"time\" under --timestamps.\n"
     "Exit 0 when the time is up, 1 when the device went away.\n"},
    {"firmware",
     "usage: qmxctl [options] firmware program FILE [--recover] | verify [--raw] FILE | save FILE\n"
     "Resets the radio into its boot code (38400 8N1) and programs FILE into it,\n"
     "compares its image with FILE, or saves its image to FILE; then the radio's\n"
     "line and protocol mode again. A progress bar goes to standard error when it\n"
     "is a terminal.\n"
     "A radio whose upgrade was cut short stays in its boot code, without working\n"
     "firmware: every command then says so and exits 1. program --recover programs\n"
     "it from there (no reset, no protocol mode first), then reads it in full.\n"
     "Files: a firmware image as distributed begins with a 128-byte header, which\n"
     "the boot code takes in and does not store. program takes such a file, and\n"
     "verify compares the radio's image with it from the file's 129th byte on.\n"
     "A file written by save has no header (it is the radio's image, its last\n"
     "block padded): verify it with --raw, which compares from the first byte; it\n"
     "cannot be programmed as it is, so --raw is refused for program.\n"
     "Exit 1 when the radio did not answer or the operation failed, 2 when FILE\n"
     "cannot be read, is too large to program (132000 bytes or more) or its folder\n"
     "does not exist.\n"},
    {"diag",
     "usage: qmxctl [options] diag scan ADDRS [--sweeps N] [--length L] [--delay MS]\n"
     "       qmxctl [options] diag poll [--count N] [--length L] [--delay MS]\n"
     "Measures the radio link as the Diagnostics window does, with test packets of\n"
     "L data bytes (0-96, default 16) and MS milliseconds (default 0) after each.\n"
     "scan: sends to each address of ADDRS (1-60, like 1-60 or 1,3,7) in turn for N\n"
     "sweeps (default 1); every address 1-60 not chosen still costs one delay. Prints\n"
     "per address 'Addr A RX Percent R, TX Percent T, LQI Q' as diagfile.dat holds\n"
     "it: R acknowledged, T answered by the local radio.\n"
     "poll: sends N packets (default 10) to the base, address 0x0000, 10 ms plus the\n"
     "delay apart, and prints 'LQI Q,Packet Success Rate S%'.\n"
     "--json: scan gives {\"addresses\": [{\"address\": A, \"rx_percent\": R,\n"
     "\"tx_percent\": T, \"lqi\": Q}...]}; poll gives {\"lqi\": Q, \"success_percent\": S}.\n"
     "Exit 0 done, 1 when the local radio answered none of the packets or (poll)\n"
     "the base answered none, 2 bad arguments.\n"},
};

struct UsageError {
  std::string text;
  // The arguments were right, what a file holds is not: no pointer to --help.
  bool content = false;
};

std::uint32_t ParseNumber(const std::string& text, const char* what, std::uint32_t max) {
  std::int32_t v = 0;
  if (!TryTextToInt(text, v) || v < 0 || static_cast<std::uint32_t>(v) > max)
    throw UsageError{std::string("bad ") + what + ": '" + text + "'"};
  return static_cast<std::uint32_t>(v);
}

std::vector<std::uint8_t> ParseHexBytes(const std::vector<std::string>& words) {
  std::string digits;
  for (const auto& w : words)
    for (char c : w) {
      if (c == ':' || c == ' ' || c == ',' || c == '-') continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) throw UsageError{"bad hex bytes: '" + w + "'"};
      digits += c;
    }
  if (digits.empty() || digits.size() % 2 != 0) throw UsageError{"hex bytes need an even, non-zero number of digits"};
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

std::string HexDump(std::span<const std::uint8_t> bytes, std::size_t firstOffset = 0) {
  std::string out;
  char buf[16];
  for (std::size_t i = 0; i < bytes.size(); i += 16) {
    std::snprintf(buf, sizeof buf, "  %02zX:", firstOffset + i);
    out += buf;
    for (std::size_t j = i; j < bytes.size() && j < i + 16; ++j) out += " " + Hex2(bytes[j]);
    out += "\n";
  }
  return out;
}

struct Options {
  std::string port = "sim";
  LineSettings line{9600, 8, parity::None, stopbits::One, false};
  bool log = false;
  bool reconnect = false;  // monitor: wait for a lost device to return
  double timeoutMs = kDefaultTimeoutMs;
  std::string command;
  std::vector<std::string> args;
  std::optional<std::uint16_t> remote;
  std::optional<std::string> text;
  bool help = false;
  bool reset = false;
  bool timeoutGiven = false;
  bool json = false;        // results as JSON
  bool quiet = false;       // traffic that is not the result goes nowhere
  bool timestamps = false;  // monitor: ISO 8601 time before each data line
  // Filled from the command's arguments before anything is opened.
  PacketRecord rec;       // get, set, send
  double seconds = 0;     // monitor
  FirmwareRequest firmware;
  std::vector<ctl::Assignment> assignments;  // config set
  int fccMode = 0;                           // fcc
  // diag: the option texts, then what they mean.
  std::optional<std::string> sweeps, count, length, delay;
  DiagRequest diag;
};

Options ParseArgs(int argc, char** argv) {
  Options o;
  int i = 1;
  auto value = [&](const char* flag) -> std::string {
    if (i + 1 >= argc) throw UsageError{std::string(flag) + " needs a value"};
    return argv[++i];
  };
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      std::printf("qmxctl %s\n", QMX_VERSION);
      std::exit(0);
    } else if (a == "--port") {
      o.port = value("--port");
    } else if (a == "--baud") {
      o.line.baudRate = ParseNumber(value("--baud"), "baud rate", 4000000);
      if (o.line.baudRate == 0) throw UsageError{"bad baud rate: 0"};
    } else if (a == "--parity") {
      std::string p = value("--parity");
      if (p == "none") o.line.parity = parity::None;
      else if (p == "even") o.line.parity = parity::Even;
      else if (p == "odd") o.line.parity = parity::Odd;
      else throw UsageError{"bad parity: '" + p + "'"};
    } else if (a == "--stop") {
      std::string s = value("--stop");
      if (s == "1") o.line.stopBits = stopbits::One;
      else if (s == "2") o.line.stopBits = stopbits::Two;
      else throw UsageError{"bad stop bits: '" + s + "'"};
    } else if (a == "--timeout") {
      o.timeoutMs = ParseNumber(value("--timeout"), "time-out", kMaxTimeoutMs);
      if (o.timeoutMs == 0) throw UsageError{"bad time-out: 0 (1-" + std::to_string(kMaxTimeoutMs) + " ms)"};
      o.timeoutGiven = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--timestamps") {
      o.timestamps = true;
    } else if (a == "--reset") {
      o.reset = true;
    } else if (a == "--log") {
      o.log = true;
    } else if (a == "--reconnect") {
      o.reconnect = true;
    } else if (a == "--remote" || a == "--address") {
      o.remote = static_cast<std::uint16_t>(ParseNumber(value("--remote"), "network address", 0xFFFF));
    } else if (a == "--text") {
      o.text = value("--text");
    } else if (a == "--sweeps") {
      o.sweeps = value("--sweeps");
    } else if (a == "--count") {
      o.count = value("--count");
    } else if (a == "--length") {
      o.length = value("--length");
    } else if (a == "--delay") {
      o.delay = value("--delay");
    } else if (a == "--raw") {
      o.firmware.raw = true;
    } else if (a == "--recover") {
      o.firmware.recover = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      throw UsageError{"unknown option " + a};
    } else if (o.command.empty()) {
      o.command = a;
    } else {
      o.args.push_back(a);
    }
  }
  return o;
}

void RequireArgs(const Options& o, std::size_t min, std::size_t max) {
  if (o.args.size() < min || o.args.size() > max) throw UsageError{"wrong number of arguments for " + o.command};
}

class Session {
 public:
  explicit Session(const Options& o) : options_(o), dir_(std::filesystem::current_path()) {
    // The built-in module's network is live only for 'monitor': other
    // commands print just their answers.
    const auto network = sim::LiveNetwork(std::chrono::seconds(o.command == "monitor" ? 5 : 0));
    PortFactory factory = sim::MakeSimPortFactory(std::make_shared<sim::SimModule>(network),
                                                  [](const std::string&) { return MakePosixSerialPort(); });
    // monitor's result is the traffic; for the others it is a side show.
    const bool monitor = o.command == "monitor";
    sink_.Configure(monitor ? stdout : (o.quiet ? nullptr : stderr), monitor && o.json, monitor && o.timestamps);
    link_ = std::make_unique<RadioLink>(factory, dir_, prompter_, waiter_, sink_);
    link_->options.logData = o.log;
    if (o.timeoutGiven) link_->commands.SetReplyTimeoutMs(o.timeoutMs);
    link_->SetPortLostListener([this] {
      std::lock_guard lock(mutex_);
      lost_ = true;
      cv_.notify_all();
    });
  }

  int Run() {
    if (options_.log) link_->log.LogHeader();
    if (!ShowPortFailure(prompter_, link_->transport.OpenCommPort(options_.line, options_.port, true)))
      return NoRadio();
    node_ = NodeOf(options_.port);
    link_->parser.Start();
    const std::string& c = options_.command;
    if (c == "enter") return Enter();
    if (c == "exit") return Check(link_->commands.ExitProtocolMode(options_.timeoutMs, kRetries), "Exit Protocol Mode");
    if (c == "firmware" && options_.firmware.recover) return RunFirmware(*link_, options_.firmware);
    if (Enter() == kExitOk) {
      if (c == "reset") return Check(link_->commands.SoftwareReset(), "Software Reset");
      if (c == "get") return Get();
      if (c == "set") return Set();
      if (c == "read-all") return ReadAll();
      if (c == "status") return Status();
      if (c == "config" && options_.args[0] == "save")
        return ctl::RunConfigSave(link_->commands, dir_, options_.args[1], options_.remote);
      if (c == "config" && options_.args[0] == "diff")
        return ctl::RunConfigDiff(link_->commands, options_.assignments, options_.remote, options_.json);
      if (c == "config" && (options_.args[0] == "set" || options_.args[0] == "load"))
        return ctl::RunConfigSet(link_->commands, link_->transport, options_.assignments, options_.remote,
                                 options_.reset);
      if (c == "config") return ConfigShow();
      if (c == "defaults") return ctl::RunDefaults(link_->commands, link_->transport, options_.remote, options_.reset);
      if (c == "mac") return ctl::RunMac(link_->commands, options_.args[0]);
      if (c == "fcc") return ctl::RunFcc(link_->commands, options_.remote, options_.fccMode);
      if (c == "send") return Send();
      if (c == "monitor") return Monitor();
      if (c == "firmware") return RunFirmware(*link_, options_.firmware);
      if (c == "diag") return RunDiag(link_->commands, waiter_.Time(), options_.diag, options_.json);
    }
    if (bootCode_ && c == "status") {
      if (options_.json) ctl::PrintJson({{"state", "boot code"}});
      else std::printf("boot code\n");
      return kExitOk;
    }
    return NoRadio();
  }

 private:
  // No radio to talk to: 1, but 2 for config diff, which answers as diff(1)
  // does (its 1 means "differs").
  int NoRadio() const {
    return options_.command == "config" && options_.args[0] == "diff" ? kExitUsage : kExitRadio;
  }

  int Check(const Done& result, const char* what) { return result ? kExitOk : NoAnswer(what); }
  int NoAnswer(const char* what) {
    std::fprintf(stderr, "qmxctl: %s: the radio did not answer\n", what);
    return kExitRadio;
  }
  // Protocol mode; a radio that does not answer may be in its boot code.
  int Enter() {
    if (link_->commands.EnterProtocolMode(options_.timeoutMs, kRetries)) return kExitOk;
    bootCode_ = LookForBootCode(*link_);
    if (!bootCode_) return NoAnswer("Enter Protocol Mode");
    std::fprintf(stderr, "qmxctl: %s Program a firmware image with 'qmxctl --port %s firmware program FILE --recover'.\n",
                 BootCodeNotice(options_.port).c_str(), options_.port.c_str());
    return kExitRadio;
  }

  int Get() {
    PacketRecord rec = options_.rec;
    const Result<int> n =
        link_->commands.GetRegister(options_.timeoutMs, rec, kRetries, RadioAddress::Of(options_.remote));
    if (!n) return Refused("Get Register", rec);
    std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(*n), rec.Data.size());
    if (options_.json) {
      ctl::Json j{{"bank", rec.Bank}, {"register", rec.Register}, {"data", ctl::HexString({rec.Data.data(), count})}};
      if (options_.remote) j["lqi"] = rec.Lqi;
      ctl::PrintJson(j);
      return kExitOk;
    }
    std::printf("%s", HexDump({rec.Data.data(), count}, rec.Register).c_str());
    if (options_.remote) std::printf("LQI %s\n", HexText(rec.Lqi, 2).c_str());
    return kExitOk;
  }

  int Set() {
    PacketRecord rec = options_.rec;
    if (!link_->commands.SetRegister(options_.timeoutMs, rec, kRetries, RadioAddress::Of(options_.remote)))
      return Refused("Set Register", rec);
    return kExitOk;
  }

  int Refused(const char* what, const PacketRecord& reply) {
    if (options_.remote && reply.PacketType != 0 && reply.TxStatus != txstatus::Acknowledged) {
      const std::string_view meaning = txstatus::Meaning(reply.TxStatus);
      std::fprintf(stderr, "qmxctl: %s: TX Status %s (%s)\n", what, HexText(reply.TxStatus, 2).c_str(),
                   meaning.empty() ? "no acknowledgement" : std::string(meaning).c_str());
      return kExitRadio;
    }
    return NoAnswer(what);
  }

  int ReadAll() {
    RadioIndex slot = options_.remote ? 1 : 0;
    std::uint16_t address = options_.remote.value_or(0);
    BankMask got = ReadBanks(link_->commands, image_, kAllBanks, address, slot);
    if (options_.json) {
      ctl::Json banks = ctl::Json::array();
      for (const BankInfo& b : kBanks) {
        ctl::Json j{{"bank", b.bank}, {"length", b.length}};
        j["data"] = (got & b.maskBit) ? ctl::Json(ctl::HexString(image_.Bank(slot, b))) : ctl::Json(nullptr);
        banks.push_back(j);
      }
      ctl::PrintJson({{"banks", banks}});
    }
    for (const BankInfo& b : kBanks) {
      if (options_.json) break;
      std::printf("Bank %u (%u bytes)%s\n", b.bank, b.length, (got & b.maskBit) ? "" : " - read failed");
      if (got & b.maskBit) std::printf("%s", HexDump(image_.Bank(slot, b)).c_str());
    }
    if (got != kAllBanks) {
      std::fprintf(stderr, "qmxctl: Could not read data.  Please try again.\n");
      return kExitRadio;
    }
    return kExitOk;
  }

  int Status() {
    if (ReadBanks(link_->commands, image_, kAllBanks, 0, 0) != kAllBanks) {
      std::fprintf(stderr, "qmxctl: Could not get data from radio.  Please try again.\n");
      return kExitRadio;
    }
    auto rows = StatusRows(FormatLocalStatus(image_, 0));
    if (options_.json) {
      ctl::Json j = ctl::Json::object();
      for (std::size_t i = 0; i < rows.size(); ++i) j[kLocalStatusLabels[i]] = rows[i];
      ctl::PrintJson(j);
      return kExitOk;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) std::printf("%-14s%s\n", kLocalStatusLabels[i], rows[i].c_str());
    return kExitOk;
  }

  int ConfigShow() {
    const RadioIndex slot = options_.remote ? 1 : 0;
    const std::uint16_t address = options_.remote.value_or(0);
    if (ReadBanks(link_->commands, image_, kAllBanks, address, slot) != kAllBanks) {
      std::fprintf(stderr, "qmxctl: Could not read data.  Please try again.\n");
      return kExitRadio;
    }
    ctl::Json j = ctl::Json::object();
    for (const Setting& s : Settings()) {
      if (!s.failure) continue;  // shown only: neither settable nor saved
      const std::string value = ShowText(s, image_.Slot(slot));
      if (options_.json)
        j[s.key] = value;
      else
        std::printf("%s = %s\n", s.key, value.c_str());
    }
    if (options_.json) ctl::PrintJson(j);
    return kExitOk;
  }

  int Send() {
    PacketRecord rec = options_.rec;
    if (!link_->commands.TxData(options_.timeoutMs, rec, kRetries)) return NoAnswer("TX Data");
    const std::string meaning(txstatus::Meaning(rec.TxStatus));
    std::printf("TX Status %s (%s)  LQI %s\n", HexText(rec.TxStatus, 2).c_str(),
                meaning.empty() ? "unknown" : meaning.c_str(), HexText(rec.Lqi, 2).c_str());
    return rec.TxStatus == txstatus::Acknowledged ? kExitOk : kExitRadio;
  }

  // Until the time is up. A device that goes away ends it, or with
  // --reconnect is waited for (watching its directory, or its by-id name)
  // and reopened at the same line, in protocol mode again.
  int Monitor() {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(options_.seconds));
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!cv_.wait_until(lock, end, [this] { return lost_ || returned_; })) return kExitOk;
      if (returned_) {
        returned_ = false;
        lock.unlock();
        const bool back = Reopen();
        lock.lock();
        if (!back) WaitForReturn();
        continue;
      }
      lost_ = false;
      if (!options_.reconnect) {
        std::fprintf(stderr, "qmxctl: the device %s has gone away\n", options_.port.c_str());
        return kExitRadio;
      }
      WaitForReturn();
    }
  }

  // Called with mutex_ held.
  void WaitForReturn() {
    const std::string name = IdentifyDevice(options_.port).WatchName();
    std::fprintf(stderr, "qmxctl: the device %s has gone away; waiting for %s to return\n", options_.port.c_str(),
                 name.c_str());
    DeviceWatcher::Callbacks callbacks;
    callbacks.returned = [this] {
      std::lock_guard guard(mutex_);
      returned_ = true;
      cv_.notify_all();
    };
    callbacks.noAccess = [name] {
      std::fprintf(stderr, "qmxctl: %s is back, but this user may not read and write it; still waiting\n",
                   name.c_str());
    };
    watcher_.Start(name, node_, std::move(callbacks));
    watchName_ = name;
  }

  bool Reopen() {
    // Whatever happens, this node has had its chance: a failure waits for
    // the next one.
    node_ = NodeOf(watchName_);
    const Done opened = link_->transport.OpenCommPort(options_.line, watchName_, true);
    if (!ShowPortFailure(prompter_, opened) || Enter() != kExitOk) return false;
    std::fprintf(stderr, "qmxctl: reconnected to %s\n", watchName_.c_str());
    return true;
  }

  const Options& options_;
  WorkDir dir_;
  StderrPrompter prompter_;
  CondVarWaiter waiter_;
  ctl::TrafficPrinter sink_;
  RadioImage image_;
  // Before the link: its threads, which report a lost device here, end
  // with the link, before these go.
  std::mutex mutex_;
  std::condition_variable cv_;
  bool lost_ = false;
  bool returned_ = false;
  std::unique_ptr<RadioLink> link_;
  std::string watchName_;
  std::optional<DeviceNode> node_;  // the device node open now or last
  bool bootCode_ = false;            // the radio answered in its boot code
  // Last: stopped before what its callback touches goes.
  DeviceWatcher watcher_;
};

// Bank, register and span of a read or write: a bank of the register map
// with the range inside it, or (writes only) the action bank 255.
void CheckRange(std::uint8_t bank, std::uint8_t reg, std::size_t span, bool write) {
  if (span == 0) throw UsageError{"span must be at least 1"};
  if (write && bank == 0xFF) return;
  const std::optional<BankInfo> info = FindBank(bank);
  if (!info) throw UsageError{"no bank " + std::to_string(bank) + (write ? " (banks: 0-6, 16, 255)" : " (banks: 0-6, 16)")};
  if (reg >= info->length)
    throw UsageError{"bank " + std::to_string(bank) + " has registers 0-" + std::to_string(info->length - 1)};
  if (reg + span > info->length)
    throw UsageError{"register " + std::to_string(reg) + " span " + std::to_string(span) + " runs past the end of bank " +
                     std::to_string(bank) + " (" + std::to_string(info->length) + " bytes)"};
}

// diag scan ADDRS [--sweeps N] [--length L] [--delay MS] | diag poll [--count N] ...
void ValidateDiag(Options& o) {
  DiagRequest& d = o.diag;
  const std::string& action = o.args[0];
  if (action != "scan" && action != "poll") throw UsageError{"unknown diag action '" + action + "' (scan, poll)"};
  d.scan = action == "scan";
  if (d.scan) {
    if (o.args.size() != 2) throw UsageError{"diag scan needs the addresses: ADDRS like 1-60 or 1,3,7"};
    if (o.count) throw UsageError{"--count applies to diag poll only"};
    std::string error;
    const auto rows = ParseDiagAddresses(o.args[1], error);
    if (!rows) throw UsageError{error};
    d.rows = *rows;
    if (o.sweeps) d.sweeps = static_cast<int>(ParseNumber(*o.sweeps, "sweeps", 1000000));
    if (d.sweeps < 1) throw UsageError{"bad sweeps: 0"};
  } else {
    if (o.args.size() != 1) throw UsageError{"diag poll takes no addresses: it sends to the base"};
    if (o.sweeps) throw UsageError{"--sweeps applies to diag scan only"};
    if (o.count) d.count = static_cast<int>(ParseNumber(*o.count, "count", 100000000));
    if (d.count < 1) throw UsageError{"bad count: 0"};
  }
  if (o.length) d.length = static_cast<std::uint8_t>(ParseNumber(*o.length, "length (0-96)", diag::kMaxTestBytes));
  if (o.delay) d.delayMs = static_cast<int>(ParseNumber(*o.delay, "delay", 3600000));
}

// Checks every argument of the command and keeps what it means in `o`, so
// that a mistake ends the program before the port is touched.
void ValidateArgs(Options& o) {
  static const std::map<std::string, std::pair<std::size_t, std::size_t>> arity{
      {"enter", {0, 0}}, {"exit", {0, 0}},     {"reset", {0, 0}},  {"get", {3, 3}},     {"set", {3, 64}},
      {"read-all", {0, 0}}, {"status", {0, 0}}, {"send", {1, 64}}, {"monitor", {1, 1}},
      {"config", {1, 65}}, {"defaults", {0, 0}}, {"mac", {1, 1}}, {"fcc", {1, 1}}, {"firmware", {2, 2}},
      {"diag", {1, 2}},
  };
  auto it = arity.find(o.command);
  if (it == arity.end()) throw UsageError{"unknown command '" + o.command + "'"};
  RequireArgs(o, it->second.first, it->second.second);
  if (o.remote && o.command != "get" && o.command != "set" && o.command != "read-all" && o.command != "config" &&
      o.command != "defaults" && o.command != "fcc")
    throw UsageError{"--remote applies to get, set, read-all, config, defaults and fcc only"};
  const std::string action = o.command == "config" ? o.args[0] : "";
  if (o.command == "config" && action != "show" && action != "set" && action != "save" && action != "diff" &&
      action != "load")
    throw UsageError{"unknown config action '" + action + "' (show, set, save, diff, load)"};
  if (action == "show") RequireArgs(o, 1, 1);
  if (action == "save" || action == "diff" || action == "load") RequireArgs(o, 2, 2);
  const bool setting = action == "set" || action == "load" || o.command == "defaults";
  if (o.reset && !setting) throw UsageError{"--reset applies to config set, config load and defaults only"};
  std::optional<std::string> bad;
  if (action == "set")
    bad = ctl::CheckAssignments({o.args.begin() + 1, o.args.end()}, o.assignments);
  else if (action == "diff" || action == "load") {
    if (auto why = ctl::CheckProfile(WorkDir(std::filesystem::current_path()), o.args[1], o.assignments))
      throw UsageError{*why, true};
  }
  else if (o.command == "mac")
    bad = ctl::CheckMac(o.args[0]);
  else if (o.command == "fcc")
    bad = ctl::CheckFccMode(o.args[0], o.fccMode);
  if (bad) throw UsageError{*bad};
  if (o.text && o.command != "send") throw UsageError{"--text applies to send only"};
  if (o.firmware.recover && (o.command != "firmware" || o.args[0] != "program"))
    throw UsageError{"--recover applies to firmware program only"};
  if (o.firmware.raw && (o.command != "firmware" || o.args[0] != "verify"))
    throw UsageError{"--raw applies to firmware verify only (the boot code takes the first 128 bytes of a file to "
                     "program as its header, which a saved image lacks)"};
  if ((o.sweeps || o.count || o.length || o.delay) && o.command != "diag")
    throw UsageError{"--sweeps, --count, --length and --delay apply to diag only"};
  if (o.command == "diag") ValidateDiag(o);
  if (o.command == "send" && !o.text && o.args.size() < 2) throw UsageError{"send needs data: HEX... or --text TEXT"};

  PacketRecord& rec = o.rec;
  if (o.command == "get" || o.command == "set") {
    rec.Bank = static_cast<std::uint8_t>(ParseNumber(o.args[0], "bank", 255));
    rec.Register = static_cast<std::uint8_t>(ParseNumber(o.args[1], "register", 255));
    if (o.remote) rec.NetworkAddress = *o.remote;
  }
  if (o.command == "get") {
    const std::uint32_t span = ParseNumber(o.args[2], "span", 255);
    CheckRange(rec.Bank, rec.Register, span, false);
    rec.Span = static_cast<std::uint8_t>(span);
  } else if (o.command == "set") {
    std::vector<std::uint8_t> bytes = ParseHexBytes({o.args.begin() + 2, o.args.end()});
    if (bytes.size() > 93) throw UsageError{"at most 93 bytes fit in one frame"};
    CheckRange(rec.Bank, rec.Register, bytes.size(), true);
    rec.Span = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), rec.Data.begin());
  } else if (o.command == "send") {
    rec.NetworkAddress = static_cast<std::uint16_t>(ParseNumber(o.args[0], "network address", 0xFFFF));
    std::vector<std::uint8_t> bytes;
    if (o.text) {
      if (o.args.size() != 1) throw UsageError{"send takes either hex bytes or --text"};
      bytes.assign(o.text->begin(), o.text->end());
    } else {
      bytes = ParseHexBytes({o.args.begin() + 1, o.args.end()});
    }
    if (bytes.empty()) throw UsageError{"send needs at least one data byte"};
    if (bytes.size() > 96) throw UsageError{"at most 96 data bytes fit in one frame"};
    rec.Length = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), rec.Data.begin());
  } else if (o.command == "monitor") {
    o.seconds = ParseNumber(o.args[0], "seconds", 24 * 3600);
  } else if (o.command == "firmware") {
    o.firmware.action = o.args[0];
    o.firmware.file = o.args[1];
    if (std::string why = PrepareFirmware(o.firmware); !why.empty()) throw UsageError{why, true};
  }
  if (o.reconnect && (o.command != "monitor" || o.port == "sim"))
    throw UsageError{"--reconnect applies to monitor on a device path only"};
  if (o.timestamps && o.command != "monitor") throw UsageError{"--timestamps applies to monitor only"};
  const bool jsonable = o.command == "status" || o.command == "get" || o.command == "read-all" ||
                        o.command == "monitor" || o.command == "diag" ||
                        (o.command == "config" && (action == "show" || action == "diff"));
  if (o.json && !jsonable)
    throw UsageError{"--json applies to status, get, read-all, config show, config diff, diag and monitor only"};
}

}  // namespace
}  // namespace qmx

int main(int argc, char** argv) {
  using namespace qmx;
  if (argc == 3 && std::strcmp(argv[1], "--complete") == 0) return ctl::PrintCompletion(argv[2]);
  try {
    Options o = ParseArgs(argc, argv);
    if (o.help) {
      auto it = kCommandHelp.find(o.command);
      std::fputs(it != kCommandHelp.end() ? it->second : kMainHelp, stdout);
      return kExitOk;
    }
    if (o.command.empty()) throw UsageError{"no command given"};
    ValidateArgs(o);
    Session session(o);
    return session.Run();
  } catch (const UsageError& e) {
    std::fprintf(stderr, e.content ? "qmxctl: %s\n" : "qmxctl: %s\nTry 'qmxctl --help'.\n", e.text.c_str());
    return kExitUsage;
  }
}

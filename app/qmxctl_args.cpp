#include "qmxctl_args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>

#include "config/register_map.h"
#include "link/number_text.h"
#include "link/port_detect.h"
#include "link/version.h"
#include "link/workdir.h"
#include "tools/node_scan.h"

namespace qmx::ctl {
namespace {

constexpr std::uint32_t kMaxTimeoutMs = 600000;

const char* const kMainHelp =
    "usage: qmxctl [--port PATH|sim] [--baud N] [--parity none|even|odd] [--stop 1|2]\n"
    "              [--timeout MS] [--log] [--json] [--quiet] [--version] COMMAND [ARGS]\n"
    "\n"
    "Talks to a QMX2400 radio in protocol mode. Every command except 'enter'\n"
    "and 'exit' first puts the radio into protocol mode.\n"
    "\n"
    "options:\n"
    "  --port PATH|sim   serial device, or sim for the built-in simulated module\n"
    "                    (default: $QMX_PORT, else the one USB serial adapter\n"
    "                    attached; with neither, commands that only read use sim)\n"
    "  --baud N          baud rate: 1200, 2400, 4800, 9600 (default), 14400, 19200,\n"
    "                    28800, 38400, 57600 or 115200\n"
    "  --parity P        none, even or odd (default none)\n"
    "  --stop N          stop bits, 1 or 2 (default 1)\n"
    "  --timeout MS      wait up to MS milliseconds (1-600000) for each reply before a\n"
    "                    retry, in every command (default: 1000, and 2500 for the\n"
    "                    remote forms of reset, defaults and memory save)\n"
    "  --log             write every frame to logfile.dat in the current directory\n"
    "                    (refused, exit 2, while another program logs there)\n"
    "  --json            the result as one JSON object on standard output (monitor:\n"
    "                    one per line); each command's help gives its shape\n"
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
    "  nodes [--listen SECONDS] [--scan RANGE]\n"
    "                                     the radios heard: address, MAC, name,\n"
    "                                     state, age, frames and LQI of each\n"
    "\n"
    "An option's value may also follow an '=' (--port=/dev/ttyUSB0); '--' ends the\n"
    "options. Numbers may be decimal or hex (0x12, x12, $12). 'qmxctl COMMAND --help'\n"
    "describes one command. Standard output carries the command's result only;\n"
    "messages, questions, progress and the traffic that arrives meanwhile go to\n"
    "standard error.\n"
    "\n"
    "JSON shapes, as each command's help gives them: {\"key\": TYPE, ...} with the\n"
    "types int, number, string, bool, hex (a string of hex digit pairs) and null;\n"
    "\"key\"? a key that may be missing; [TYPE] a list; {string: TYPE} an object of\n"
    "any keys; A | B either; a quoted text that very text. Keys are in snake_case;\n"
    "a number shown in hex elsewhere has its text beside it under KEY_hex.\n"
    "\n"
    "exit status:\n"
    "  0  The command succeeded (config diff: the radio holds the profile).\n"
    "  1  The radio did not answer, refused or failed the command (config diff: the\n"
    "     radio differs from the profile).\n"
    "  2  The arguments, a file or the port named were wrong, and nothing was sent\n"
    "     (config diff: also any other trouble, as diff(1) answers).\n";

std::uint32_t ParseNumber(const std::string& text, const char* what, std::uint32_t max) {
  std::int32_t v = 0;
  if (!TryTextToInt(text, v) || v < 0 || static_cast<std::uint32_t>(v) > max)
    throw UsageError{std::string("bad ") + what + ": '" + text + "'"};
  return static_cast<std::uint32_t>(v);
}

std::vector<std::uint8_t> ParseHexBytes(std::span<const std::string> words) {
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

// ---- The options -------------------------------------------------------

struct OptionSpec {
  const char* name;
  const char* valueName;  // the option that takes a value, as its error names it; null: a flag
  void (*apply)(Options& o, const std::string& value);
};

const OptionSpec kOptions[] = {
    {"--help", nullptr, [](Options& o, const std::string&) { o.help = true; }},
    {"-h", nullptr, [](Options& o, const std::string&) { o.help = true; }},
    {"--version", nullptr, [](Options& o, const std::string&) { o.version = true; }},
    {"--port", "--port",
     [](Options& o, const std::string& v) {
       if (v.empty()) throw UsageError{"--port needs a device path, or sim"};
       o.port = v;
     }},
    {"--baud", "--baud",
     [](Options& o, const std::string& v) {
       // The radio talks at these rates only: another could never answer.
       std::int32_t rate = 0;
       const auto& rates = kBaudRates;
       if (!TryTextToInt(v, rate) || std::find(std::begin(rates), std::end(rates), rate) == std::end(rates)) {
         std::string list;
         for (std::uint32_t r : rates) list += (list.empty() ? "" : ", ") + std::to_string(r);
         throw UsageError{"bad baud rate: '" + v + "' (the radio's rates: " + list + ")"};
       }
       o.line.baudRate = static_cast<std::uint32_t>(rate);
     }},
    {"--parity", "--parity",
     [](Options& o, const std::string& v) {
       if (v == "none") o.line.parity = parity::None;
       else if (v == "even") o.line.parity = parity::Even;
       else if (v == "odd") o.line.parity = parity::Odd;
       else throw UsageError{"bad parity: '" + v + "'"};
     }},
    {"--stop", "--stop",
     [](Options& o, const std::string& v) {
       if (v == "1") o.line.stopBits = stopbits::One;
       else if (v == "2") o.line.stopBits = stopbits::Two;
       else throw UsageError{"bad stop bits: '" + v + "'"};
     }},
    {"--timeout", "--timeout",
     [](Options& o, const std::string& v) {
       o.timeoutMs = ParseNumber(v, "time-out", kMaxTimeoutMs);
       if (o.timeoutMs == 0) throw UsageError{"bad time-out: 0 (1-" + std::to_string(kMaxTimeoutMs) + " ms)"};
       o.timeoutGiven = true;
     }},
    {"--json", nullptr, [](Options& o, const std::string&) { o.json = true; }},
    {"--quiet", nullptr, [](Options& o, const std::string&) { o.quiet = true; }},
    {"--timestamps", nullptr, [](Options& o, const std::string&) { o.timestamps = true; }},
    {"--reset", nullptr, [](Options& o, const std::string&) { o.reset = true; }},
    {"--log", nullptr, [](Options& o, const std::string&) { o.log = true; }},
    {"--reconnect", nullptr, [](Options& o, const std::string&) { o.reconnect = true; }},
    {"--remote", "--remote",
     [](Options& o, const std::string& v) {
       o.remote = static_cast<std::uint16_t>(ParseNumber(v, "network address", 0xFFFF));
     }},
    {"--address", "--remote",
     [](Options& o, const std::string& v) {
       o.remote = static_cast<std::uint16_t>(ParseNumber(v, "network address", 0xFFFF));
     }},
    {"--text", "--text", [](Options& o, const std::string& v) { o.text = v; }},
    {"--sweeps", "--sweeps", [](Options& o, const std::string& v) { o.sweeps = v; }},
    {"--count", "--count", [](Options& o, const std::string& v) { o.count = v; }},
    {"--length", "--length", [](Options& o, const std::string& v) { o.length = v; }},
    {"--delay", "--delay", [](Options& o, const std::string& v) { o.delay = v; }},
    {"--listen", "--listen", [](Options& o, const std::string& v) { o.listen = v; }},
    {"--scan", "--scan", [](Options& o, const std::string& v) { o.scan = v; }},
    {"--raw", nullptr, [](Options& o, const std::string&) { o.firmware.raw = true; }},
    {"--recover", nullptr, [](Options& o, const std::string&) { o.firmware.recover = true; }},
};

// The options that only some commands take, each with the complaint when
// another command is given it.
enum Opt : unsigned {
  kNone = 0,
  kRemote = 1u << 0,
  kReset = 1u << 1,
  kText = 1u << 2,
  kRecover = 1u << 3,
  kRaw = 1u << 4,
  kDiagOptions = 1u << 5,  // --sweeps, --count, --length, --delay
  kReconnect = 1u << 6,
  kTimestamps = 1u << 7,
  kNodeOptions = 1u << 8,  // --listen, --scan
  kJson = 0,  // every command answers --json
};

struct OptionRule {
  Opt opt;
  bool (*given)(const Options& o);
  const char* complaint;
};

const OptionRule kRules[] = {
    {kRemote, [](const Options& o) { return o.remote.has_value(); },
     "--remote applies to get, set, read-all, config, defaults and fcc only"},
    {kReset, [](const Options& o) { return o.reset; }, "--reset applies to config set, config load and defaults only"},
    {kText, [](const Options& o) { return o.text.has_value(); }, "--text applies to send only"},
    {kRecover, [](const Options& o) { return o.firmware.recover; }, "--recover applies to firmware program only"},
    {kRaw, [](const Options& o) { return o.firmware.raw; },
     "--raw applies to firmware verify only (the boot code takes the first 128 bytes of a file to program as its "
     "header, which a saved image lacks)"},
    {kDiagOptions, [](const Options& o) { return o.sweeps || o.count || o.length || o.delay; },
     "--sweeps, --count, --length and --delay apply to diag only"},
    {kReconnect, [](const Options& o) { return o.reconnect; }, "--reconnect applies to monitor on a device path only"},
    {kTimestamps, [](const Options& o) { return o.timestamps; }, "--timestamps applies to monitor only"},
    {kNodeOptions, [](const Options& o) { return o.listen || o.scan; }, "--listen and --scan apply to nodes only"},
};

// ---- What each command's arguments mean ----------------------------------

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

void ParseBankAndRegister(Options& o) {
  o.rec.Bank = static_cast<std::uint8_t>(ParseNumber(o.args[0], "bank", 255));
  o.rec.Register = static_cast<std::uint8_t>(ParseNumber(o.args[1], "register", 255));
  if (o.remote) o.rec.NetworkAddress = *o.remote;
}

void ParseGet(Options& o) {
  ParseBankAndRegister(o);
  const std::uint32_t span = ParseNumber(o.args[2], "span", 255);
  CheckRange(o.rec.Bank, o.rec.Register, span, false);
  o.rec.Span = static_cast<std::uint8_t>(span);
}

void ParseSet(Options& o) {
  ParseBankAndRegister(o);
  const std::vector<std::uint8_t> bytes = ParseHexBytes(std::span(o.args).subspan(2));
  if (bytes.size() > 93) throw UsageError{"at most 93 bytes fit in one frame"};
  CheckRange(o.rec.Bank, o.rec.Register, bytes.size(), true);
  o.rec.Span = static_cast<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), o.rec.Data.begin());
}

void ParseSend(Options& o) {
  if (!o.text && o.args.size() < 2) throw UsageError{"send needs data: HEX... or --text TEXT"};
  o.rec.NetworkAddress = static_cast<std::uint16_t>(ParseNumber(o.args[0], "network address", 0xFFFF));
  std::vector<std::uint8_t> bytes;
  if (o.text) {
    if (o.args.size() != 1) throw UsageError{"send takes either hex bytes or --text"};
    bytes.assign(o.text->begin(), o.text->end());
  } else {
    bytes = ParseHexBytes(std::span(o.args).subspan(1));
  }
  if (bytes.empty()) throw UsageError{"send needs at least one data byte"};
  if (bytes.size() > 96) throw UsageError{"at most 96 data bytes fit in one frame"};
  o.rec.Length = static_cast<std::uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), o.rec.Data.begin());
}

// Seconds, fractions too ("0.5"), up to a day.
double ParseSeconds(const std::string& text) {
  double seconds = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) || seconds < 0 ||
      seconds > 24 * 3600)
    throw UsageError{"bad seconds: '" + text + "' (0 to 86400, fractions too)"};
  return seconds;
}

void ParseMonitor(Options& o) { o.seconds = ParseSeconds(o.args[0]); }

// nodes [--listen SECONDS] [--scan RANGE]
void ParseNodes(Options& o) {
  if (o.listen) o.nodes.listenSeconds = ParseSeconds(*o.listen);
  if (o.scan) {
    const Result<net::AddressRange> range = net::ParseAddressRange(*o.scan);
    if (!range) throw UsageError{range.reason()};
    o.nodes.scan = *range;
  }
}

void ParseFirmware(Options& o) {
  o.firmware.action = o.args[0];
  o.firmware.file = o.args[1];
  if (std::string why = PrepareFirmware(o.firmware); !why.empty()) throw UsageError{why, true};
}

// diag scan ADDRS [--sweeps N] [--length L] [--delay MS] | diag poll [--count N] ...
void ParseDiag(Options& o) {
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

// What a file or a value holds, checked before the command's options.
void CheckConfig(Options& o) {
  const std::string& action = o.args[0];
  std::optional<std::string> bad;
  if (action == "set") bad = CheckAssignments({o.args.begin() + 1, o.args.end()}, o.assignments);
  if (bad) throw UsageError{*bad};
  if (action == "save") {
    if (o.args[1] == "-" && o.json) throw UsageError{"config save - writes the profile to standard output: no room for --json"};
    if (auto why = CheckProfileTarget(WorkDir(std::filesystem::current_path()), o.args[1]))
      throw UsageError{*why, true};
  }
  if (action == "diff" || action == "load") {
    if (auto why = CheckProfile(WorkDir(std::filesystem::current_path()), o.args[1], o.assignments))
      throw UsageError{*why, true};
  }
}

void CheckMacAddress(Options& o) {
  if (auto bad = CheckMac(o.args[0])) throw UsageError{*bad};
}

void CheckFcc(Options& o) {
  if (auto bad = CheckFccMode(o.args[0], o.fccMode)) throw UsageError{*bad};
}

// ---- The commands ---------------------------------------------------------

// An action of a command (its first argument) with the options it takes
// besides those of the command, and the number of arguments when the action
// fixes it.
struct Action {
  const char* name;
  unsigned options;
  std::size_t minArgs = 0, maxArgs = 0;  // 0, 0: as the command
};

struct Command {
  const char* name;
  std::size_t minArgs, maxArgs;
  unsigned options;                // the options every action takes
  std::vector<Action> actions;     // by the first argument
  const char* unknownAction;       // the complaint for another first argument; null: not checked here
  void (*check)(Options& o);       // what the values hold, before the options are checked
  void (*parse)(Options& o);       // what the arguments mean, after
  const char* help;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands{
      {"enter", 0, 0, kNone, {}, nullptr, nullptr, nullptr,
       "usage: qmxctl [options] enter\nPuts the radio into protocol mode (3 retries, --timeout each).\n"
       "json: {\"protocol_mode\": true}\n"
       "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
      {"exit", 0, 0, kNone, {}, nullptr, nullptr, nullptr,
       "usage: qmxctl [options] exit\nLeaves protocol mode (transparent mode follows). A radio that was out of\n"
       "it already (it answers only the request to enter) is said to be so, and\n"
       "left out of it.\n"
       "json: {\"protocol_mode\": false, \"was_out\"?: true}\n"
       "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
      {"reset", 0, 0, kNone, {}, nullptr, nullptr, nullptr,
       "usage: qmxctl [options] reset\nSoftware reset of the local radio (one try, 1000 ms or --timeout).\n"
       "json: {\"reset\": true}\n"
       "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
      {"get", 3, 3, kRemote | kJson, {}, nullptr, nullptr, ParseGet,
       "usage: qmxctl [options] get BANK REG SPAN [--remote ADDR]\n"
       "Reads SPAN registers from REG of BANK, of the local radio or of the remote\n"
       "radio at network address ADDR, and prints them as hex (a remote's LQI\n"
       "below).\n"
       "json: {\"bank\": int, \"register\": int, \"data_hex\": hex, \"lqi\"?: int}\n"
       "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
      {"set", 3, 64, kRemote, {}, nullptr, nullptr, ParseSet,
       "usage: qmxctl [options] set BANK REG HEXBYTES [--remote ADDR]\n"
       "Writes the bytes (hex digits, optionally separated by ':' or ' ') from REG\n"
       "of BANK, locally or on the remote radio at ADDR.\n"
       "json: {\"bank\": int, \"register\": int, \"length\": int, \"lqi\"?: int}\n"
       "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
      {"read-all", 0, 0, kRemote | kJson, {}, nullptr, nullptr, nullptr,
       "usage: qmxctl [options] read-all [--remote ADDR]\n"
       "Reads banks 0-6 and 16 and prints each as a hex dump (null in JSON for a\n"
       "bank that could not be read).\n"
       "json: {\"banks\": [{\"bank\": int, \"length\": int, \"data_hex\": hex | null}]}\n"
       "Exit 0 done, 1 a bank could not be read, 2 bad arguments.\n"},
      {"status", 0, 0, kJson, {}, nullptr, nullptr, nullptr,
       "usage: qmxctl [options] status\n"
       "Reads every bank of the local radio and prints device mode, PAN ID,\n"
       "channel, network address, MAC address, firmware version, link status and\n"
       "encryption. A radio in its boot code (no working firmware) prints\n"
       "'boot code' and exits 0.\n"
       "json: {\"state\": \"protocol mode\", \"device_mode\": string, \"pan_id\": int,\n"
       "  \"pan_id_hex\": string, \"channel\": int, \"channel_hex\": string,\n"
       "  \"frequency_mhz\": int, \"network_address\": int, \"network_address_hex\": string,\n"
       "  \"mac_address\": string, \"firmware_version\": string, \"link_status\": string,\n"
       "  \"encryption\": string} | {\"state\": \"boot code\"}\n"
       "Exit 0 done, 1 the radio did not answer, 2 bad arguments.\n"},
      {"config", 1, 65, kRemote,
     {{"show", kJson, 1, 1}, {"set", kReset}, {"save", kNone, 2, 2}, {"diff", kJson, 2, 2}, {"load", kReset, 2, 2}},
     "unknown config action", CheckConfig, nullptr,
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
       "FILE - is standard output (save) or standard input (diff, load).\n"
       "JSON texts are the values themselves, not their quoted profile form. A reset\n"
       "question goes to standard error with its answer; reset_needed says that the\n"
       "radio still needs one for what was written to take effect.\n"
       "json show: {\"settings\": {string: string}}\n"
       "json set, load: {\"written\": [string], \"saved\": bool, \"reset\": bool,\n"
       "  \"reset_needed\": bool}\n"
       "json save: {\"file\": string, \"bytes\": int}\n"
       "json diff: {\"differences\": [{\"key\": string, \"radio\": string, \"file\": string}]}\n"
       "Exit: show, set, save, load: 0 done, 1 the radio did not answer or refused,\n"
       "2 bad arguments or a bad profile. diff, as diff(1): 0 the radio holds the\n"
       "profile, 1 it differs, 2 any trouble.\n"},
      {"defaults", 0, 0, kRemote | kReset, {}, nullptr, nullptr, nullptr,
       "usage: qmxctl [options] defaults [--remote ADDR|--address ADDR] [--reset]\n"
       "Loads the factory defaults into the radio's working settings. With --reset\n"
       "the radio is reset so that they take effect, and (local radio) the port\n"
       "goes to 9600 baud, no parity, one stop bit.\n"
       "json: {\"defaults_loaded\": true, \"reset\": bool, \"reset_needed\": bool}\n"
       "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
      {"mac", 1, 1, kNone, {}, nullptr, CheckMacAddress, nullptr,
       "usage: qmxctl [options] mac XX:XX:XX:XX:XX:XX:XX:XX\n"
       "Writes the local radio's MAC address (most significant pair first, any\n"
       "separator) behind a factory override, and saves it.\n"
       "json: {\"mac_address\": string}\n"
       "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
      {"fcc", 1, 1, kRemote, {}, nullptr, CheckFcc, nullptr,
       "usage: qmxctl [options] fcc 1|2|4 [--remote ADDR|--address ADDR]\n"
       "Puts the radio into FCC test mode 1, 2 or 4 (behind a factory override).\n"
       "json: {\"fcc_mode\": int}\n"
       "Exit 0 done, 1 the radio did not answer or refused, 2 bad arguments.\n"},
      {"send", 1, 64, kText, {}, nullptr, nullptr, ParseSend,
       "usage: qmxctl [options] send ADDR HEX... | send ADDR --text TEXT\n"
       "Sends radio data to network address ADDR and prints the TX Status and the\n"
       "acknowledgement LQI.\n"
       "json: {\"address\": int, \"address_hex\": string, \"length\": int, \"tx_status\": int,\n"
       "  \"tx_status_text\": string, \"acknowledged\": bool, \"lqi\": int}\n"
       "Exit 0 acknowledged, 1 when the radio did not answer or reported no\n"
       "acknowledgement (the JSON is printed all the same), 2 bad arguments.\n"},
      {"monitor", 1, 1, kReconnect | kTimestamps | kJson, {}, nullptr, nullptr, ParseMonitor,
       "usage: qmxctl [options] monitor SECONDS [--reconnect] [--timestamps]\n"
       "Prints received data and network events for SECONDS seconds (fractions\n"
       "too, like 0.5). Ends at once with exit status 1 when the device vanishes;\n"
       "with --reconnect it waits for the device (by its /dev/serial/by-id name when\n"
       "it has one) to return and goes on at the same line settings. --timestamps\n"
       "starts each data line (each JSON object) with its time (ISO 8601, local,\n"
       "milliseconds). Traffic that arrived before the port was opened is dropped.\n"
       "With --json each line is one object, \"text\" being the data itself:\n"
       "json: {\"kind\": \"data\", \"time\"?: string, \"address\": int, \"address_hex\": string,\n"
       "  \"lqi\": int, \"data_hex\": hex, \"text\": string}\n"
       "  | {\"kind\": \"announce\" | \"error\", \"time\"?: string, \"code\": int,\n"
       "  \"code_hex\": string, \"text\": string, \"address\"?: int, \"address_hex\"?: string,\n"
       "  \"mac\"?: string, \"pan_id\"?: int, \"pan_id_hex\"?: string, \"channel\"?: int}\n"
       "  | {\"kind\": \"event\", \"time\"?: string, \"address\": int, \"address_hex\": string,\n"
       "  \"data_hex\": hex}\n"
       "  | {\"kind\": \"disconnect\" | \"reconnect\", \"time\"?: string, \"port\": string}\n"
       "Exit 0 when the time is up, 1 when the device went away (with --reconnect:\n"
       "when it was still away at the end).\n"},
      {"firmware", 2, 2, kNone, {{"program", kRecover}, {"verify", kRaw}}, nullptr, nullptr, ParseFirmware,
       "usage: qmxctl [options] firmware program FILE [--recover]\n"
       "       qmxctl [options] firmware verify FILE [--raw]\n"
       "       qmxctl [options] firmware save FILE\n"
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
       "json: {\"action\": string, \"file\": string, \"result\": string, \"bytes\": int,\n"
       "  \"blocks\": int, \"retries\": int, \"seconds\": number}\n"
       "Exit 1 when the radio did not answer or the operation failed, 2 when FILE\n"
       "cannot be read, is too large to program (132000 bytes or more) or too short\n"
       "to program or verify, or cannot be written (save).\n"},
      {"diag", 1, 2, kDiagOptions | kJson, {}, nullptr, nullptr, ParseDiag,
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
       "json scan: {\"addresses\": [{\"address\": int, \"rx_percent\": int,\n"
       "  \"tx_percent\": int, \"lqi\": int}]}\n"
       "json poll: {\"lqi\": int, \"success_percent\": int}\n"
       "Exit 0 done, 1 when the local radio answered none of the packets or (poll)\n"
       "the base answered none, 2 bad arguments.\n"},
      {"nodes", 0, 0, kNodeOptions | kJson, {}, nullptr, nullptr, ParseNodes,
       "usage: qmxctl [options] nodes [--listen SECONDS] [--scan RANGE]\n"
       "Lists the radios heard, one row each, as the Network tab shows them: the\n"
       "local radio first (its address and MAC read from it), then every radio\n"
       "that announced itself, sent data or an I/O event, or answered the scan,\n"
       "while the command listened for SECONDS seconds (default 2; fractions too,\n"
       "0 for none). --scan asks each address of RANGE (like 1-60 or\n"
       "0x0001-0x00FF) in turn with an empty TX Data packet, after listening; a\n"
       "radio that acknowledges is listed with the LQI of its answer. A remote\n"
       "known by its MAC stays one row when it joins again under another\n"
       "address. Names come from names.ini in the current directory ('MAC=name'\n"
       "lines, as the Network tab writes them). Ages are seconds before the list\n"
       "was printed; the mean LQI is of the last minute.\n"
       "json: {\"nodes\": [{\"address\": int, \"address_hex\": string, \"mac\": string | null,\n"
       "  \"name\": string | null, \"local\": bool, \"state\": \"joined\" | \"left\" | \"heard\",\n"
       "  \"first_seen_s_ago\": int, \"last_heard_s_ago\": int, \"frames\": int,\n"
       "  \"last_lqi\": int | null, \"mean_lqi\": number | null}],\n"
       "  \"scan\"?: {\"asked\": int, \"answered\": int}}\n"
       "Exit 0 done, 1 when the local radio did not answer (its address, or every\n"
       "packet of the scan), 2 bad arguments (a bad RANGE: nothing is sent).\n"},
  };
  return commands;
}

const Command& FindCommand(const std::string& name) {
  for (const Command& c : Commands())
    if (name == c.name) return c;
  throw UsageError{"unknown command '" + name + "'"};
}

void RequireArgs(const Options& o, std::size_t min, std::size_t max) {
  if (o.args.size() < min || o.args.size() > max) throw UsageError{"wrong number of arguments for " + o.command};
}

// The action named by the first argument, or null when the command has none
// of that name.
const Action* FindAction(const Command& c, const Options& o) {
  for (const Action& a : c.actions)
    if (!o.args.empty() && o.args[0] == a.name) return &a;
  if (c.unknownAction) {
    std::string names;
    for (const Action& a : c.actions) names += std::string(names.empty() ? "" : ", ") + a.name;
    throw UsageError{std::string(c.unknownAction) + " '" + o.args[0] + "' (" + names + ")"};
  }
  return nullptr;
}

// Refuses the options of `which` that were given to a command that does not
// take them, in the order of kRules.
void CheckOptions(const Options& o, unsigned allowed, unsigned which) {
  if (o.port == "sim") allowed &= ~static_cast<unsigned>(kReconnect);
  for (const OptionRule& rule : kRules)
    if ((which & rule.opt) && !(allowed & rule.opt) && rule.given(o)) throw UsageError{rule.complaint};
}

// The commands that change a radio or send on its behalf: a script that
// forgot --port must not be told they were done when no radio was reached.
bool ActsOnRadio(const Options& o) {
  if (o.command == "config") return o.args[0] == "set" || o.args[0] == "load";
  for (const char* name : {"set", "defaults", "mac", "fcc", "firmware", "send", "reset"})
    if (o.command == name) return true;
  return false;
}

std::string PortNames(const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& p : paths) out += (out.empty() ? "" : ", ") + p;
  return out.empty() ? "none" : out;
}

// No --port: QMX_PORT, else the one USB serial adapter attached, as the
// window preselects it. With neither, a command that only reads may use the
// built-in module (Main says so); one that acts on a radio is refused.
void ResolvePort(Options& o) {
  if (!o.port.empty()) return;
  const char* environment = std::getenv("QMX_PORT");
  const std::vector<PortInfo> ports = ListSerialPorts();
  const ImpliedPort implied = ImplyPort(environment ? environment : "", ports);
  if (!implied.path.empty()) {
    o.port = implied.path;
    return;
  }
  if (implied.adapters.size() > 1)
    throw UsageError{"several USB serial adapters are attached (" + PortNames(implied.adapters) +
                     "): name the radio's with --port or QMX_PORT"};
  if (ActsOnRadio(o)) {
    std::vector<std::string> found;
    for (const PortInfo& p : ports) found.push_back(p.path);
    std::sort(found.begin(), found.end());
    throw UsageError{"no radio port named: give --port PATH or set QMX_PORT (--port sim for the built-in "
                     "simulated module); serial ports found: " +
                     PortNames(found)};
  }
  o.port = "sim";
  o.simByDefault = true;
}

}  // namespace

Options ParseArgs(int argc, char** argv) {
  Options o;
  bool options = true;  // until "--": after it every word is an argument
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (options && a == "--") {
      options = false;
      continue;
    }
    // "--name value" or "--name=value"; "-" alone is an argument (standard
    // input or output).
    const bool option = options && a.size() > 1 && a[0] == '-';
    const std::size_t eq = option && a[1] == '-' ? a.find('=') : std::string::npos;
    const std::string name = a.substr(0, eq);
    const auto spec = std::find_if(std::begin(kOptions), std::end(kOptions),
                                   [&](const OptionSpec& s) { return option && name == s.name; });
    if (spec != std::end(kOptions)) {
      if (eq != std::string::npos && !spec->valueName) throw UsageError{name + " takes no value"};
      if (eq != std::string::npos) {
        spec->apply(o, a.substr(eq + 1));
      } else {
        if (spec->valueName && i + 1 >= argc) throw UsageError{std::string(spec->valueName) + " needs a value"};
        spec->apply(o, spec->valueName ? argv[++i] : "");
      }
      if (o.version) return o;  // the rest is not read
    } else if (option && a[1] == '-') {
      throw UsageError{"unknown option " + name};
    } else if (o.command.empty()) {
      o.command = a;
    } else {
      o.args.push_back(a);
    }
  }
  return o;
}

void ValidateArgs(Options& o) {
  const Command& c = FindCommand(o.command);
  RequireArgs(o, c.minArgs, c.maxArgs);
  CheckOptions(o, c.options, kRemote);
  const Action* action = FindAction(c, o);
  if (action && action->maxArgs) RequireArgs(o, action->minArgs, action->maxArgs);
  const unsigned allowed = c.options | (action ? action->options : kNone);
  CheckOptions(o, allowed, kReset);
  if (c.check) c.check(o);
  CheckOptions(o, allowed, kText | kRecover | kRaw | kDiagOptions | kNodeOptions);
  if (c.parse) c.parse(o);
  ResolvePort(o);
  CheckOptions(o, allowed, kReconnect | kTimestamps);
}

std::string VersionText() { return std::string("qmxctl ") + QMX_VERSION_TEXT + "\n"; }

const char* HelpText(const std::string& command) {
  for (const Command& c : Commands())
    if (command == c.name) return c.help;
  return kMainHelp;
}

}  // namespace qmx::ctl
